// Helpers for the inflater's tests: the decoder's buffers, a bit writer that
// builds deflate streams by hand, and runners that inflate into memory or
// into a file and report what came out.
#pragma once

#include <gtest/gtest.h>
#include <stdint.h>
#include <fcntl.h>
#include <unistd.h>
#include <libdeflate.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "archive/archive.h"
#include "extract/progress.h"
#include "inflate/inflate_internal.h"
#include "messages/messages.h"
#include "host_testing.h"
#include "test_image.h"

namespace inflate_test {

typedef std::vector<uint8_t> Bytes;

// The sink between a test's streams, which takes nothing: every stream has
// a sink.
inline OutputSink *NoOutput()
{
    static MemorySink none;
    MakeMemorySink(&none, nullptr, 0);
    return &none;
}

// The buffers that start-up allocates for the run; static here, so that the
// heap counts of the tests see only the decoding tables.
inline void PrepareDecoder()
{
    static uint8_t window[WINDOW_SIZE];
    static uint8_t input[INPUT_SIZE];
    OutputWindow = window;
    InputBuffer = input;
    MakeCrcTable();
    if (!InternalErrorText)
        InternalErrorText = LoadResString(IDS_INTERNAL_ERROR);
    StreamSource = &ImageSource;
    StreamSink = NoOutput();
    InputBudget = 0;
    ProgressRefreshHook = nullptr;
    HostThrowOnExit();
    HostResetBoxes();
    HostAllocsUntilFailure = -1;
}

class InflateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        PrepareDecoder();
        liveAtStart_ = HostLiveBlocks;
    }
    void TearDown() override
    {
        HostAllocsUntilFailure = -1;
        ProgressRefreshHook = nullptr;
        StreamSink = NoOutput();
        InputBudget = 0;
    }
    // Every decoding table made since SetUp has been freed.
    void ExpectNoTablesLive() { EXPECT_EQ(HostLiveBlocks, liveAtStart_); }
    long liveAtStart_ = 0;
};

inline uint32_t Crc32Of(const Bytes &data)
{
    return (uint32_t)crc32(0, data.data(), (uInt)data.size());
}

// A stream as it sits in an archive: something always follows it (the next
// entry, the central directory), and the decoder may look one byte past the
// stream's end.
inline Bytes Padded(Bytes stream)
{
    stream.push_back(0x50);
    stream.push_back(0x4B);
    return stream;
}

// Runs f and returns the exit code it ended the process with, or -1.
template <class F> long ExitCodeOf(F f)
{
    try {
        f();
    } catch (const HostExit &e) {
        return (long)e.code;
    }
    return -1;
}

struct Outcome {
    uint16_t result;
    Bytes output;
    uint32_t crc;  // RunningCrc afterwards
    bool sinkFailed = false;
};

// Inflates image (from its first byte) into a memory sink of sinkSize bytes;
// the output is what the sink received.
inline Outcome InflateToMemory(const Bytes &image, size_t sinkSize, uint32_t budget = 0,
                               uint16_t (*inflate)() = InflateStream)
{
    TempImage file(image);
    Bytes block(sinkSize + 1);
    MemorySink sink;
    MakeMemorySink(&sink, block.data(), (uint32_t)sinkSize);
    StreamSink = &sink;
    InputBudget = budget;
    Outcome out;
    out.result = inflate();
    out.output.assign(block.data(), sink.Next);
    out.crc = RunningCrc;
    out.sinkFailed = sink.Failed;
    StreamSink = NoOutput();
    return out;
}

// A temporary output file for the file sink.
class TempOutput {
public:
    TempOutput()
    {
        char name[] = "/tmp/brevant-out-XXXXXX";
        int fd = mkstemp(name);
        path_ = name;
        MakeFileSink(&sink_, (FileHandle)(intptr_t)fd);
        StreamSink = &sink_;
    }
    ~TempOutput()
    {
        close((int)(intptr_t)sink_.File);
        StreamSink = NoOutput();
        unlink(path_.c_str());
    }
    FileSink &sink() { return sink_; }
    Bytes Contents() const
    {
        Bytes data;
        int fd = open(path_.c_str(), O_RDONLY);
        uint8_t buf[65536];
        ssize_t n;
        while ((n = read(fd, buf, sizeof buf)) > 0)
            data.insert(data.end(), buf, buf + n);
        close(fd);
        return data;
    }

private:
    std::string path_;
    FileSink sink_;
};

