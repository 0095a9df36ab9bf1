// The packer's one way into the stub's own core: its limits and constants,
// its decoder and its check of a whole archive, its reading of UTF-8. The
// packer builds what the stub reads with the stub's own routines, so that
// an image it writes is one the stub takes; nothing else in the packer
// includes the core's headers.
//
// Image layout, front to back: the stub; the configuration header ("JAVA",
// CRC-32, size) with the raw-deflate configuration block; the ZIP local
// entries; the central directory and the end record. The stub finds the
// header and the first local header by scanning its own first 60,000 bytes,
// so both must begin at offset 59,996 or less and "PK\3\4" must not occur
// before the first local header. The ZIP offsets count from the start of the
// image, so ordinary ZIP tools read the same file.
#pragma once

#include "archive/archive.h"
#include "archive/codepages.h"
#include "archive/config.h"
#include "archive/names.h"
#include "inflate/inflate.h"
#include "platform/platform.h"
#include "resources/resource.h"

#include <stdint.h>

#include <string>

#include "base/bytes.h"
#include "base/errors.h"

namespace pack {

// The stub's own limits, by the names the stub uses.
constexpr uint32_t kScanLimit = SCAN_LIMIT;
constexpr uint32_t kLastSignatureOffset = kScanLimit - 4;  // 59,996
constexpr size_t kMaxNameLength = MAX_NAME_LENGTH;
constexpr size_t kPathChars = PATH_CHARS;
constexpr int kTextSlots = CFG_ICON;  // slots 0 to 6 hold texts, slot 7 the icon
// Every signature must begin inside the scan: an image laid out to the
// packer's limits is one the stub finds.
static_assert(kLastSignatureOffset + 4 == SCAN_LIMIT, "a signature must end inside the scan");
static_assert(CONFIG_HEADER_SIZE + CONFIG_FIXED_SIZE < SCAN_LIMIT,
              "the configuration header and fixed part fit the scan");

// ---- The stub's decoder (decoder.cpp) ------------------------------------------
// Every stream is decoded by the stub's own inflater (its host build) before
// it is accepted: an image the packer writes extracts in the stub.

// Runs the stub's decoder over stream exactly as the stub would: into a
// memory sink of data.size() bytes, with the input budget of a stream of
// known size, which must end exactly at its last byte (an entry, and the
// configuration stream, which the first local header follows). True when it
// yields INFLATE_OK, fills the sink exactly, and the output and its CRC-32
// match data. On any thread; the output is compared as it comes, and never
// held. crc, when given, is data's.
bool StubDecodes(const Bytes &stream, const Bytes &data);
bool StubDecodes(const Bytes &stream, const Bytes &data, uint32_t crc);
// The stub's decoder on the raw deflate stream at bytes (available of them,
// the rest of the file behind it), into out (header.UncompressedSize bytes),
// under budget, checked against header.
DecodeResult DecodeInMemory(const uint8_t *bytes, size_t available, uint32_t budget, const LocalHeader &header,
                            uint8_t *out);
// The stub's decoder on the entry data at dataAt of file, as the extraction
// runs it (budget CompressedSize + 4, output counted and its CRC-32
// compared) with the output discarded.
DecodeResult DecodeInPlace(FileHandle file, uint32_t dataAt, const LocalHeader &header);
// Sets up what the stub's start-up prepares for its decoder (CRC table,
// window, input buffer) on the calling thread, for good. The decoding
// functions here need it on no thread: a thread without it borrows a
// window and an input buffer for the stream.
void PrepareStubDecoder();

// ---- The stub's check of the archive (archive_check.cpp) -------------------------
// What CheckArchive's result says of an archive, in words; empty for
// ARCHIVE_OK.
std::string ArchiveRefusal(ArchiveCheck result, const ArchiveSummary &archive);
// The stub's check of the whole archive on the image written at path;
// throws PackError saying what it would refuse.
void CheckWrittenArchive(const std::string &path);

// ---- UTF-8 as the stub reads it (utf8.cpp) ---------------------------------------
// Whether text is UTF-8 as the stub decodes a name with bit 11: strictly (no
// overlong form, no surrogate, nothing above U+10FFFF), and without a NUL.
bool IsUtf8(const std::string &text);
// text in UTF-16 as the stub decodes a name with bit 11; false when it is
// not UTF-8 (or holds a NUL).
bool StrictWide(const std::string &text, std::u16string *wide);
// UTF-8 as UTF-16 (StrictWide); throws PackError naming what when it is no
// UTF-8.
std::u16string Utf16(const std::string &utf8, const std::string &what);

}  // namespace pack
