// The archive's comment: which packer and which stub made the image, so that
// a rebuild can be checked against it. The text is the same from every
// build of one version of the packer, on every platform.
//
// End record notes. The end of central directory record is 22 bytes,
// "PK\5\6" first and the comment's length last (at 20); the comment follows
// it and ends the archive. Another tool's archive may end in a signed
// image's padding instead; that is not one of ours, and no comment is read.
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include <zlib.h>

#include "pack.h"
#include "platform/platform.h"

namespace pack {

std::string PackerComment(const Bytes &stub)
{
    char text[96];
    snprintf(text, sizeof text, "brevant-pack %s; stub %zu bytes, CRC-32 %08X", BREVANT_VERSION, stub.size(),
             (unsigned)crc32(0, stub.data(), (uInt)stub.size()));
    return text;
}

bool ReadArchiveComment(const std::string &path, std::string *comment)
{
    constexpr uint32_t kEndRecord = 22, kLongestComment = 65535;
    FileHandle file = OpenReadShared(path.c_str());
    if (file == INVALID_FILE)
        return false;
    uint32_t size = FileLength(file);
    uint32_t span = std::min(size, kEndRecord + kLongestComment);
    Bytes tail(span);
    SeekTo(file, size - span);
    bool read = ReadBytes(file, tail.data(), span) == span;
    CloseFile(file);
    if (!read)
        return false;
    // The last "PK\5\6" behind which lie exactly its comment's bytes.
    for (size_t at = tail.size() >= kEndRecord ? tail.size() - kEndRecord + 1 : 0; at-- > 0;) {
        size_t length = tail[at + 20] | tail[at + 21] << 8;
        if (memcmp(&tail[at], "PK\5\6", 4) == 0 && at + kEndRecord + length == tail.size()) {
            comment->assign(tail.begin() + (ptrdiff_t)(at + kEndRecord), tail.end());
            return true;
        }
    }
    return false;
}

}  // namespace pack
