// What the walk leaves out: the packer's temporary files and the image it
// is writing, found among the inputs.
#include <stdlib.h>

#include <algorithm>

#include "inputs/inputs.h"
#include "os/os.h"
#include "pe/pe.h"

namespace pack {

bool IsTemporaryName(const std::string &name, long *pid)
{
    size_t tag = name.rfind(kTemporaryTag);
    if (tag == std::string::npos || tag == 0)
        return false;
    std::string rest = name.substr(tag + sizeof kTemporaryTag - 1);  // PID-XXXXXX, as mkstemp fills it
    size_t dash = rest.find_first_not_of("0123456789");
    if (dash == 0 || dash == std::string::npos || rest[dash] != '-' || rest.size() != dash + 7)
        return false;
    for (size_t i = dash + 1; i < rest.size(); i++)
        if (!isalnum((uint8_t)rest[i]))
            return false;
    if (pid)
        *pid = strtol(rest.c_str(), nullptr, 10);
    return true;
}

bool IsImage(const std::string &path)
{
    File file(OpenForReading(path));
    if (!file.open())
        return false;
    Bytes head(kScanLimit);
    long got = ReadUpTo(file.fd(), head.data(), head.size());
    file.Close();
    head.resize(got > 0 ? (size_t)got : 0);
    PeLayout pe;
    ReadPeLayout(head, &pe);
    if (!pe.dosHeader)
        return false;
    // The configuration header ("JAVA", CRC-32, size) and its raw deflate
    // block, which the stub's decoder must inflate to that size and CRC-32.
    // The stub's scan, but every "JAVA" from the first byte on is tried
    // where the stub takes the first after the PE headers: a signed image's
    // headers may spell one, which fails to decode and is passed over, and
    // a stub holds none (CheckStub), so an image this packer made is known
    // either way.
    int32_t at = -1;
    while ((at = FindSignatureIn(head.data(), (uint32_t)head.size(), (uint32_t)(at + 1), CONFIG_SIG_LOW,
                                 CONFIG_SIG_HIGH)) >= 0) {
        size_t offset = (size_t)at;
        if (offset > kLastSignatureOffset || offset + CONFIG_HEADER_SIZE > head.size())
            break;
        LocalHeader stream = {};
        stream.Method = 8;
        stream.Crc32 = Get32(head, offset + 4);
        stream.UncompressedSize = Get32(head, offset + 8);
        if (stream.UncompressedSize == 0 || stream.UncompressedSize > kScanLimit * 32)
            continue;
        Bytes block(stream.UncompressedSize);
        size_t streamAt = offset + CONFIG_HEADER_SIZE;
        if (DecodeInMemory(&head[streamAt], head.size() - streamAt, 0, stream, block.data()) == DECODE_OK)
            return true;
    }
    return false;
}

}  // namespace pack
