// brevant-pack: turns files and folders into one self-extracting image.
//
// Image layout, front to back: the stub; the configuration header ("JAVA",
// CRC-32, size) with the raw-deflate configuration block; the ZIP local
// entries; the central directory and the end record. The stub finds the
// header and the first local header by scanning its own first 60,000 bytes,
// so both must begin at offset 59,996 or less and "PK\3\4" must not occur
// before the first local header. The ZIP offsets count from the start of the
// image, so ordinary ZIP tools read the same file.
//
// Every stream is decoded by the stub's own inflater (its host build) before
// it is accepted: an image this library writes extracts in the stub.
#pragma once

#include "archive/archive.h"
#include "archive/config.h"
#include "archive/names.h"
#include "platform/platform.h"
#include "platform.h"

#include <stdint.h>
#include <time.h>

#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace pack {

using Bytes = std::vector<uint8_t>;

// What kind of failure stopped the packer; the command's exit code (the
// table in README says the same).
enum class Failure {
    Refused = 1,  // an input, a text, the icon, the stub or the output that can't be taken
    Usage = 2,    // the command line itself: an unknown option, a missing value, a value the option does not take
    Io = 3,       // an existing file could not be read or the output not written
};

// A rule of the stub or of the input was broken; what() says which and where.
struct PackError : std::runtime_error {
    explicit PackError(const std::string &what, Failure kind = Failure::Refused)
        : std::runtime_error(what), failure(kind) {}
    Failure failure;
    bool escaped = false;  // a line each, already Printable (Refusals)
};
// A failed system call on a path: Refused when the path is not there (or
// not what it should be), Io when it is there and can't be read.
Failure FailureOf(int error);
// Several refusals as one error: a line each (at most kMostRefusals), then
// how many there were. Its kind is the gravest of theirs.
constexpr size_t kMostRefusals = 50;
PackError Refusals(const std::vector<PackError> &errors);
// The line that ends every refused run: "N refusals; nothing was written".
std::string RefusalCount(size_t count);
// Text for a terminal: control characters and bytes that are not UTF-8 as
// \n, \r, \t or \xNN, as --describe shows them; the rest as it is.
std::string Printable(const std::string &text);

// The stub's own limits, by the names the stub uses.
constexpr uint32_t kScanLimit = SCAN_LIMIT;
constexpr uint32_t kLastSignatureOffset = kScanLimit - 4;  // 59,996
constexpr size_t kMaxNameLength = MAX_NAME_LENGTH;
constexpr size_t kPathChars = PATH_CHARS;
constexpr int kTextSlots = CFG_ICON;  // slots 0 to 6 hold texts, slot 7 the icon
// The option that fills each slot of the configuration, by CFG_* number:
// what messages about a slot name.
extern const char *const kSlotOptions[CFG_ICON + 1];
// Every signature must begin inside the scan: an image laid out to the
// packer's limits is one the stub finds.
static_assert(kLastSignatureOffset + 4 == SCAN_LIMIT, "a signature must end inside the scan");
static_assert(CONFIG_HEADER_SIZE + CONFIG_FIXED_SIZE < SCAN_LIMIT,
              "the configuration header and fixed part fit the scan");

// ---- Compression -------------------------------------------------------------
enum class Coder {
    Libdeflate,  // libdeflate at the given level (0 gives stored blocks)
    Zlib,        // zlib, best compression, default strategy
    ZlibFixed,   // zlib with fixed Huffman codes only
    Stored,      // stored deflate blocks, written here
};
struct Encoding {
    Coder coder;
    int level;
};
const char *CoderName(Coder coder);

