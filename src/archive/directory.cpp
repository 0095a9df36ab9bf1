// The check of the whole archive before anything is created: the end record
// found back from the archive's end, the central directory read in pieces,
// and the walk over the local headers beside it, record by record.
//
// Format notes. The end record (22 bytes, "PK\5\6") is followed only by the
// archive's comment, up to 65,535 bytes, whose length is its last field:
//   4 this disk, 6 the directory's disk (both 0 in an archive of one file),
//   8 records on this disk, 10 records, 12 the directory's size, 16 its
//   offset, 20 the comment's length.
// The directory ends where the end record begins. Each record (46 bytes,
// "PK\1\2", then name, extra field and comment) repeats its local header:
//   8 flags, 10 method, 16 CRC-32, 20 compressed and 24 uncompressed size,
//   28 name, 30 extra and 32 comment length, 34 the entry's disk, 42 the
//   offset of its local header.
// Offsets count from the archive's own start: from the image's start in an
// archive that the packer wrote behind the stub, from the first local header
// in another tool's archive appended to it. The difference (the bias) is
// where the directory lies less where the end record says it lies; every
// local header must then lie at its record's offset plus the bias.
//
// ZIP64 archives mark what they hold elsewhere with 0xFFFF disks and
// 0xFFFFFFFF sizes and offsets. The disks and an uncompressed size of
// 0xFFFFFFFF are refused as such; a compressed size, an offset or a
// directory size of 0xFFFFFFFF leaves no walk that agrees. A count of 0xFFFF
// is 65,535 records only when exactly that many fill the directory up to the
// end record, as ZIP64 puts its own records between the two.
#include "archive.h"

#include "../platform/platform.h"

#define END_RECORD_SIZE 22
#define CENTRAL_RECORD_SIZE 46
#define LONGEST_COMMENT 65535
// Signing pads the image to a multiple of 8 bytes before the certificate
// table.
#define SIGNING_PADDING 7
// Enough for a record with the longest name, and for the search back over
// the longest comment in one read.
#define ARCHIVE_PIECE (CENTRAL_RECORD_SIZE + 0xFFFF)
#define ZIP_FLAG_DESCRIPTOR 0x0008  // sizes and CRC-32 follow the data

static_assert(END_RECORD_SIZE + LONGEST_COMMENT + SIGNING_PADDING <= ARCHIVE_PIECE,
              "the search back in one piece");

static uint16_t Get16(const uint8_t *p) { return (uint16_t)(p[0] | p[1] << 8); }

// Inlined: a call costs more bytes of the stub than the load.
__attribute__((always_inline)) static inline uint32_t Get32(const uint8_t *p)
{
    return Get16(p) | (uint32_t)Get16(p + 2) << 16;
}

static bool IsSignature(const uint8_t *p, uint16_t high)
{
    return Get16(p) == LOCAL_SIG_LOW && Get16(p + 2) == high;
}

static bool SameBytes(const uint8_t *a, const uint8_t *b, uint32_t count)
{
    while (count--)
        if (*a++ != *b++)
            return false;
    return true;
}

// The image's bytes from At on, Held of them. In static memory, which costs
// the image nothing.
static struct Piece {
    FileHandle File;  // the image the pieces come from
    uint32_t At;
    uint32_t Held;
    uint8_t Bytes[ARCHIVE_PIECE];
} ArchivePiece;

// The count bytes from offset on (offset + count at most end), read with
// what follows them up to end, as far as a piece goes, when they are not
// held; null when the image holds fewer.
static const uint8_t *Hold(Piece *piece, uint32_t offset, uint32_t count, uint32_t end)
{
    uint32_t into = offset - piece->At;
    if (into > piece->Held || piece->Held - into < count) {
        uint32_t want = end - offset;
        if (want > ARCHIVE_PIECE)
            want = ARCHIVE_PIECE;
        SeekTo(piece->File, offset);
        piece->Held = ReadBytes(piece->File, piece->Bytes, want);
        piece->At = offset;
        into = 0;
        if (piece->Held < count)
            return nullptr;
    }
    return piece->Bytes + into;
}

// Where the archive ends: where a signed image's certificate table begins
// (the PE headers' fifth data directory, whose address is a file offset),
// else at the file's end; *padding: how many bytes may lie between the end
// record's comment and the table. A table that does not lie within the file
// is none. An image whose size cannot be told ends at 0xFFFFFFFF, where no
// end record is found.
static void FindArchiveEnd(Piece *piece, uint32_t *end, uint32_t *padding)
{
    uint32_t size = FileLength(piece->File);
    *end = size;
    *padding = 0;
    const uint8_t *bytes = piece->Bytes;
    SeekTo(piece->File, 0);
    uint32_t count = piece->Held = ReadBytes(piece->File, piece->Bytes, SCAN_PIECE);
    piece->At = 0;
    if (HeadersEnd(bytes, count) == 0)
        return;
    // The directories follow 96 bytes of a 32-bit optional header, 112 of a
    // 64-bit one (magic 0x20B), their number in the 4 bytes before them.
    uint32_t optional = Get32(bytes + DOS_PE_OFFSET) + 24;
    uint32_t directories = optional + (Get16(bytes + optional) == 0x20B ? 112 : 96);
    if (directories + 40 > count || Get32(bytes + directories - 4) < 5)
        return;
    uint32_t at = Get32(bytes + directories + 32), length = Get32(bytes + directories + 36);
    if (length != 0 && at <= size && length <= size - at) {
        *end = at;
        *padding = SIGNING_PADDING;
    }
}

