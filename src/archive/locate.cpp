// The signature scan over the image and the walk over the ZIP local headers.
#include "archive.h"

#include "../platform/platform.h"

static uint16_t Get16(const uint8_t *p) { return (uint16_t)(p[0] | p[1] << 8); }

static uint32_t Get32(const uint8_t *p) { return Get16(p) | (uint32_t)Get16(p + 2) << 16; }

uint32_t HeadersEnd(const uint8_t *bytes, uint32_t count)
{
    if (count < DOS_HEADER_SIZE || Get16(bytes) != 0x5A4D)
        return 0;  // no "MZ"
    uint32_t pe = Get32(bytes + DOS_PE_OFFSET);
    if (pe > count || count - pe < PE_SIZE_OF_HEADERS + 4 || Get32(bytes + pe) != 0x4550)
        return 0;  // no "PE\0\0" within the bytes
    uint32_t end = Get32(bytes + pe + PE_SIZE_OF_HEADERS);
    return end < SCAN_LIMIT ? end : 0;
}

int32_t FindSignature(uint16_t low, uint16_t high)
{
    uint8_t buffer[SCAN_PIECE];
    uint32_t held = 0, next = 0;
    uint32_t v = 0;  // the last four bytes read, little-endian, newest on top
    uint32_t start = 0;  // no signature begins before it: the PE headers

    SeekTo(ImageFile, 0);
    for (uint32_t k = 0; k < SCAN_LIMIT; k++) {
        if (next == held) {
            held = ReadBytes(ImageFile, buffer, SCAN_PIECE);
            next = 0;
            if (held == 0)
                return -1;  // the image ended first
            if (k == 0)
                start = HeadersEnd(buffer, held);
        }
        v = (v >> 8) | ((uint32_t)buffer[next++] << 24);
        if ((v & 0xFFFF) == low && (v >> 16) == high && k >= start + 3)
            return (int32_t)k - 3;
    }
    return -1;
}

bool ReadLocalHeader(uint32_t offset, LocalHeader *header)
{
    uint8_t bytes[LOCAL_HEADER_SIZE - 4];

    SeekTo(ImageFile, offset);
    if (ReadBytes(ImageFile, bytes, 4) != 4)
        return false;
    if (Get16(bytes) != LOCAL_SIG_LOW || Get16(bytes + 2) != LOCAL_SIG_HIGH)
        return false;  // the central directory, or anything else
    if (ReadBytes(ImageFile, bytes, sizeof bytes) != sizeof bytes)
        return false;
    header->VersionNeeded = Get16(bytes + 0);
    header->GeneralFlags = Get16(bytes + 2);
    header->Method = Get16(bytes + 4);
    header->ModTime = Get16(bytes + 6);
    header->ModDate = Get16(bytes + 8);
    header->Crc32 = Get32(bytes + 10);
    header->CompressedSize = Get32(bytes + 14);
    header->UncompressedSize = Get32(bytes + 18);
    header->NameLength = Get16(bytes + 22);
    header->ExtraLength = Get16(bytes + 24);
    return true;
}

uint32_t NextHeaderOffset(uint32_t offset, const LocalHeader *header)
{
    return offset + LOCAL_HEADER_SIZE + header->NameLength + header->ExtraLength +
           header->CompressedSize;
}

uint32_t CountTotalSize(uint32_t first)
{
    uint32_t total = 0;
    LocalHeader header;

    // The extraction loop stops at a name over MAX_NAME_LENGTH too, so the
    // total counts exactly the entries that will be extracted. A step that
    // wraps around the 32-bit offsets would lead back to an earlier header and
    // walk in a circle for ever: the walk ends there as well.
    for (uint32_t h = first; ReadLocalHeader(h, &header);) {
        if (header.NameLength > MAX_NAME_LENGTH)
            break;
        total += header.UncompressedSize;
        uint32_t next = NextHeaderOffset(h, &header);
        if (next <= h)
            break;
        h = next;
    }
    return total;
}