// One raw deflate stream of data.
Bytes Deflate(const Bytes &data, Encoding encoding);
// Stored blocks of at most 65,535 bytes; with final, the last one carries
// BFINAL (an empty input is then one empty final block).
Bytes DeflateStored(const Bytes &data, bool final);
// Turns a whole raw deflate stream into the first part of a longer one: its
// last block loses BFINAL and an empty stored block ends it on a byte
// boundary, so that another stream's blocks can follow. Throws PackError.
void MakeNonFinal(Bytes &stream);

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
// What CheckArchive's result says of an archive, in words; empty for
// ARCHIVE_OK.
std::string ArchiveRefusal(ArchiveCheck result, const ArchiveSummary &archive);
// The stub's check of the whole archive on the image written at path;
// throws PackError saying what it would refuse.
void CheckWrittenArchive(const std::string &path);

// ---- Configuration block -------------------------------------------------------
struct ConfigSettings {
    uint32_t flags = 0;
    uint32_t destKind = DEST_UNIQUE_TEMP;
    std::string texts[kTextSlots]; // slots 0 to 6, UTF-8 (SFX_UTF8_TEXTS) or already in the target code page
    Bytes icon;                    // slot 7: one icon image, or empty
};
// The uncompressed block: fixed part, strings, icon last. padding zero bytes
// that no slot uses go between the strings and the icon; they change the
// block's CRC-32 and size and nothing else.
Bytes BuildConfigBlock(const ConfigSettings &settings, size_t padding = 0);

// ---- Icons ---------------------------------------------------------------------
struct IconInfo {
    int width = 0, height = 0, bitCount = 0;
    bool png = false;
};
// Checks one icon image in the CreateIconFromResource layout (BITMAPINFOHEADER
// of doubled height, colour table, XOR bits, AND bits) or PNG.
bool ReadIconImage(const uint8_t *bytes, size_t size, IconInfo *info);
// The image of an .ico file nearest to 32x32 (exactly 32x32 when there is one;
// then the deepest colour, a bitmap before a PNG). Throws PackError.
Bytes ExtractIcon(const Bytes &ico, const std::string &what, IconInfo *info = nullptr);

// One icon image made smaller without loss: a PNG deflated anew at
// libdeflate's level 12, a bitmap of 48 pixels and more as PNG where PNG
// holds it exactly; the image itself when that is not smaller.
Bytes SmallerIconImage(const Bytes &image);
// An .ico file (already checked by ExtractIcon) with only its images of at
// most most pixels (0: all), each SmallerIconImage with smaller. The result
// may hold no image.
Bytes RebuildIcon(const Bytes &ico, int most, bool smaller);

// ---- The program's own resources ----------------------------------------------------
// What Explorer, the file's properties and UAC show of the image, written
// into the stub's resource section in the image.
struct ProgramResources {
    Bytes icon;                 // an .ico file: every image into one icon group; empty: none
    std::string iconName;       // its path, for messages
    bool version = false;       // write a version resource
    uint16_t fileVersion[4] = {}, productVersion[4] = {};
    std::string fileVersionText, productVersionText;  // as given, for the string table
    std::string product, company, copyright, fileDescription;  // UTF-8
    std::string executionLevel;  // into the manifest; empty: the stub's own
    bool iconImplied = false;    // the dialog's --icon, not an --exe-icon of its own
    // The dialogs' title, banner and link (UTF-8), [0] English, [1] Japanese:
    // an empty title or banner keeps the stub's, an empty link hides it.
    std::string title[2], banner[2], link[2];
    bool dialogAsked = false;   // --title, --banner or --link, or a -ja form
    int iconMost = 0;            // --exe-icon-max: only the images up to this size; 0 all
    bool any() const;
};
// The options of the dialogs' texts, each also with "-ja".
extern const char *const kDialogOptions[3];  // --title, --banner, --link
// The resources the options give (--exe-icon, else icon; --file-version,
// --product-version, --product, --company, --copyright, --file-description,
// which defaults to the product, else to description; --execution-level).
// Throws PackError.
ProgramResources ProgramResourcesFrom(const std::map<std::string, std::string> &given, const std::string &icon,
                                      const std::string &description);
