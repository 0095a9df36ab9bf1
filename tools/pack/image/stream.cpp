// Writing an image straight into the output file, an entry at a time: each
// input read in pieces, its stream written where it belongs in the image,
// its local header filled in afterwards. The stub's decoder checks the
// stream of a file of one piece in memory as it is prepared, and that of a
// larger file in the image.
#include <errno.h>
#include <string.h>

#include <sstream>

#include <zlib.h>

#include "base/escape.h"
#include "image/image.h"
#include "os/os.h"

namespace pack {

namespace {

// In the image the next header follows a stream, and the decoder may look a
// byte or so past its end: zeros stand there while a stream is checked
// (as they do after a stream checked in memory).
constexpr size_t kSlack = 8;

// One input file, read in pieces. It must be the file the walk saw, opened
// without following a link that was not there then (a file swapped for a
// link to somewhere else is not read), and its size and last write must
// stay what the walk saw until it has been read to its end.
class InputFile {
public:
    explicit InputFile(const InputItem &item) : item_(item)
    {
        file_ = File(OpenForReading(item.path, item.pathIsLink));
        if (!file_.open() && errno == ELOOP && !item.pathIsLink)
            Swapped("a link now");
        if (!file_.open())
            throw PackError(item.path + ": " + strerror(errno), Failure::Io);
        FileStatus st;
        if (StatusOf(file_.fd(), &st) != 0 || st.kind != FileStatus::Regular || !SameFile(st, item.file))
            Swapped(st.kind == FileStatus::Link ? "a link now" : "another file than the one listed");
        if (st.size != item.size)
            Changed(st.size);
    }

