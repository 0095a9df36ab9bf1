// The stub's PE headers as the packer reads them: where they end (the
// scans begin there), and what a signature leaves in them.
//
// PE format notes. The DOS header's e_lfanew (offset 0x3C) gives the offset
// of the "PE\0\0" signature; the 20-byte file header (IMAGE_FILE_HEADER)
// and the optional header follow. The optional header begins with its magic,
// 0x10B for a 32-bit image and 0x20B for a 64-bit one; SizeOfHeaders (the
// headers and section table, rounded to FileAlignment) is at offset 60 and
// CheckSum at 64 in both. The data directories follow the fixed fields, at
// offset 96 (32-bit) or 112 (64-bit), eight bytes each (address, size); the
// fifth, IMAGE_DIRECTORY_ENTRY_SECURITY, is the certificate table, whose
// "address" is a file offset.
#include "pack.h"

namespace pack {

static uint32_t Get16(const Bytes &b, size_t at) { return b[at] | b[at + 1] << 8; }
static uint32_t Get32(const Bytes &b, size_t at) { return Get16(b, at) | Get16(b, at + 2) << 16; }

uint32_t HeadersEnd(const Bytes &image)
{
    // The stub's own rule (HeadersEnd in the archive code), on the bytes.
    if (image.size() < DOS_HEADER_SIZE || Get16(image, 0) != 0x5A4D)
        return 0;
    uint32_t pe = Get32(image, DOS_PE_OFFSET);
    if (pe >= kScanLimit || image.size() < (size_t)pe + PE_SIZE_OF_HEADERS + 4 || Get32(image, pe) != 0x4550)
        return 0;
    uint32_t end = Get32(image, pe + PE_SIZE_OF_HEADERS);
    return end < kScanLimit ? end : 0;
}

}  // namespace pack