// The stub with the program's resources (BuildPrefix checks it as a stub);
// the stub as it is when there are none. --icon alone on a stub without resources is a
// warning on err.
Bytes WithProgramResources(const Bytes &stub, const ProgramResources &program, std::ostream &err);
// What an image's resources tell: the version resource's strings (key,
// UTF-8 value) and fixed file version, the manifest's execution level, the
// icon group's sizes. False when it has no readable resource section.
struct ProgramInfo {
    std::vector<std::pair<std::string, std::string>> version;
    std::string fileVersion, executionLevel;
    std::vector<std::string> icons;
    struct Dialog {
        uint32_t form = 0;  // IDD_INSTALLER, IDD_EXTRACTOR
        bool japanese = false;
        std::u16string title, banner, link;  // link: empty when none is shown
    };
    std::vector<Dialog> dialogs;
};
bool ReadProgramInfo(const Bytes &image, ProgramInfo *info);
// What keeps the program in image from starting as itself: PE headers that
// its DOS header names but that do not read, or a resource directory within
// no section; "" when nothing does (a stub without PE headers at all, as a
// test's stand-in, names none).
std::string ProgramHeadersProblem(const Bytes &image);
// The stub with its resource section laid out anew: the icon group (RT_ICON
// 1 to n, RT_GROUP_ICON 1), the version resource (RT_VERSION 1) and the
// manifest's execution level; the sections after it (only relocations)
// moved, SizeOfImage, SizeOfInitializedData and the directories updated.
// The checksum is left to WritePeChecksum. Throws PackError.
Bytes RewriteResources(const Bytes &stub, const ProgramResources &resources);
// A.B.C.D, each 0 to 65535, into parts; throws PackError naming what.
void ParseVersion(const std::string &text, const std::string &what, uint16_t parts[4]);
// UTF-8 as UTF-16; throws PackError naming what when it is no UTF-8.
std::u16string Utf16(const std::string &utf8, const std::string &what);
std::string IconSize(const IconInfo &info);  // "48x48", "256x256 PNG"

// ---- Names and inputs ------------------------------------------------------------
// The character of length bytes at at, as a refusal names it: U+003A ':'
// (a control character by its code alone).
std::string CharacterName(const std::string &utf8, size_t at, size_t length);
// Whether text is UTF-8 as the stub decodes a name with bit 11: strictly (no
// overlong form, no surrogate, nothing above U+10FFFF), and without a NUL.
bool IsUtf8(const std::string &text);
// text in UTF-16 as the stub decodes a name with bit 11; false when it is
// not UTF-8 (or holds a NUL).
bool StrictWide(const std::string &text, std::u16string *wide);
// The length of the UTF-8 sequence that starts with byte c (1 for a stray
// continuation byte, which the conversion then refuses).
size_t SequenceLength(uint8_t c);
// The code point of the length-byte sequence at at.
uint32_t CodePoint(const std::string &utf8, size_t at, size_t length);

// How names and texts are written. Code page 0, the default: as UTF-8, which
// the stub reads the same on every system (names with bit 11, texts under
// SFX_UTF8_TEXTS). Any other: converted from UTF-8 into that ANSI code page,
// which the stub reads in the system's own.
class TextEncoder {
public:
    explicit TextEncoder(int codepage = 0);
    ~TextEncoder();
    TextEncoder(const TextEncoder &) = delete;
    TextEncoder &operator=(const TextEncoder &) = delete;
    int codepage() const { return codepage_; }
    bool utf8() const { return codepage_ == 0; }
    // The length the stub gives a written text or name in its path buffers:
    // UTF-16 units for UTF-8 (two for a character beyond U+FFFF), else bytes.
    size_t Units(const std::string &written) const;
    const char *UnitName() const { return utf8() ? "UTF-16 units" : "bytes"; }
    // Throws PackError naming what when text can't be represented (in UTF-8:
    // when it is not UTF-8).
    std::string Encode(const std::string &utf8, const std::string &what) const;
    // A name: as Encode, and every character must read back as itself, so
    // that Windows creates the file the publisher named (code page 932 would
    // turn U+00A5 into the backslash byte, U+2014 into U+2015). Throws
    // PackError naming what and the character.
    std::string EncodeName(const std::string &utf8, const std::string &what) const;
    // bytes of the code page as UTF-8; false when they are not text of it
    // (code page 0, whose ANSI bytes are of no known code page: when they
    // are not ASCII).
    bool Decode(const std::string &bytes, std::string *utf8) const;
    // Whether byte begins a double-byte character in the code page.
    bool IsLeadByte(uint8_t byte) const { return lead_[byte]; }

private:
    std::string Convert(void *cd, const std::string &text) const;
    int codepage_;
    void *iconv_, *back_;
    bool lead_[256] = {};
};

