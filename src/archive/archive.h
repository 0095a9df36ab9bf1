// Finding what was appended to the image, checking the archive against its
// central directory, and walking the ZIP local entries.
//
// Image layout: the stub, the configuration header ("JAVA", CRC-32, size) with
// its raw-deflate block, then ZIP local entries, the central directory and
// the end record with the archive's comment; in a signed image, then the
// certificate table. Both signatures must begin after the PE headers and
// within the first SCAN_LIMIT bytes. Signatures are always handled as two
// 16-bit halves so that the stub itself never holds one whole.
#pragma once

#include <stdint.h>

#include "../inflate/inflate.h"

#define SCAN_LIMIT 60000
#define SCAN_PIECE 512  // the directory check reads the image in pieces of this size

#define CONFIG_SIG_LOW 0x414A   // "JA"
#define CONFIG_SIG_HIGH 0x4156  // "VA"
#define LOCAL_SIG_LOW 0x4B50    // "PK"
#define LOCAL_SIG_HIGH 0x0403   // "\3\4"
#define CENTRAL_SIG_HIGH 0x0201 // "PK\1\2", the central directory
#define END_SIG_HIGH 0x0605     // "PK\5\6", the end record

#define MAX_NAME_LENGTH 250
#define LOCAL_HEADER_SIZE 30

// The 26 bytes of a ZIP local header that follow its signature, in the
// file's own layout (little-endian, as Windows and every host of ours are;
// 2-byte aligned), so that they are copied in as they are read.
#pragma pack(push, 2)
struct LocalHeader {
    uint16_t VersionNeeded;
    uint16_t GeneralFlags;
    uint16_t Method;
    uint16_t ModTime;
    uint16_t ModDate;
    uint32_t Crc32;
    uint32_t CompressedSize;
    uint32_t UncompressedSize;
    uint16_t NameLength;
    uint16_t ExtraLength;
};
#pragma pack(pop)
static_assert(sizeof(LocalHeader) == 26, "a local header as the file holds it");

// The PE headers as far as the scans need them: the DOS header's offset of
// the PE header, and SizeOfHeaders counted from the PE signature (4 bytes,
// the 20-byte file header, then offset 60 of the optional header, the same
// in 32-bit and 64-bit images).
#define DOS_HEADER_SIZE 64
#define DOS_PE_OFFSET 0x3C
#define PE_SIZE_OF_HEADERS 84

// Where both scans begin: the end of the image's PE headers (SizeOfHeaders),
// read from the image's first count bytes (the scans give it the first
// SCAN_PIECE at most). A signing tool writes the checksum and the
// certificate table's offset into the headers after packing, and those
// bytes may spell either signature; no byte of the headers is ever the
// configuration's or the archive's. 0 for an image without an "MZ" header
// and a "PE" header within those bytes, or with a SizeOfHeaders beyond the
// scan: such an image is scanned from its start.
uint32_t HeadersEnd(const uint8_t *bytes, uint32_t count);

// Offset of the first occurrence of the signature (two little-endian
// halves) that begins at from or later and ends within the count bytes, or
// -1. The one scan: the stub's over its image's first bytes, the packer's
// over a stub or an image it holds.
int32_t FindSignatureIn(const uint8_t *bytes, uint32_t count, uint32_t from, uint16_t low, uint16_t high);

// Every reading routine here takes the image it reads (the stub's own
// ImageFile, or an image the packer checks) and moves its file position.

// Offset of the first occurrence of the signature between HeadersEnd() and
// the end of the image's first SCAN_LIMIT bytes, or -1.
int32_t FindSignature(FileHandle image, uint16_t low, uint16_t high);

// What the walk finds at an offset.
enum WalkStep {
    WALK_ENTRY,   // a local header, read whole, with its name
    WALK_END,     // the central directory or the end record: every entry was walked
    WALK_BROKEN,  // anything else: the image was cut short or a header is damaged
};

// Reads the local header at offset with its name, in one read, into header
// and a buffer of this file's: the name's bytes there, terminated, which
// follow the header's 30 bytes as read (until the next call); null when no
// local header stands there, whole with its name. A name of more than
// MAX_UTF8_NAME_LENGTH bytes is held cut to that many.
const char *ReadLocalEntry(FileHandle image, uint32_t offset, LocalHeader *header);
// Whether the entry's name is one a path can hold: at most 250 bytes, 777
// for a UTF-8 name. A longer one is walked but never created.
bool NameFits(const LocalHeader *header);
// What the walk finds at offset, the local header read into header; the
// name is not read (--describe).
WalkStep ReadLocalHeader(FileHandle image, uint32_t offset, LocalHeader *header);

