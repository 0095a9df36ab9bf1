// Streams made by real encoders decode to the very bytes they were made from:
// zlib at every level, strategy and window size, libdeflate at every level.
#include <libdeflate.h>

#include <string.h>

#include <random>

#include "inflate_support.h"

using namespace inflate_test;

namespace {

// Pseudo-English: words of a small vocabulary with punctuation and lines.
Bytes MakeText(size_t size, uint32_t seed)
{
    static const char *words[] = {"the", "archive", "window", "of", "a", "stub", "extracts",
                                  "every", "entry", "into", "its", "folder", "and", "checks",
                                  "CRC", "progress", "deflate", "block", "table", "code"};
    std::mt19937 rng(seed);
    Bytes out;
    while (out.size() < size) {
        const char *w = words[rng() % 20];
        out.insert(out.end(), w, w + strlen(w));
        out.push_back(rng() % 13 == 0 ? '\n' : rng() % 7 == 0 ? ',' : ' ');
    }
    out.resize(size);
    return out;
}

// Something like an executable: little-endian fields, small numbers, repeats
// of short records with variations.
Bytes MakeBinary(size_t size, uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes out;
    while (out.size() < size) {
        uint32_t kind = rng() % 4;
        if (kind == 0) {
            uint32_t v = rng() % 4096;
            for (int i = 0; i < 4; i++)
                out.push_back((uint8_t)(v >> (8 * i)));
        } else if (kind == 1 && out.size() > 300) {
            size_t from = out.size() - 1 - rng() % 300;
            size_t n = 3 + rng() % 40;
            for (size_t i = 0; i < n; i++)
                out.push_back(out[from + i]);
        } else {
            out.push_back((uint8_t)(0x80 + rng() % 16));
        }
    }
    out.resize(size);
    return out;
}

Bytes MakeRandom(size_t size, uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes out(size);
    for (auto &b : out)
        b = (uint8_t)rng();
    return out;
}

// Long runs of one byte, a few values.
Bytes MakeRuns(size_t size, uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes out;
    while (out.size() < size)
        out.insert(out.end(), 1 + rng() % 5000, (uint8_t)(rng() % 3));
    out.resize(size);
    return out;
}

struct Input {
    std::string name;
    Bytes data;
};

const std::vector<Input> &Inputs()
{
    static std::vector<Input> inputs = [] {
        std::vector<Input> v;
        v.push_back({"empty", {}});
        v.push_back({"one-byte", {0x41}});
        v.push_back({"text-1000", MakeText(1000, 1)});
        v.push_back({"text-32768", MakeText(32768, 2)});
        v.push_back({"binary-65536", MakeBinary(65536, 3)});
        v.push_back({"random-32769", MakeRandom(32769, 4)});
        v.push_back({"runs-100000", MakeRuns(100000, 5)});
        v.push_back({"text-300000", MakeText(300000, 6)});
        return v;
    }();
    return inputs;
}

class Differential : public InflateTest {
protected:
    // Decodes into a memory block exactly as long as the original, then again
    // into a file under the entry budget, and compares both with it.
    void ExpectDecodes(const Bytes &compressed, const Bytes &original, const std::string &what)
    {
        SCOPED_TRACE(what);
        Outcome m = InflateToMemory(Padded(compressed), original.size());
        ASSERT_FALSE(m.sinkFailed);
        ASSERT_EQ(m.result, INFLATE_OK);
        ASSERT_TRUE(m.output == original);
        ASSERT_EQ(m.crc, ~Crc32Of(original));
        ExpectNoTablesLive();
    }
    void ExpectDecodesToFile(const Bytes &compressed, const Bytes &original,
                             const std::string &what)
    {
        SCOPED_TRACE(what);
        Outcome f = InflateToFile(Padded(compressed), (uint32_t)compressed.size() + 4);
        ASSERT_EQ(f.result, INFLATE_OK);
        ASSERT_TRUE(f.output == original);
        ASSERT_EQ(f.crc, ~Crc32Of(original));
        ASSERT_FALSE(f.sinkFailed);
    }
};

const int Strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};

TEST_F(Differential, ZlibEveryLevelAndStrategyDecodesIdentically)
{
    for (const Input &in : Inputs()) {
        for (int level = 0; level <= 9; level++) {
            for (int strategy : Strategies) {
                Bytes c = ZlibDeflate(in.data, level, 15, strategy);
                std::string what = in.name + " level " + std::to_string(level) + " strategy " +
                                   std::to_string(strategy);
                ExpectDecodes(c, in.data, what);
                if (HasFatalFailure())
                    return;
            }
        }
    }
}

TEST_F(Differential, ZlibEveryWindowSizeDecodesIdentically)
{
    for (const Input &in : Inputs()) {
        if (in.data.size() < 1000)
            continue;
        for (int bits = 9; bits <= 15; bits++) {
            for (int level : {1, 6, 9}) {
                for (int strategy : {Z_DEFAULT_STRATEGY, Z_RLE, Z_FIXED}) {
                    Bytes c = ZlibDeflate(in.data, level, bits, strategy);
                    ExpectDecodes(c, in.data,
                                  in.name + " windowBits " + std::to_string(bits) + " level " +
                                      std::to_string(level) + " strategy " +
                                      std::to_string(strategy));
                    if (HasFatalFailure())
                        return;
                }
            }
        }
    }
}

TEST_F(Differential, LibdeflateEveryLevelDecodesIdentically)
{
    for (int level = 0; level <= 12; level++) {
        libdeflate_compressor *c = libdeflate_alloc_compressor(level);
        ASSERT_NE(c, nullptr);
        for (const Input &in : Inputs()) {
            Bytes out(libdeflate_deflate_compress_bound(c, in.data.size()));
            size_t n = libdeflate_deflate_compress(c, in.data.data(), in.data.size(), out.data(),
                                                   out.size());
            ASSERT_NE(n, 0u);
            out.resize(n);
            ExpectDecodes(out, in.data, in.name + " libdeflate level " + std::to_string(level));
            if (HasFatalFailure())
                break;
        }
        libdeflate_free_compressor(c);
        if (HasFatalFailure())
            return;
    }
}

TEST_F(Differential, FileSinkReceivesTheSameBytesUnderTheEntryBudget)
{
    for (const Input &in : Inputs()) {
        Bytes c = ZlibDeflate(in.data, 6, 15, Z_DEFAULT_STRATEGY);
        ExpectDecodesToFile(c, in.data, in.name);
        if (HasFatalFailure())
            return;
    }
}

TEST_F(Differential, ALargeInputDecodesIdenticallyFromBothEncoders)
{
    Bytes data = MakeText(1500000, 7);
    Bytes binary = MakeBinary(500000, 8);
    data.insert(data.end(), binary.begin(), binary.end());
    ExpectDecodes(ZlibDeflate(data, 9, 15, Z_DEFAULT_STRATEGY), data, "zlib 9");
    ExpectDecodesToFile(LibdeflateDeflate(data, 12), data, "libdeflate 12");
}

// A stream followed by other bytes: the decoder stops at the last block.
TEST_F(Differential, BytesAfterTheLastBlockAreIgnored)
{
    Bytes data = MakeText(5000, 9);
    Bytes c = ZlibDeflate(data, 6, 15, Z_DEFAULT_STRATEGY);
    c.insert(c.end(), {0xFF, 0x00, 0x12, 0x34});
    ExpectDecodes(c, data, "trailing bytes");
}

}  // namespace