struct InputItem {
    std::string name;  // archive name, UTF-8 or in the target code page, '/' separators
    std::string utf8;  // the same name as found on disk
    uint16_t flags = 0;  // its entry's general-purpose flags: ZIP_FLAG_UTF8 for a UTF-8 name
    std::string path;  // where to read it
    bool folder = false;
    uint64_t size = 0;
    time_t mtime = 0;
    bool utc = false;  // mtime given by the publisher: its DOS time in UTC, the same in every zone
    std::string link;  // the link it was reached through, or empty
    FileStatus file;   // what the walk found at path (for a link, what it leads to)
    bool pathIsLink = false;  // path itself is a link, read through it
};
// Walks the inputs. A folder is packed below its own name, or with flat its
// contents go to the top. Folders get their own entries (names ending '/').
// The file output names, when it is an earlier image (IsImage), and the
// packer's temporary files are left out; output as any other file of the
// inputs is refused. A link is packed as what it leads to when that lies in
// the inputs (or with followLinks anywhere); one that leads outside them,
// a dangling one and a loop are refused. Every refusal of a name or an
// input is collected and thrown together (Refusals). What the patterns of
// excludes match (Excluded) is neither walked nor checked; its names go to
// leftOut, a folder's with its '/'.
std::vector<InputItem> CollectInputs(const std::vector<std::string> &inputs, bool flat,
                                     const TextEncoder &encoder, const std::string &output = "",
                                     bool followLinks = false, const std::vector<std::string> &excludes = {},
                                     std::vector<std::string> *leftOut = nullptr);
// Whether one of the --exclude patterns matches the archive name (UTF-8, no
// trailing '/'), a folder's when folder is set.
bool Excluded(const std::vector<std::string> &patterns, const std::string &name, bool folder);
// The program a --run command starts (its first word, quoted or not),
// checked against the archive's entries: one that is no entry is a warning
// on err (it may be a system program), naming the entry meant where one
// matches once a folder prefix or --flat is taken into account; a relative
// path with a folder part that names no entry is refused. Throws PackError.
void CheckRunProgram(const std::string &command, const std::vector<InputItem> &items, std::ostream &err);
// What marks the packer's temporary files: NAME.brevant-tmp-PID-XXXXXX.
constexpr char kTemporaryTag[] = ".brevant-tmp-";
// Whether a file name is one of the packer's temporary files
// (NAME.brevant-tmp-PID-XXXXXX); its process id in pid.
bool IsTemporaryName(const std::string &name, long *pid = nullptr);
// Whether path is an image this packer wrote: an MZ executable with a
// configuration header within the scan whose block checks.
bool IsImage(const std::string &path);
// Checks one archive name, converted (name) and as given (utf8), against
// what Windows can create: at most 250 bytes (UTF-8: 250 UTF-16 units, and
// WideNameIsCreatable, the stub's own check, besides); no control character or
// <>:"\|?*; no byte 0x5C outside a double-byte character of the encoder's
// code page; no component "." or ".."; none ending in a dot or a space; no
// device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, COM and LPT with the
// superscripts 1-3, CONIN$, CONOUT$, any case, with or without an
// extension). Throws PackError naming utf8.
void CheckName(const std::string &name, const std::string &utf8, const TextEncoder &encoder = TextEncoder());
// A name as Windows compares names: every character of the Basic
// Multilingual Plane in its upper case.
std::string FoldCase(const std::string &utf8);