// Inflates image into a file; budget as the extraction loop sets it.
inline Outcome InflateToFile(const Bytes &image, uint32_t budget)
{
    TempImage file(image);
    TempOutput output;
    InputBudget = budget;
    Outcome out;
    out.result = InflateStream();
    out.crc = RunningCrc;
    out.output = output.Contents();
    out.sinkFailed = output.sink().Failed;
    return out;
}

// Writes bits least significant first, as deflate packs them.
class BitWriter {
public:
    void Bits(uint32_t value, unsigned count)
    {
        for (unsigned i = 0; i < count; i++) {
            if (used_ == 0)
                bytes_.push_back(0);
            if (value >> i & 1)
                bytes_.back() |= (uint8_t)(1 << used_);
            used_ = (used_ + 1) % 8;
        }
    }
    // A Huffman code, sent first bit first (most significant bit of code).
    void Code(uint32_t code, unsigned length)
    {
        for (unsigned i = length; i-- > 0;)
            Bits(code >> i & 1, 1);
    }
    void AlignToByte() { used_ = 0; }
    void Byte(uint8_t b)
    {
        AlignToByte();
        bytes_.push_back(b);
    }
    const Bytes &bytes() const { return bytes_; }

private:
    Bytes bytes_;
    unsigned used_ = 0;
};

// Canonical codes of a set of lengths (RFC 1951, 3.2.2).
inline std::vector<uint32_t> CanonicalCodes(const std::vector<uint16_t> &lengths)
{
    unsigned count[16] = {0};
    for (uint16_t l : lengths)
        count[l]++;
    count[0] = 0;
    uint32_t next[16] = {0};
    uint32_t code = 0;
    for (unsigned bits = 1; bits < 16; bits++) {
        code = (code + count[bits - 1]) << 1;
        next[bits] = code;
    }
    std::vector<uint32_t> codes(lengths.size());
    for (size_t s = 0; s < lengths.size(); s++)
        if (lengths[s])
            codes[s] = next[lengths[s]]++;
    return codes;
}

// The symbol and extra bits of a match length or distance.
inline void LengthSymbol(unsigned length, unsigned *symbol, unsigned *extra, unsigned *extraBits)
{
    *symbol = *extra = *extraBits = 0;
    for (unsigned i = 29; i-- > 0;) {
        if (LengthBase[i] <= length) {
            *symbol = 257 + i;
            *extra = length - LengthBase[i];
            *extraBits = LengthExtra[i];
            return;
        }
    }
}

inline void DistanceSymbol(unsigned distance, unsigned *symbol, unsigned *extra,
                           unsigned *extraBits)
{
    *symbol = *extra = *extraBits = 0;
    for (unsigned i = 30; i-- > 0;) {
        if (DistanceBase[i] <= distance) {
            *symbol = i;
            *extra = distance - DistanceBase[i];
            *extraBits = DistanceExtra[i];
            return;
        }
    }
}

// Writes the symbols of one block with given literal/length and distance codes.
class BlockWriter {
public:
    BlockWriter(BitWriter &w, const std::vector<uint16_t> &litLengths,
                const std::vector<uint16_t> &distLengths)
        : w_(w), litLengths_(litLengths), distLengths_(distLengths),
          litCodes_(CanonicalCodes(litLengths)), distCodes_(CanonicalCodes(distLengths))
    {
    }
    void Symbol(unsigned s) { w_.Code(litCodes_[s], litLengths_[s]); }
    void Literal(uint8_t b) { Symbol(b); }
    void EndOfBlock() { Symbol(256); }
    void Distance(unsigned s) { w_.Code(distCodes_[s], distLengths_[s]); }
    void Match(unsigned length, unsigned distance)
    {
        unsigned symbol, extra, bits;
        LengthSymbol(length, &symbol, &extra, &bits);
        Symbol(symbol);
        w_.Bits(extra, bits);
        DistanceSymbol(distance, &symbol, &extra, &bits);
        Distance(symbol);
        w_.Bits(extra, bits);
    }

private:
    BitWriter &w_;
    std::vector<uint16_t> litLengths_, distLengths_;
    std::vector<uint32_t> litCodes_, distCodes_;
};

