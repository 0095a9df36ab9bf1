// Deflate streams for the configuration block and the entries, each checked
// by the stub's own decoder before it is used.
#include <string.h>

#include <algorithm>
#include <functional>
#include <mutex>

#include <libdeflate.h>
#include <zlib.h>

#include "pack.h"
#include "platform.h"

#include "archive/archive.h"
#include "inflate/inflate.h"
#include "platform/platform.h"

namespace pack {

const char *CoderName(Coder coder)
{
    switch (coder) {
    case Coder::Libdeflate: return "libdeflate";
    case Coder::Zlib: return "zlib";
    case Coder::ZlibFixed: return "zlib-fixed";
    case Coder::Stored: return "stored-blocks";
    }
    return "?";
}

// Compressors made once and lent out, a level's to one stream at a time:
// thousands of small files would otherwise set one up each, and a
// compressor serves one stream at a time. They are kept until the program
// ends (no thread-local storage: its destructors, run as a thread ends, can
// hang the thread's join under mingw-w64's threads on Wine).
namespace {
std::mutex SpareLock;
std::vector<libdeflate_compressor *> Spare[13];
}  // namespace

static Bytes DeflateLibdeflate(const Bytes &data, int level)
{
    if (level < 0 || level > 12)
        throw PackError("libdeflate refused compression level " + std::to_string(level));
    libdeflate_compressor *compressor = nullptr;
    {
        std::lock_guard<std::mutex> hold(SpareLock);
        if (!Spare[level].empty()) {
            compressor = Spare[level].back();
            Spare[level].pop_back();
        }
    }
    if (!compressor && !(compressor = libdeflate_alloc_compressor(level)))
        throw PackError("libdeflate refused compression level " + std::to_string(level));
    struct Lent {
        libdeflate_compressor *compressor;
        int level;
        ~Lent()
        {
            std::lock_guard<std::mutex> hold(SpareLock);
            Spare[level].push_back(compressor);
        }
    } lent{compressor, level};
    Bytes out(libdeflate_deflate_compress_bound(compressor, data.size()));
    size_t n = libdeflate_deflate_compress(compressor, data.data(), data.size(), out.data(),
                                           out.size());
    if (n == 0)
        throw PackError("libdeflate failed");
    out.resize(n);
    return out;
}

static Bytes DeflateZlib(const Bytes &data, int strategy)
{
    z_stream z{};
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 9, strategy) != Z_OK)
        throw PackError("zlib failed to start");
    Bytes out(deflateBound(&z, data.size()) + 16);
    z.next_in = const_cast<uint8_t *>(data.data());
    z.avail_in = (uInt)data.size();
    z.next_out = out.data();
    z.avail_out = (uInt)out.size();
    int status = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (status != Z_STREAM_END)
        throw PackError("zlib failed");
    return out;
}

Bytes DeflateStored(const Bytes &data, bool final)
{
    Bytes out;
    size_t at = 0;
    do {
        size_t n = std::min<size_t>(data.size() - at, 65535);
        bool last = final && at + n == data.size();
        out.push_back(last ? 1 : 0);  // BFINAL, BTYPE 00, then byte-aligned
        out.push_back((uint8_t)n);
        out.push_back((uint8_t)(n >> 8));
        out.push_back((uint8_t)~n);
        out.push_back((uint8_t)(~n >> 8));
        out.insert(out.end(), data.begin() + at, data.begin() + at + n);
        at += n;
    } while (at < data.size());
    return out;
}

Bytes Deflate(const Bytes &data, Encoding encoding)
{
    switch (encoding.coder) {
    case Coder::Libdeflate: return DeflateLibdeflate(data, encoding.level);
    case Coder::Zlib: return DeflateZlib(data, Z_DEFAULT_STRATEGY);
    case Coder::ZlibFixed: return DeflateZlib(data, Z_FIXED);
    case Coder::Stored: return DeflateStored(data, true);
    }
    throw PackError("unknown coder");
}