// The archive's rules on what the walk found, before anything is read: at
// least one and at most 65,535 entries, whose sizes add up to less than
// 4 GiB. Throws PackError.
void CheckInputs(const std::vector<InputItem> &items);
void CheckCountAndTotal(size_t count, uint64_t total);

// DOS date in the high 16 bits, DOS time in the low 16 bits, in local time
// or in UTC; clamped to the years 1980 to 2107 (a file's own time).
uint32_t DosDateTime(time_t when, bool utc = false);
// The time --mtime (or SOURCE_DATE_EPOCH) gives: seconds since 1970 or
// YYYY-MM-DD[THH:MM[:SS]] in UTC, a real date up to 2107-12-31 (what a DOS
// time holds); one before 1980 is 1980-01-01 00:00, and early says so.
// Throws PackError naming what.
time_t ParseTime(const std::string &text, const std::string &what, bool *early = nullptr);

// ---- Archive entries ---------------------------------------------------------
struct ZipEntry {
    std::string name;
    bool folder = false;
    uint16_t flags = 0;  // general-purpose flags: ZIP_FLAG_UTF8 or none
    uint16_t method = 0;
    uint16_t time = 0, date = 0;
    uint32_t crc = 0;
    uint32_t uncompressedSize = 0;
    uint32_t compressedSize = 0;
    Bytes extra; // extra field, the same in local and central headers
    std::string coder;  // how data was made, for reports
};
// Compresses one piece of content whole: the streams tried in order
// (libdeflate at level, then zlib), each that shrinks content handed to
// accepts (the stub's decoder run on it); the first accepted is returned,
// its coder's name in coder. Empty: store the content. Warnings go to log.
Bytes CompressAccepted(const Bytes &content, int level, const std::string &name, std::ostream &log,
                       const std::function<bool(const Bytes &)> &accepts, const char **coder);
// Adds the UTF-8 form of a converted name (an Info-ZIP Unicode Path field).
void AddUnicodePath(ZipEntry &entry, const std::string &utf8);

// ---- The image -------------------------------------------------------------------
struct ImagePlan {
    Bytes stub;
    ConfigSettings config;
    int level = 12;
    // How to try the configuration stream, in order; empty: the default list
    // starting with libdeflate at level.
    std::vector<Encoding> configEncodings;
};
struct BuiltImage {
    Bytes bytes;
    uint32_t configOffset = 0;      // the "JAVA" header
    uint32_t configSize = 0;        // uncompressed block
    uint32_t configStreamSize = 0;  // compressed block
    uint32_t firstEntryOffset = 0;  // the first local header
    Encoding configEncoding{};
    size_t configPadding = 0;
};
// What the stub joins into its 260-character path buffers, within them: the
// run command; the wait file, behind the fixed folder when there is one; the
// fixed folder with every entry name behind it; each counted as the stub
// counts it (TextEncoder::Units). Throws PackError.
void CheckPathLimits(const ConfigSettings &config, const std::vector<InputItem> &items,
                     const TextEncoder &encoder);