// Offset of the next local header after the entry at offset (the walk rule);
// 0 when the step would wrap around the 32-bit offsets and lead back to an
// earlier header, walking in a circle.
uint32_t NextHeaderOffset(uint32_t offset, const LocalHeader *header);

// What CheckArchive found.
struct ArchiveSummary {
    uint32_t First;      // the first local header
    uint32_t Directory;  // the central directory, where the walk ends
    uint32_t Entries;    // entries that agree with their records (on a
                         // failure, those before the one that failed)
    uint32_t TotalSize;  // the sum of their uncompressed sizes
};

enum ArchiveCheck {
    ARCHIVE_OK,               // the walk and the directory agree throughout
    ARCHIVE_NO_ENTRIES,       // no local header among the first SCAN_LIMIT bytes
    ARCHIVE_NO_END_RECORD,    // no end record ends the archive (missing, cut,
                              // a comment that runs past the end, more behind it)
    ARCHIVE_ZIP64,            // ZIP64 markers, or a part of an archive on several disks
    ARCHIVE_DATA_DESCRIPTOR,  // an entry whose sizes follow its data (bit 3)
    ARCHIVE_BAD_DIRECTORY,    // a record cut or damaged, or the directory not
                              // ending where the end record begins
    ARCHIVE_DISAGREES,        // a local header missing, not at its record's
                              // offset, or unlike its record (name bytes,
                              // bit 11, method, CRC-32, sizes); a local entry
                              // that no record lists
};

// Checks the whole archive before anything is created from it: the end
// record, found back from the archive's end (the file's, or where a signed
// image's certificate table begins) over the longest comment; then the
// central directory, read in pieces beside the walk over the local headers
// from the first, which must agree record by record and end exactly where the
// directory begins, the directory where the end record begins. Memory stays
// bounded: no table of the entries is kept.
ArchiveCheck CheckArchive(FileHandle image, ArchiveSummary *archive);

// The sources and sinks of DecodeEntry.
// The program's own image, ImageFile, from where it stands.
extern const InputSource ImageSource;
// A file from where it stands.
struct FileSource : InputSource {
    FileHandle File;
};
void MakeFileSource(FileSource *source, FileHandle file);
// A block of memory of size bytes; more output than it holds fails it
// before any byte of that flush is copied, and ends the stream.
struct MemorySink : OutputSink {
    uint8_t *Next;
    uint8_t *End;
};
bool TakeIntoMemory(OutputSink *sink, const uint8_t *bytes, uint32_t count);
inline void MakeMemorySink(MemorySink *sink, uint8_t *block, uint32_t size)
{
    sink->Take = TakeIntoMemory;
    sink->Count = 0;
    sink->Failed = false;
    sink->Next = block;
    sink->End = block + size;
}
// What became of one stream decoded by DecodeEntry.
enum DecodeResult {
    DECODE_OK = 0,        // decoded, exactly the expected size, CRC-32 matches
    DECODE_BAD_DATA,      // the decoder refused the stream, or it did not
                          // end where its data ends
    DECODE_CRC_MISMATCH,  // decoded, but the CRC-32 differs from the stored one
    DECODE_WRITE_FAILED,  // the sink did not take the output: a write to a
                          // file failed or fell short, or more output than
                          // a memory block holds
    DECODE_SHORT,         // fewer bytes than expected, or a stored entry whose
                          // sizes disagree
    DECODE_READ_ERROR,    // the source ended or failed before the stream did:
                          // the stub's "Error reading from archive."
};

// Decodes the data of one entry, which starts where source stands: a raw
// deflate stream (Method 8) or stored bytes (Method 0), into sink.
// budget is the decoder's input budget: CompressedSize + BUDGET_SLACK for a
// stream of known size (every archive entry, and the configuration stream
// where the first local header follows it), which must then end exactly
// after CompressedSize bytes, else it is bad data; 0 lets a stream run until
// it ends itself. What reaches the sink is checked against the header's
// UncompressedSize and Crc32. Nothing here ends the process: the caller
// decides what a result means.
DecodeResult DecodeEntry(const LocalHeader *header, uint32_t budget, const InputSource *source,
                         OutputSink *sink);
// The input budget of an entry's data: CompressedSize + BUDGET_SLACK, held at
// the largest budget for a size within the slack of 4 GiB. Wrapped around,
// such a size (the ZIP64 marker 0xFFFFFFFF among them) would leave a budget
// of a few bytes, and a stored entry would then be written out as gigabytes
// of zeros; held, its copy reads on to the end of the image and stops there.
uint32_t EntryBudget(const LocalHeader *header);
