// The image: the stub, the configuration block and its stream placed within
// the stub's scan, the ZIP entries compressed and each checked by the stub's
// own decoder, the central directory; written to a temporary file and moved
// into place.
#pragma once

#include <stdint.h>

#include <exception>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "core/core.h"
#include "inputs/inputs.h"
#include "os/os.h"
#include "pe/pe.h"

namespace pack {

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

// The option that fills each slot of the configuration, by CFG_* number:
// what messages about a slot name.
extern const char *const kSlotOptions[CFG_ICON + 1];

// The program a --run command starts (its first word, quoted or not),
// checked against the archive's entries: one that is no entry is a warning
// on err (it may be a system program), naming the entry meant where one
// matches once a folder prefix or --flat is taken into account; a relative
// path with a folder part that names no entry is refused. Throws PackError.
void CheckRunProgram(const std::string &command, const std::vector<InputItem> &items, std::ostream &err);
// What the stub joins into its 260-character path buffers, within them: the
// run command; the wait file, behind the fixed folder when there is one; the
// fixed folder with every entry name behind it; each counted as the stub
// counts it (TextEncoder::Units). Throws PackError.
void CheckPathLimits(const ConfigSettings &config, const std::vector<InputItem> &items,
                     const TextEncoder &encoder);
// Refuses a fixed folder that is neither absolute (X:\..., \\server\share)
// nor begins with a %NAME% reference, or holds a '%' of no reference; warns
// on err about references to variables Windows does not always have.
void CheckFixedFolder(const std::string &path, std::ostream &err);

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
// The part of the image before the first entry (stub, configuration header
// and stream), which needs nothing of the entries.
BuiltImage BuildPrefix(const ImagePlan &plan);
void CheckStub(const Bytes &stub);
// BuildPrefix with the program's resources in plan.stub; an icon whose
// images push the configuration past the scan is refused naming them.
BuiltImage BuildProgramPrefix(ImagePlan &plan, const ProgramResources &program, std::ostream &err);

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
// Sets the PE checksum in the header of the whole image written to output,
// whose first bytes are prefix (nothing for a stub without PE headers).
void WritePeChecksum(OutputImage &output, const Bytes &prefix);

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

}  // namespace pack