// The part of the image before the first entry (stub, configuration header
// and stream), which needs nothing of the entries.
BuiltImage BuildPrefix(const ImagePlan &plan);
// Refuses a fixed folder that is neither absolute (X:\..., \\server\share)
// nor begins with a %NAME% reference, or holds a '%' of no reference; warns
// on err about references to variables Windows does not always have.
void CheckFixedFolder(const std::string &path, std::ostream &err);
void CheckStub(const Bytes &stub);
// BuildPrefix with the program's resources in plan.stub; an icon whose
// images push the configuration past the scan is refused naming them.
BuiltImage BuildProgramPrefix(ImagePlan &plan, const ProgramResources &program, std::ostream &err);
// Where the stub's scans begin in image: the end of its PE headers
// (SizeOfHeaders), 0 when the headers are not sound. The headers' checksum
// and certificate fields belong to whoever signs the image: no rule looks
// at the bytes before this offset.
uint32_t HeadersEnd(const Bytes &image);
// Where a PE image's headers lie (offsets into the file), as read by
// ReadPeLayout; false when the image has no sound PE headers.
// dosHeader is set whenever the image begins with an IMAGE_DOS_HEADER ("MZ"),
// whatever follows it.
struct PeLayout {
    bool dosHeader = false;
    size_t fileHeader = 0;      // IMAGE_FILE_HEADER, after "PE\0\0"
    size_t optionalHeader = 0;  // IMAGE_OPTIONAL_HEADER32 or 64
    size_t directories = 0;     // the data directories
    uint32_t directoryCount = 0;
    size_t sectionTable = 0;
    uint32_t sections = 0;
    bool is64 = false;
};
bool ReadPeLayout(const Bytes &image, PeLayout *layout);
// Offsets of the fields the packer reads and writes, within their structures,
// named as Microsoft's winnt.h names them.
namespace image_file_header {
constexpr size_t Machine = 0, NumberOfSections = 2, SizeOfOptionalHeader = 16;
}
namespace image_optional_header {  // the same in IMAGE_OPTIONAL_HEADER32 and 64
constexpr size_t Magic = 0, SizeOfInitializedData = 8, SectionAlignment = 32, FileAlignment = 36,
                 SizeOfImage = 56, SizeOfHeaders = 60, CheckSum = 64;
}
namespace image_section_header {
constexpr size_t VirtualSize = 8, VirtualAddress = 12, SizeOfRawData = 16, PointerToRawData = 20;
}
namespace image_data_directory {
constexpr size_t VirtualAddress = 0, Size = 4;
}
constexpr uint16_t IMAGE_DOS_SIGNATURE = 0x5A4D;  // "MZ"
constexpr uint32_t IMAGE_NT_SIGNATURE = 0x4550;   // "PE\0\0"
constexpr uint16_t IMAGE_FILE_MACHINE_I386 = 0x014C;
constexpr uint16_t IMAGE_FILE_MACHINE_AMD64 = 0x8664;
constexpr uint32_t IMAGE_DIRECTORY_ENTRY_RESOURCE = 2;
constexpr uint32_t IMAGE_DIRECTORY_ENTRY_SECURITY = 4;
constexpr uint32_t IMAGE_DIRECTORY_ENTRY_BASERELOC = 5;
// A data directory's address (for the certificate table a file offset) and
// size; 0 for one the header does not have.
uint32_t PeDirectory(const Bytes &image, const PeLayout &layout, uint32_t index, uint32_t *size = nullptr);
// Refuses a stub that carries a certificate table: appending to it breaks
// the signature, and its table would lie inside the image's scan.
void CheckUnsigned(const Bytes &stub);
class OutputImage;
// Sets the PE checksum in the header of the whole image written to output,
// whose first bytes are prefix (nothing for a stub without PE headers).
void WritePeChecksum(OutputImage &output, const Bytes &prefix);
// The machine a stub (or an image) is built for, from its PE header: "x86",
// "x64", or a description of anything else.
std::string StubMachine(const Bytes &image);

// A regular file, whole; one larger than limit is refused naming what
// (empty: the path) and saying the limit. Throws PackError.
Bytes ReadWholeFile(const std::string &path, uint64_t limit = UINT64_MAX, const std::string &what = "");
// The limit of the files read whole: @FILE, --icon, --stub.
constexpr uint64_t kSmallFileLimit = 16u << 20;

// ---- The output ------------------------------------------------------------------
// Refuses, before anything is read, an output whose folder does not exist,
// one that is not a regular file (or a link to one: a folder, a device, a
// FIFO), and one that is also named as an input.
void CheckOutput(const std::string &output, const std::vector<std::string> &inputs);
// After the walk: an existing output without force.
void CheckReplace(const std::string &output, bool force);