// zlib walks the stream a block at a time (Z_BLOCK): after each
// end-of-block code, data_type holds the unused bits of the last byte taken,
// so the next block's first bit, BFINAL, is bit 8 - unused of that byte, or
// bit 0 of the next when none is unused.
void MakeNonFinal(Bytes &stream)
{
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK)
        throw PackError("zlib failed to start");
    static uint8_t junk[65536];
    z.next_in = stream.data();
    z.avail_in = (uInt)stream.size();
    size_t finalByte = 0;
    int finalBit = 0, unused = 0;
    int status;
    do {
        z.next_out = junk;
        z.avail_out = sizeof junk;
        status = inflate(&z, Z_BLOCK);
        if (status == Z_OK && (z.data_type & 128)) {
            // Bit 64: the block that just ended was the last; the stream's
            // end reports no unused bits, so they are taken here.
            unused = z.data_type & 7;
            size_t used = stream.size() - z.avail_in;
            if (!(z.data_type & 64)) {
                finalByte = unused ? used - 1 : used;
                finalBit = unused ? 8 - unused : 0;
            }
        }
    } while (status == Z_OK);
    bool ended = status == Z_STREAM_END && z.avail_in == 0;
    inflateEnd(&z);
    if (!ended || finalByte >= stream.size() || !(stream[finalByte] >> finalBit & 1))
        throw PackError("zlib does not read back a stream the packer made");
    stream[finalByte] &= (uint8_t)~(1 << finalBit);
    // An empty stored block: three zero bits, which fit in the unused bits
    // of the last byte (they are zero) or begin the next, then LEN 0, NLEN
    // 0xFFFF on the byte boundary.
    if (unused < 3)
        stream.push_back(0);
    stream.insert(stream.end(), {0, 0, 0xFF, 0xFF});
}

// ---- The stub's decoder --------------------------------------------------------

namespace {

// A stream in memory as it stands in an image: the next entry follows it,
// and the decoder may look a byte or so past its end, so a few zeros follow.
constexpr size_t kSlack = 8;

struct MemorySource : InputSource {
    const uint8_t *next;
    uint32_t left;
    uint32_t zeros;  // then as many zero bytes
};

// The decoder hands its source back as given: a MemorySource of the caller's,
// which moves on as it is read.
uint32_t ReadMemory(const InputSource *source, uint8_t *buffer, uint32_t count)
{
    MemorySource *memory = (MemorySource *)source;
    uint32_t n = std::min(count, memory->left);
    memcpy(buffer, memory->next, n);
    memory->next += n;
    memory->left -= n;
    uint32_t zeros = std::min(count - n, memory->zeros);
    memset(buffer + n, 0, zeros);
    memory->zeros -= zeros;
    return n + zeros;
}

// Output that is counted and checked, and goes nowhere.
bool Discard(OutputSink *, const uint8_t *, uint32_t) { return true; }

// Output compared as it comes with what it must be, byte for byte.
struct CompareSink : OutputSink {
    const uint8_t *next;
    const uint8_t *end;
};

bool Compare(OutputSink *sink, const uint8_t *bytes, uint32_t count)
{
    CompareSink *expected = (CompareSink *)sink;
    if (sink->Failed || count > (size_t)(expected->end - expected->next) ||
        memcmp(expected->next, bytes, count) != 0) {
        sink->Failed = true;
        return false;
    }
    expected->next += count;
    return true;
}

// The CRC table, made once for every thread; the window and the input
// buffer are each thread's.
std::once_flag TablesMade;

// Windows and input buffers lent to threads that have none of their own
// (the workers), kept for the next stream until the program ends: not
// freed as a thread ends, for the reason the compressors are not.
std::mutex BuffersLock;
std::vector<std::pair<uint8_t *, uint8_t *>> SpareBuffers;

// The decoder ready for a stream on the calling thread, for as long as it
// lives.
class DecoderAtHand {
public:
    DecoderAtHand()
    {
        std::call_once(TablesMade, MakeCrcTable);
        if (OutputWindow)
            return;  // the thread's own (PrepareStubDecoder)
        std::lock_guard<std::mutex> hold(BuffersLock);
        if (!SpareBuffers.empty()) {
            OutputWindow = SpareBuffers.back().first;
            InputBuffer = SpareBuffers.back().second;
            SpareBuffers.pop_back();
        } else {
            OutputWindow = (uint8_t *)HeapAllocZeroed(WINDOW_SIZE);  // as the stub has it
            InputBuffer = (uint8_t *)HeapAllocBlock(INPUT_SIZE);
            if (!OutputWindow || !InputBuffer) {
                HeapFreeBlock(OutputWindow);
                HeapFreeBlock(InputBuffer);
                OutputWindow = InputBuffer = nullptr;
                throw PackError("out of memory for the stub's decoder");
            }
        }
        lent_ = true;
    }
    ~DecoderAtHand()
    {
        if (!lent_)
            return;
        std::lock_guard<std::mutex> hold(BuffersLock);
        SpareBuffers.emplace_back(OutputWindow, InputBuffer);
        OutputWindow = InputBuffer = nullptr;
    }
    DecoderAtHand(const DecoderAtHand &) = delete;
    DecoderAtHand &operator=(const DecoderAtHand &) = delete;

private:
    bool lent_ = false;
};

}  // namespace

