// The signature scan over the image and the walk over the ZIP local headers.
#include "archive.h"

#include "../platform/platform.h"

#define SCAN_PIECE 512

static uint16_t Get16(const uint8_t *p) { return (uint16_t)(p[0] | p[1] << 8); }

static uint32_t Get32(const uint8_t *p) { return Get16(p) | (uint32_t)Get16(p + 2) << 16; }

uint32_t HeadersEnd()
{
    uint8_t bytes[PE_SIZE_OF_HEADERS + 4];

    SeekTo(ImageFile, 0);
    if (ReadBytes(ImageFile, bytes, DOS_HEADER_SIZE) != DOS_HEADER_SIZE || Get16(bytes) != 0x5A4D)
        return 0;  // no "MZ"
    uint32_t pe = Get32(bytes + DOS_PE_OFFSET);
    if (pe >= SCAN_LIMIT)
        return 0;
    SeekTo(ImageFile, pe);
    if (ReadBytes(ImageFile, bytes, sizeof bytes) != sizeof bytes || Get32(bytes) != 0x4550)
        return 0;  // no "PE\0\0"
    uint32_t end = Get32(bytes + PE_SIZE_OF_HEADERS);
    return end < SCAN_LIMIT ? end : 0;
}

int32_t FindSignature(uint16_t low, uint16_t high)
{
    uint8_t buffer[SCAN_PIECE];
    uint32_t held = 0, next = 0;
    uint32_t v = 0;  // the last four bytes read, little-endian, newest on top
    uint32_t k = HeadersEnd();

    SeekTo(ImageFile, k);
    for (; k < SCAN_LIMIT; k++) {
        if (next == held) {
            held = ReadBytes(ImageFile, buffer, SCAN_PIECE);
            next = 0;
            if (held == 0)
                return -1;  // the image ended first
        }
        v = (v >> 8) | ((uint32_t)buffer[next++] << 24);
        if ((v & 0xFFFF) == low && (v >> 16) == high)
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
