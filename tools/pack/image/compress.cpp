// Deflate streams for the configuration block and the entries, each checked
// by the stub's own decoder before it is used.
#include <string.h>

#include <algorithm>
#include <functional>
#include <mutex>

#include <libdeflate.h>
#include <zlib.h>

#include "image/image.h"

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