inline std::vector<uint16_t> FixedLitLengths()
{
    std::vector<uint16_t> l(288);
    for (unsigned s = 0; s < 288; s++)
        l[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    return l;
}

inline std::vector<uint16_t> FixedDistLengths() { return std::vector<uint16_t>(32, 5); }

// Starts a fixed block.
inline BlockWriter FixedBlock(BitWriter &w, bool last)
{
    w.Bits(last, 1);
    w.Bits(1, 2);
    return BlockWriter(w, FixedLitLengths(), FixedDistLengths());
}

inline void StoredBlock(BitWriter &w, bool last, const Bytes &data)
{
    w.Bits(last, 1);
    w.Bits(0, 2);
    w.AlignToByte();
    uint16_t len = (uint16_t)data.size();
    w.Bits(len, 16);
    w.Bits((uint16_t)~len, 16);
    for (uint8_t b : data)
        w.Bits(b, 8);
}

// Starts a dynamic block: sends the header with the given lengths, each sent
// as a plain code-length symbol under a code-length code of lengths clLengths
// (19, by symbol).
inline BlockWriter DynamicBlock(BitWriter &w, bool last, const std::vector<uint16_t> &litLengths,
                                const std::vector<uint16_t> &distLengths,
                                const std::vector<uint16_t> &clLengths)
{
    w.Bits(last, 1);
    w.Bits(2, 2);
    w.Bits((uint32_t)litLengths.size() - 257, 5);
    w.Bits((uint32_t)distLengths.size() - 1, 5);
    w.Bits(19 - 4, 4);
    for (unsigned i = 0; i < 19; i++)
        w.Bits(clLengths[CodeLengthOrder[i]], 3);
    std::vector<uint32_t> clCodes = CanonicalCodes(clLengths);
    for (uint16_t l : litLengths)
        w.Code(clCodes[l], clLengths[l]);
    for (uint16_t l : distLengths)
        w.Code(clCodes[l], clLengths[l]);
    return BlockWriter(w, litLengths, distLengths);
}

// A code-length code that gives every length 0 to 15 a 4-bit code, and
// repeats 16 to 18 none.
inline std::vector<uint16_t> PlainCodeLengthCode()
{
    std::vector<uint16_t> l(19, 0);
    for (unsigned s = 0; s < 16; s++)
        l[s] = 4;
    return l;
}

// One raw deflate stream of data from zlib, with its window bits and strategy.
inline Bytes ZlibDeflate(const Bytes &data, int level, int windowBits, int strategy)
{
    z_stream z = {};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -windowBits, 8, strategy), Z_OK);
    Bytes out(deflateBound(&z, (uLong)data.size()) + 16);
    z.next_in = const_cast<uint8_t *>(data.data());
    z.avail_in = (uInt)data.size();
    z.next_out = out.data();
    z.avail_out = (uInt)out.size();
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// One raw deflate stream of data from libdeflate.
inline Bytes LibdeflateDeflate(const Bytes &data, int level)
{
    libdeflate_compressor *c = libdeflate_alloc_compressor(level);
    Bytes out(libdeflate_deflate_compress_bound(c, data.size()));
    out.resize(libdeflate_deflate_compress(c, data.data(), data.size(), out.data(), out.size()));
    libdeflate_free_compressor(c);
    return out;
}

// Decodes with zlib (raw); empty on failure.
inline bool ZlibInflate(const Bytes &in, Bytes *out)
{
    z_stream z = {};
    if (inflateInit2(&z, -15) != Z_OK)
        return false;
    out->clear();
    z.next_in = const_cast<uint8_t *>(in.data());
    z.avail_in = (uInt)in.size();
    uint8_t buf[65536];
    int rc;
    do {
        z.next_out = buf;
        z.avail_out = sizeof buf;
        rc = inflate(&z, Z_NO_FLUSH);
        out->insert(out->end(), buf, buf + (sizeof buf - z.avail_out));
    } while (rc == Z_OK);
    inflateEnd(&z);
    return rc == Z_STREAM_END;
}

}  // namespace inflate_test