    // The next piece of up to kChunkSize bytes; empty at the end, which must
    // be where the walk saw it.
    Bytes &Next()
    {
        size_t want = (size_t)std::min<uint64_t>(kChunkSize, item_.size - done_);
        buffer_.resize(want);
        long got = ReadUpTo(file_.fd(), buffer_.data(), want);
        if (got < 0)
            throw PackError(item_.path + ": " + strerror(errno), Failure::Io);
        if ((size_t)got < want)
            Changed(done_ + (uint64_t)got);
        done_ += want;
        if (done_ == item_.size) {
            char extra;
            if (ReadUpTo(file_.fd(), &extra, 1) > 0)
                Changed(done_ + 1);
            // Written to since the walk (a part not yet read rewritten, the
            // size kept): the bytes read may be of neither version.
            FileStatus st;
            if (StatusOf(file_.fd(), &st) != 0 || !SameContents(st, item_.file))
                Swapped("written to since the inputs were listed");
        }
        return buffer_;
    }
    bool AtEnd() const { return done_ == item_.size; }
    void Rewind()
    {
        if (!pack::Rewind(file_.fd()))
            throw PackError(item_.path + ": " + strerror(errno), Failure::Io);
        done_ = 0;
    }

private:
    [[noreturn]] void Swapped(const char *how) const
    {
        throw PackError(item_.path + ": changed while being packed (" + how + ")", Failure::Io);
    }
    [[noreturn]] void Changed(uint64_t now) const
    {
        throw PackError(item_.path + ": changed while being packed (" + std::to_string(item_.size) +
                            " bytes when the inputs were listed, " + (now > item_.size ? "more" : std::to_string(now)) +
                            " when read)",
                        Failure::Io);
    }
    const InputItem &item_;
    File file_;
    uint64_t done_ = 0;
    Bytes buffer_;
};

constexpr uint64_t kLargestOffset = 0xFFFFFFFFu;

void CheckImageSize(uint64_t size)
{
    if (size > kLargestOffset)
        throw PackError("the image would be larger than 4 GiB; offsets in it are 32-bit");
}

}  // namespace

void CheckStoredSize(uint64_t prefix, const std::vector<InputItem> &items)
{
    uint64_t size = prefix + 22;  // the end record
    for (const InputItem &item : items) {
        ZipEntry entry;
        entry.name = item.name;
        AddUnicodePath(entry, item.utf8);
        size += 30 + 46 + 2 * (entry.name.size() + entry.extra.size()) + item.size;  // local and central headers
    }
    CheckImageSize(size);
}

ImageWriter::ImageWriter(OutputImage &output, const Bytes &prefix) : out_(output) { out_.Append(prefix); }

// The stub's decoder on the entry's data in the output, as the extraction
// runs it: from the file, budget CompressedSize + 4, output counted and its
// CRC-32 compared, into nothing.
bool ImageWriter::Decodes(uint64_t dataAt, const ZipEntry &entry)
{
    static const uint8_t zeros[kSlack] = {};
    out_.WriteAt(dataAt + entry.compressedSize, zeros, kSlack);
    FileHandle image = OpenReadShared(out_.temporaryPath().c_str());
    if (image == INVALID_FILE)
        throw PackError("can't read back " + out_.temporaryPath(), Failure::Io);
    LocalHeader header = {};
    header.Method = entry.method;
    header.Crc32 = entry.crc;
    header.CompressedSize = entry.compressedSize;
    header.UncompressedSize = entry.uncompressedSize;
    bool good = DecodeInPlace(image, (uint32_t)dataAt, header) == DECODE_OK;
    CloseFile(image);
    out_.Truncate(dataAt + entry.compressedSize);
    return good;
}

PreparedEntry PrepareEntry(const InputItem &item, int level)
{
    PreparedEntry prepared;
    if (item.folder || item.size > kChunkSize)
        return prepared;
    InputFile file(item);
    prepared.content = std::move(file.Next());
    prepared.crc = (uint32_t)crc32(0, prepared.content.data(), (uInt)prepared.content.size());
    if (level != 0 && !prepared.content.empty()) {
        // The stream the image will hold, decoded here from memory as it
        // would be from the image: the zeros of kSlack after it.
        const Bytes &content = prepared.content;
        std::ostringstream warnings;
        prepared.stream = CompressAccepted(content, level, Printable(item.utf8), warnings, [&](const Bytes &s) {
            return StubDecodes(s, content, prepared.crc);
        }, &prepared.coder);
        prepared.warnings = warnings.str();
    }
    prepared.whole = true;
    return prepared;
}

void ImageWriter::WriteData(ZipEntry &entry, const InputItem &item, PreparedEntry &prepared, uint64_t dataAt,
                            int level, std::ostream &log)
{
    if (!prepared.whole)
        return WriteStreamed(entry, item, dataAt, level, log);
    const Bytes &content = prepared.content;
    entry.crc = prepared.crc;
    entry.uncompressedSize = (uint32_t)item.size;
    log << prepared.warnings;
    if (!prepared.stream.empty()) {
        // One piece: compressed whole and checked as it was prepared.
        out_.Append(prepared.stream);
        entry.method = 8;
        entry.compressedSize = (uint32_t)prepared.stream.size();
        entry.coder = prepared.coder;
        return;
    }
    out_.Append(content);
    CheckImageSize(out_.size());
    entry.method = 0;
    entry.compressedSize = entry.uncompressedSize;
    entry.coder = "stored";
}

// A file of more than one piece: each compressed on its own, the streams
// joined into one; a piece that does not shrink goes in stored blocks.
void ImageWriter::WriteStreamed(ZipEntry &entry, const InputItem &item, uint64_t dataAt, int level,
                                std::ostream &log)
{
    InputFile file(item);
    const Bytes *chunk = &file.Next();
    uint32_t crc = (uint32_t)crc32(0, chunk->data(), (uInt)chunk->size());
    entry.crc = crc;
    entry.uncompressedSize = (uint32_t)item.size;
    bool crcOfAll = file.AtEnd();  // else the first piece's alone, until every piece is read

    if (level != 0) {
        out_.Truncate(dataAt);
        bool last;
        do {
            last = file.AtEnd();
            Bytes part = Deflate(*chunk, {Coder::Libdeflate, level});
            if (part.size() >= chunk->size())
                part = DeflateStored(*chunk, last);
            else if (!last)
                MakeNonFinal(part);
            out_.Append(part);
            CheckImageSize(out_.size());
            Advance(chunk->size(), item.size);
            if (!last) {
                chunk = &file.Next();
                crc = (uint32_t)crc32(crc, chunk->data(), (uInt)chunk->size());
            }
        } while (!last);
        entry.crc = crc;
        crcOfAll = true;
        entry.method = 8;
        entry.compressedSize = (uint32_t)(out_.size() - dataAt);
        if (entry.compressedSize < item.size) {
            if (Decodes(dataAt, entry)) {
                entry.coder = CoderName(Coder::Libdeflate);
                return;
            }
            log << "brevant-pack: warning: the stub's decoder refused the stream of " << Printable(item.utf8)
                << "; storing it\n";
        }
        file.Rewind();
        chunk = &file.Next();
    }

    // Stored: the bytes as they are, read again where they were compressed.
    out_.Truncate(dataAt);
    uint32_t again = 0;
    for (;;) {
        again = (uint32_t)crc32(again, chunk->data(), (uInt)chunk->size());
        out_.Append(chunk->data(), chunk->size());
        CheckImageSize(out_.size());
        if (file.AtEnd())
            break;
        chunk = &file.Next();
    }
    if (crcOfAll && again != entry.crc)
        throw PackError(item.path + ": changed while being packed (read twice, its contents differ)", Failure::Io);
    entry.crc = again;
    entry.method = 0;
    entry.compressedSize = entry.uncompressedSize;
    entry.coder = "stored";
}

void ImageWriter::Add(const InputItem &item, int level, std::ostream &log)
{
    Add(item, PrepareEntry(item, level), level, log);
}

void ImageWriter::Add(const InputItem &item, PreparedEntry prepared, int level, std::ostream &log)
{
    if (prepared.failure)
        std::rethrow_exception(prepared.failure);
    ZipEntry entry;
    entry.name = item.name;
    entry.folder = item.folder;
    entry.flags = item.flags;
    uint32_t when = DosDateTime(item.mtime, item.utc);
    entry.date = (uint16_t)(when >> 16);
    entry.time = (uint16_t)when;
    entry.coder = "stored";
    AddUnicodePath(entry, item.utf8);

    reported_ = prepared.counted ? item.size : 0;
    uint64_t headerAt = out_.size();
    Bytes header = LocalHeaderBytes(entry);
    CheckImageSize(headerAt + header.size());
    out_.Append(header);
    if (!item.folder)
        WriteData(entry, item, prepared, out_.size(), level, log);
    Advance(item.size, item.size);
    header = LocalHeaderBytes(entry);
    out_.WriteAt(headerAt, header.data(), header.size());

    stored_ += entry.uncompressedSize;
    packed_ += entry.compressedSize;
    offsets_.push_back((uint32_t)headerAt);
    entries_.push_back(std::move(entry));
}

// Progress of the entry at hand, never beyond its size (a file read a
// second time is not counted twice).
void ImageWriter::Advance(uint64_t bytes, uint64_t size)
{
    bytes = std::min(bytes, size - reported_);
    reported_ += bytes;
    if (onBytes && bytes)
        onBytes(bytes);
}

void ImageWriter::Finish()
{
    if (entries_.empty())
        throw PackError("nothing to pack: the archive needs at least one entry");
    Bytes central = CentralDirectoryBytes(entries_, offsets_, (uint32_t)out_.size(), comment);
    CheckImageSize(out_.size() + central.size());
    out_.Append(central);
}

}  // namespace pack