// The image being written: a temporary file beside path
// (NAME.brevant-tmp-PID-XXXXXX, see IsTemporaryName), renamed to path by
// Commit; removed if Commit is never reached, and on SIGINT, SIGTERM and
// SIGHUP. Without replace, Commit does not replace a file that exists by
// then. Every failure throws PackError (Failure::Io).
class OutputImage {
public:
    OutputImage(const std::string &path, bool replace);
    ~OutputImage();
    OutputImage(const OutputImage &) = delete;
    OutputImage &operator=(const OutputImage &) = delete;
    void Append(const void *bytes, size_t count);
    void Append(const Bytes &bytes) { Append(bytes.data(), bytes.size()); }
    void WriteAt(uint64_t offset, const void *bytes, size_t count);
    void Truncate(uint64_t size);
    uint64_t size() const { return size_; }
    const std::string &temporaryPath() const { return temp_; }
    void Commit();

private:
    [[noreturn]] void Fail(const char *what) const;
    std::string path_, temp_;
    bool replace_;
    File file_;
    uint64_t size_ = 0;
    bool committed_ = false;
};
// Removes the temporary files of path whose process is gone (one killed
// outright, which had no chance to): only a regular file named exactly as
// OutputImage names them, of a process id other than 0 and 1, that holds
// the beginning of an image. Called once the new output is in place.
void RemoveStaleTemporaries(const std::string &path);

// The 30-byte local header with the entry's name and extra field, and the
// central directory (headers and end record) of entries whose local headers
// lie at offsets, beginning at centralOffset.
Bytes LocalHeaderBytes(const ZipEntry &entry);
Bytes CentralDirectoryBytes(const std::vector<ZipEntry> &entries, const std::vector<uint32_t> &offsets,
                            uint32_t centralOffset, const std::string &comment = "");
// The archive comment the packer writes: "brevant-pack VERSION; stub N
// bytes, CRC-32 XXXXXXXX", of the stub as read (before its resources).
std::string PackerComment(const Bytes &stub);
// The comment of the archive that ends the file at path; false when no end
// record ends it exactly.
bool ReadArchiveComment(const std::string &path, std::string *comment);

// Writes an image straight into output, an entry at a time, each file read
// and compressed in pieces of kChunkSize, so that memory stays small
// whatever the input: the prefix, then Add for every input, then Finish.
// A file of at most kChunkSize is compressed whole (CompressAccepted); a
// larger one in chunks whose streams are joined into one, which is stored
// when it does not shrink or the stub's decoder refuses it. Every stream is
// decoded by the stub's decoder before it is kept: a whole file's in memory
// (PrepareEntry), a larger file's where it lies in the output. Throws
// PackError.
constexpr size_t kChunkSize = 16u << 20;
// At level 0 every entry is stored: the image's size is known from the
// walk, and one over 4 GiB is refused before anything is written.
void CheckStoredSize(uint64_t prefix, const std::vector<InputItem> &items);
// What can be done for an entry before its turn, on any thread: a file of
// at most kChunkSize read whole, its CRC-32 taken and, at a level other
// than 0, its stream made and decoded by the stub's decoder
// (CompressAccepted; none when no stream shrinks it or the decoder refuses
// each). A folder, and a larger file, which the writer streams in its turn,
// are left as they are (whole false). Throws PackError as the writer would.
struct PreparedEntry {
    bool whole = false;
    Bytes content, stream;        // stream: the accepted one, or empty: stored
    const char *coder = nullptr;  // the stream's
    std::string warnings;         // for the log, when the entry is written
    uint32_t crc = 0;
    bool counted = false;        // its bytes are already in the progress
    std::exception_ptr failure;  // what stopped it, thrown when it is written
};
PreparedEntry PrepareEntry(const InputItem &item, int level);
class ImageWriter {
public:
    ImageWriter(OutputImage &output, const Bytes &prefix);
    // Adds item, prepared here and now or (its failure rethrown) before.
    void Add(const InputItem &item, int level, std::ostream &log);
    void Add(const InputItem &item, PreparedEntry prepared, int level, std::ostream &log);
    void Finish();
    // Called with the input bytes of each piece as it is done.
    std::function<void(uint64_t bytes)> onBytes;
    std::string comment;  // the archive's comment, written by Finish
    const ZipEntry &last() const { return entries_.back(); }
    size_t count() const { return entries_.size(); }
    uint64_t stored() const { return stored_; }  // the entries' sizes
    uint64_t packed() const { return packed_; }  // their data in the image

private:
    void WriteData(ZipEntry &entry, const InputItem &item, PreparedEntry &prepared, uint64_t dataAt, int level,
                   std::ostream &log);
    void WriteStreamed(ZipEntry &entry, const InputItem &item, uint64_t dataAt, int level, std::ostream &log);
    bool Decodes(uint64_t dataAt, const ZipEntry &entry);
    void Advance(uint64_t bytes, uint64_t size);
    OutputImage &out_;
    std::vector<ZipEntry> entries_;
    std::vector<uint32_t> offsets_;
    uint64_t stored_ = 0, packed_ = 0, reported_ = 0;
};

