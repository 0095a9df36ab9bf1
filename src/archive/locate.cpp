// The signature scan over the image and the walk over the ZIP local headers.
#include "archive.h"
#include "names.h"

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

int32_t FindSignatureIn(const uint8_t *bytes, uint32_t count, uint32_t from, uint16_t low, uint16_t high)
{
    for (uint32_t at = from; count >= 4 && at <= count - 4; at++)
        if (Get16(bytes + at) == low && Get16(bytes + at + 2) == high)
            return (int32_t)at;
    return -1;
}

// The image's first SCAN_LIMIT bytes, read whole for each scan.
static uint8_t ScanBytes[SCAN_LIMIT];

int32_t FindSignature(FileHandle image, uint16_t low, uint16_t high)
{
    SeekTo(image, 0);
    uint32_t held = ReadBytes(image, ScanBytes, SCAN_LIMIT);
    uint32_t start = HeadersEnd(ScanBytes, held < SCAN_PIECE ? held : SCAN_PIECE);
    return FindSignatureIn(ScanBytes, held, start, low, high);
}

// The local header and the name last read, with room for the longest name
// a walk takes and its terminating zero.
static uint8_t EntryBytes[LOCAL_HEADER_SIZE + MAX_UTF8_NAME_LENGTH + 1];

const char *ReadLocalEntry(FileHandle image, uint32_t offset, LocalHeader *header)
{
    const uint8_t *bytes = EntryBytes;
    SeekTo(image, offset);
    uint32_t got = ReadBytes(image, EntryBytes, LOCAL_HEADER_SIZE + MAX_UTF8_NAME_LENGTH);
    if (got < LOCAL_HEADER_SIZE || Get16(bytes) != LOCAL_SIG_LOW || Get16(bytes + 2) != LOCAL_SIG_HIGH)
        return nullptr;
    CopyBytes(header, bytes + 4, sizeof *header);
    // A name longer than any path holds (another tool's archive may have
    // one) is read as far as the buffer goes: the entry is walked and
    // checked as any other, and its name is refused as one that cannot be
    // created (NameFits).
    uint32_t length = header->NameLength;
    if (length > MAX_UTF8_NAME_LENGTH)
        length = MAX_UTF8_NAME_LENGTH;
    if (got - LOCAL_HEADER_SIZE < length)
        return nullptr;
    EntryBytes[LOCAL_HEADER_SIZE + length] = 0;
    return (const char *)bytes + LOCAL_HEADER_SIZE;
}

bool NameFits(const LocalHeader *header)
{
    // A UTF-8 name takes up to three bytes for each unit of a path.
    return header->NameLength <=
           (header->GeneralFlags & ZIP_FLAG_UTF8 ? MAX_UTF8_NAME_LENGTH : MAX_NAME_LENGTH);
}

WalkStep ReadLocalHeader(FileHandle image, uint32_t offset, LocalHeader *header)
{
    if (ReadLocalEntry(image, offset, header))
        return WALK_ENTRY;
    // An archive ends with its central directory, or with the end record
    // alone when it holds no entry. Anything else where a header should
    // stand (the end of a download cut short, bytes a damaged size leads
    // to) means entries are missing, which must not pass for the end.
    uint8_t bytes[4];
    SeekTo(image, offset);
    if (ReadBytes(image, bytes, 4) != 4 || Get16(bytes) != LOCAL_SIG_LOW)
        return WALK_BROKEN;
    uint16_t kind = Get16(bytes + 2);
    return kind == CENTRAL_SIG_HIGH || kind == END_SIG_HIGH ? WALK_END : WALK_BROKEN;
}

uint32_t NextHeaderOffset(uint32_t offset, const LocalHeader *header)
{
    uint32_t next = offset + LOCAL_HEADER_SIZE + header->NameLength + header->ExtraLength +
                    header->CompressedSize;
    return next > offset ? next : 0;
}