void PrepareStubDecoder()
{
    std::call_once(TablesMade, MakeCrcTable);
    if (!OutputWindow)
        OutputWindow = (uint8_t *)HeapAllocZeroed(WINDOW_SIZE);  // as the stub has it
    if (!InputBuffer)
        InputBuffer = (uint8_t *)HeapAllocBlock(INPUT_SIZE);
}

DecodeResult DecodeInMemory(const uint8_t *bytes, size_t available, uint32_t budget, const LocalHeader &header,
                            uint8_t *out)
{
    DecoderAtHand decoder;
    MemorySource source;
    source.Read = ReadMemory;
    source.next = bytes;
    source.left = (uint32_t)std::min<size_t>(available, 0xFFFFFFFFu);
    source.zeros = 0;
    MemorySink sink;
    MakeMemorySink(&sink, out, header.UncompressedSize);
    return DecodeEntry(&header, budget, &source, &sink);
}

bool StubDecodes(const Bytes &stream, const Bytes &data, uint32_t crc)
{
    if (stream.size() > 0xFFFFFFFFu - kSlack || data.size() > 0xFFFFFFFFu)
        return false;
    DecoderAtHand decoder;
    MemorySource source;
    source.Read = ReadMemory;
    source.next = stream.data();
    source.left = (uint32_t)stream.size();
    source.zeros = kSlack;
    CompareSink sink;
    sink.Take = Compare;
    sink.Count = 0;
    sink.Failed = false;
    sink.next = data.data();
    sink.end = data.data() + data.size();
    LocalHeader header = {};
    header.Method = 8;
    header.Crc32 = crc;
    header.CompressedSize = (uint32_t)stream.size();
    header.UncompressedSize = (uint32_t)data.size();
    return DecodeEntry(&header, EntryBudget(&header), &source, &sink) == DECODE_OK;
}

bool StubDecodes(const Bytes &stream, const Bytes &data)
{
    return StubDecodes(stream, data, (uint32_t)crc32(0, data.data(), (uInt)data.size()));
}

DecodeResult DecodeInPlace(FileHandle file, uint32_t dataAt, const LocalHeader &header)
{
    DecoderAtHand decoder;
    FileSource source;
    MakeFileSource(&source, file);
    OutputSink sink = {Discard, 0, false};
    SeekTo(file, dataAt);
    return DecodeEntry(&header, EntryBudget(&header), &source, &sink);
}

// ---- Entries -----------------------------------------------------------------------

Bytes CompressAccepted(const Bytes &content, int level, const std::string &name, std::ostream &log,
                       const std::function<bool(const Bytes &)> &accepts, const char **coder)
{
    const Encoding tries[] = {{Coder::Libdeflate, level}, {Coder::Zlib, 9}};
    for (const Encoding &encoding : tries) {
        Bytes stream = Deflate(content, encoding);
        if (stream.size() >= content.size())
            break;  // does not shrink: stored
        if (accepts(stream)) {
            *coder = CoderName(encoding.coder);
            return stream;
        }
        log << "brevant-pack: warning: the stub's decoder refused the " << CoderName(encoding.coder)
            << " stream of " << name << "; trying another\n";
    }
    return Bytes();
}

// A name beyond ASCII also goes into an Info-ZIP Unicode Path field
// (0x7075) in UTF-8: a name converted into a code page, so that ZIP tools
// show it right, and a UTF-8 name under bit 11 too, as Info-ZIP's unzip
// takes the names of a Windows-made archive for the OEM code page whatever
// bit 11 says, and reads this field instead. The stub skips extra fields.
void AddUnicodePath(ZipEntry &entry, const std::string &utf8)
{
    if (std::all_of(utf8.begin(), utf8.end(), [](char c) { return (uint8_t)c < 0x80; }))
        return;
    uint32_t nameCrc = (uint32_t)crc32(0, (const uint8_t *)entry.name.data(), (uInt)entry.name.size());
    size_t size = 5 + utf8.size();
    Bytes &extra = entry.extra;
    extra = {0x75, 0x70, (uint8_t)size, (uint8_t)(size >> 8), 1};
    for (int i = 0; i < 4; i++)
        extra.push_back((uint8_t)(nameCrc >> (8 * i)));
    extra.insert(extra.end(), utf8.begin(), utf8.end());
}

}  // namespace pack