// ---- Entries prepared on several threads -------------------------------------
// Prepares the entries of items (PrepareEntry) on jobs threads ahead of the
// writer, which takes them in the archive's order, so that the image is the
// same for any number of threads. At most 32 x jobs entries are in flight
// (handed to a thread and not yet taken), holding at most jobs x kChunkSize
// bytes of content, and the next to be taken is always among them. With
// jobs 1 no thread is started: Take prepares the entry itself. onBytes hears
// of the bytes of the entries prepared (counted), on the thread that calls
// Take, at least five times a second while Take waits.
class EntryPool {
public:
    EntryPool(const std::vector<InputItem> &items, int level, unsigned jobs);
    ~EntryPool();  // each thread ends after the entry at hand
    EntryPool(const EntryPool &) = delete;
    EntryPool &operator=(const EntryPool &) = delete;
    // The prepared entry of items[index], for index 0, 1, 2, ... in turn.
    PreparedEntry Take(size_t index);
    size_t threads() const;
    std::function<void(uint64_t bytes)> onBytes;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// ---- The progress line -----------------------------------------------------------
// A progress line on a terminal for packs that take more than a second:
// bytes done of the total and the file at hand, redrawn at most five times
// a second, never wider than the terminal; cleared before any message
// (Clear) and when it goes.
class Progress {
public:
    Progress(const std::vector<InputItem> &items, bool shown, std::ostream &err);
    ~Progress() { Clear(); }
    Progress(const Progress &) = delete;
    Progress &operator=(const Progress &) = delete;
    void Start(const InputItem &item);
    void Advance(uint64_t bytes);
    void Clear();

private:
    void Draw();
    bool shown_, drawn_ = false;
    std::ostream &err_;
    double began_, last_ = 0;
    uint64_t total_ = 0, done_ = 0;
    std::string name_;
};
// The end of text (UTF-8) within columns of a terminal: all of it, or "..."
// and as many whole characters from its end as fit; empty when not even
// that fits.
std::string FitFromEnd(const std::string &text, size_t columns);

// ---- Describing an image -------------------------------------------------------
// Prints an image's configuration and entries, reading it with the stub's own
// routines, and checks every entry's stream; 0 when everything checks.
// Texts and names are printed in UTF-8: names with bit 11 and texts under
// SFX_UTF8_TEXTS as they are; other names from their Unicode Path field,
// otherwise, as other texts, converted from codepage (0: bytes beyond ASCII
// as \xNN). With json, one JSON object instead of the table.
int DescribeImage(const std::string &path, std::ostream &out, std::ostream &err, int codepage = 0,
                  bool json = false);

// ---- The command -----------------------------------------------------------------
// The whole command line (without the program name); the exit code.
int PackMain(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

}  // namespace pack
