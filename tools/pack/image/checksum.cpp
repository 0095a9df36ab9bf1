// The PE checksum of the written image, over the file as it lies on disk.
#include "image/image.h"
#include "os/os.h"
#include "pe/pe.h"

namespace pack {

void WritePeChecksum(OutputImage &output, const Bytes &prefix)
{
    // The checksum of the PE format: the file's 16-bit little-endian words
    // (a last odd byte as a word of its own) added with end-around carry,
    // the checksum field counted as zero, then the file's length added.
    PeLayout pe;
    if (!ReadPeLayout(prefix, &pe))
        return;
    size_t field = pe.optionalHeader + image_optional_header::CheckSum;
    int fd = OpenForReading(output.temporaryPath());
    if (fd < 0)
        throw PackError("can't read back " + output.temporaryPath(), Failure::Io);
    Bytes piece(1 << 20);
    uint64_t sum = 0, at = 0;
    long n;
    while ((n = ReadUpTo(fd, piece.data(), piece.size())) > 0) {
        size_t got = (size_t)n;
        for (size_t i = 0; i < 4; i++)
            if (field + i >= at && field + i < at + got)
                piece[field + i - at] = 0;
        if (got % 2)
            piece[got++] = 0;  // only the last piece can be odd
        for (size_t i = 0; i < got; i += 2)
            sum += piece[i] | piece[i + 1] << 8;
        at += got;
    }
    CloseDescriptor(fd);
    if (n < 0)
        throw PackError("can't read back " + output.temporaryPath(), Failure::Io);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    uint32_t checksum = (uint32_t)(sum + output.size());
    uint8_t bytes[4] = {(uint8_t)checksum, (uint8_t)(checksum >> 8), (uint8_t)(checksum >> 16),
                        (uint8_t)(checksum >> 24)};
    output.WriteAt(field, bytes, 4);
}

}  // namespace pack