static ArchiveCheck CheckWithPiece(Piece *piece, ArchiveSummary *archive)
{
    uint32_t end, padding;
    FindArchiveEnd(piece, &end, &padding);
    if (end < archive->First + END_RECORD_SIZE)
        return ARCHIVE_NO_END_RECORD;

    // The end record: the last one behind which lie exactly its comment and
    // no more than signing's padding; never searched for before the entries.
    uint32_t span = end - archive->First;
    if (span > ARCHIVE_PIECE)
        span = ARCHIVE_PIECE;
    const uint8_t *tail = Hold(piece, end - span, span, end);
    if (!tail)
        return ARCHIVE_NO_END_RECORD;
    const uint8_t *record = tail + span - END_RECORD_SIZE + 1;
    for (;;) {
        if (record-- == tail)
            return ARCHIVE_NO_END_RECORD;
        uint32_t behind = (uint32_t)(tail + span - record) - END_RECORD_SIZE;
        uint32_t comment = Get16(record + 20);
        // A comment longer than what lies behind leaves a difference that
        // wraps around, far beyond any padding.
        if (IsSignature(record, END_SIG_HIGH) && behind - comment <= padding)
            break;
    }
    uint32_t endRecord = end - span + (uint32_t)(record - tail);
    uint32_t count = Get16(record + 10), size = Get32(record + 12), offset = Get32(record + 16);
    if (Get32(record + 4) != 0 || Get16(record + 8) != count)
        return ARCHIVE_ZIP64;  // or another disk
    // A size that puts the directory before the first entry, or the ZIP64
    // marker 0xFFFFFFFF as size or offset, leaves no record where the walk
    // can meet it.
    uint32_t directory = archive->Directory = endRecord - size;
    uint32_t bias = directory - offset;

    uint32_t local = archive->First, central = directory;
    LocalHeader header;
    while (archive->Entries != count) {
        const uint8_t *r = endRecord - central >= CENTRAL_RECORD_SIZE
                               ? Hold(piece, central, CENTRAL_RECORD_SIZE, endRecord)
                               : nullptr;
        if (!r || !IsSignature(r, CENTRAL_SIG_HIGH))
            return ARCHIVE_BAD_DIRECTORY;
        uint32_t nameLength = Get16(r + 28);
        uint32_t recordSize = CENTRAL_RECORD_SIZE + nameLength + Get16(r + 30) + Get16(r + 32);
        if (endRecord - central < recordSize)
            return ARCHIVE_BAD_DIRECTORY;  // runs into the end record
        r = Hold(piece, central, CENTRAL_RECORD_SIZE + nameLength, endRecord);
        if (!r)
            return ARCHIVE_BAD_DIRECTORY;
        // ZIP64 sets both sizes to 0xFFFFFFFF where either does not fit (a
        // compressed size of 0xFFFFFFFF alone runs past the directory).
        uint32_t uncompressed = Get32(r + 24);
        if (uncompressed == 0xFFFFFFFF)
            return ARCHIVE_ZIP64;
        if (Get16(r + 8) & ZIP_FLAG_DESCRIPTOR)
            return ARCHIVE_DATA_DESCRIPTOR;
        // The local header, as read before its name, holds what the record
        // holds from 8 to 30 (flags with bit 11, method, time and date,
        // CRC-32, sizes, name length) from 6 to 28; then the same name.
        const uint8_t *name = (const uint8_t *)ReadLocalEntry(piece->File, local, &header);
        if (Get32(r + 42) + bias != local || !name ||
            !SameBytes(name - LOCAL_HEADER_SIZE + 6, r + 8, 22) ||
            !SameBytes(name, r + CENTRAL_RECORD_SIZE, nameLength))
            return ARCHIVE_DISAGREES;
        // Data that runs past the directory keeps the walk from ending
        // there. Only a size that wraps the offsets around steps back: onto
        // a step already taken, and round the same steps again, or into
        // the entry's own header and name, which no damage makes agree.
        local = NextHeaderOffset(local, &header);
        central += recordSize;
        archive->Entries++;
        archive->TotalSize += uncompressed;
    }
    // A local entry that no record lists, or a record too many, ends the
    // walk or the directory elsewhere.
    if (local != directory)
        return ARCHIVE_DISAGREES;
    return central == endRecord ? ARCHIVE_OK : ARCHIVE_BAD_DIRECTORY;
}

ArchiveCheck CheckArchive(FileHandle image, ArchiveSummary *archive)
{
    archive->First = archive->Directory = archive->Entries = archive->TotalSize = 0;
    int32_t first = FindSignature(image, LOCAL_SIG_LOW, LOCAL_SIG_HIGH);
    if (first < 0)
        return ARCHIVE_NO_ENTRIES;
    archive->First = (uint32_t)first;
    ArchivePiece.File = image;
    ArchivePiece.Held = 0;
    return CheckWithPiece(&ArchivePiece, archive);
}
