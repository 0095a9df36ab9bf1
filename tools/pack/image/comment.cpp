// The archive's comment: which packer and which stub made the image, so that
// a rebuild can be checked against it. The text is the same from every
// build of one version of the packer, on every platform.
//
// End record notes. The end of central directory record is 22 bytes,
// "PK\5\6" first and the comment's length last (at 20); the comment follows
// it and ends the archive, or in a signed image the part before the
// certificate table.
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include <zlib.h>

#include "image/image.h"

namespace pack {

std::string PackerComment(const Bytes &stub)
{
    char crc[16];
    snprintf(crc, sizeof crc, "%08X", (unsigned)crc32(0, stub.data(), (uInt)stub.size()));
    return std::string("brevant-pack ") + BREVANT_VERSION + "; stub " + std::to_string(stub.size()) +
           " bytes, CRC-32 " + crc;
}

bool ReadArchiveComment(const std::string &path, std::string *comment)
{
    constexpr uint32_t kEndRecord = 22, kLongestComment = 65535, kSigningPadding = 7;
    FileHandle file = OpenReadShared(path.c_str());
    if (file == INVALID_FILE)
        return false;
    // A signed image's archive ends where its certificate table begins, after
    // up to 7 zeros that signing pads with.
    uint32_t end = FileLength(file), padding = 0;
    Bytes headers(4096);
    headers.resize(ReadBytes(file, headers.data(), (uint32_t)headers.size()));
    PeLayout pe;
    uint32_t table = ReadPeLayout(headers, &pe) ? PeDirectory(headers, pe, IMAGE_DIRECTORY_ENTRY_SECURITY) : 0;
    if (table && table < end) {
        end = table;
        padding = kSigningPadding;
    }
    uint32_t span = std::min(end, kEndRecord + kLongestComment + padding);
    Bytes tail(span);
    SeekTo(file, end - span);
    bool read = ReadBytes(file, tail.data(), span) == span;
    CloseFile(file);
    if (!read)
        return false;
    // The last "PK\5\6" behind which lie exactly its comment's bytes.
    for (size_t at = tail.size() >= kEndRecord ? tail.size() - kEndRecord + 1 : 0; at-- > 0;) {
        size_t length = tail[at + 20] | tail[at + 21] << 8, behind = tail.size() - at - kEndRecord;
        if (memcmp(&tail[at], "PK\5\6", 4) == 0 && behind >= length && behind - length <= padding) {
            const uint8_t *text = &tail[at + kEndRecord];
            comment->assign(text, text + length);
            return true;
        }
    }
    return false;
}

}  // namespace pack
