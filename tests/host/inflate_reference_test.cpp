// The block decoder, in its own build and in that of the 32-bit stub,
// against the reference inflater of inflate_reference.h: on valid, truncated
// and damaged streams, under budgets around the stream's end and with images
// that end early, all give the same result, the same output (into memory,
// and into a file with its flushes), the same CRC, the same spent budget,
// and read the image the same way: the same bytes, in reads that fall
// between the same flushes.
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <random>

#include "inflate_reference.h"
#include "inflate_support.h"
#include "inflate_word32.h"

using namespace inflate_test;

namespace {

// ---- One run, as seen from outside ------------------------------------------
struct Seen {
    uint16_t result;
    bool readFailed;       // a read yielded nothing
    bool spent;            // the budget refused a byte
    uint32_t crc;
    Bytes output;          // the memory sink's bytes, or the file's
    off_t imageEnd;        // where the image file stands afterwards
    std::vector<std::pair<uint32_t, off_t>> flushes;  // progress and image position
    bool operator==(const Seen &o) const
    {
        return readFailed == o.readFailed && result == o.result && spent == o.spent &&
               crc == o.crc && output == o.output && imageEnd == o.imageEnd &&
               flushes == o.flushes;
    }
};

std::vector<std::pair<uint32_t, off_t>> *FlushLog;

off_t ImagePosition() { return lseek((int)(intptr_t)ImageFile, 0, SEEK_CUR); }

void LogFlush() { FlushLog->push_back({ProgressDone, ImagePosition()}); }

// The stream starts skip bytes into the image, which moves the edges of the
// reads across it.
Seen Observe(uint16_t (*inflate)(), const Bytes &image, uint32_t budget, bool toFile,
             unsigned skip = 0)
{
    Bytes shifted(skip, 0xA5);
    shifted.insert(shifted.end(), image.begin(), image.end());
    TempImage file(shifted);
    SeekTo(ImageFile, skip);
    // Earlier streams' bytes stay in the window: far references read them.
    for (unsigned i = 0; i < WINDOW_SIZE; i++)
        OutputWindow[i] = inflate_reference::Window[i] = (uint8_t)(i * 7);
    Seen seen;
    FlushLog = &seen.flushes;
    Bytes sink(1 << 20);
    std::unique_ptr<TempOutput> output;
    if (toFile) {
        output.reset(new TempOutput);
        ProgressDone = 0;
        ProgressRefreshHook = LogFlush;
    }
    MemorySink memory;
    MakeMemorySink(&memory, sink.data(), (uint32_t)sink.size());
    if (!toFile)
        StreamSink = &memory;
    InputBudget = budget;
    seen.result = inflate();
    seen.readFailed = inflate == inflate_reference::Inflate ? inflate_reference::failed : InputFailed;
    seen.spent = InputBudget == 0;  // only a refused byte leaves it at zero
    seen.crc = RunningCrc;
    seen.imageEnd = ImagePosition();
    if (toFile)
        seen.output = output->Contents();
    else
        seen.output.assign(sink.data(), memory.Next);
    StreamSink = NoOutput();
    ProgressRefreshHook = nullptr;
    HostResetBoxes();
    return seen;
}

class Reference : public InflateTest {
protected:
    // Both decoders on the image under the budget, into memory and into a file.
    void ExpectSame(const Bytes &image, uint32_t budget, const std::string &what,
                    unsigned skip = 0)
    {
        for (bool toFile : {false, true}) {
            Seen ref = Observe(inflate_reference::Inflate, image, budget, toFile, skip);
            for (auto inflate : {InflateStream, InflateStreamWord32}) {
                Seen ours = Observe(inflate, image, budget, toFile, skip);
                ASSERT_TRUE(ours == ref)
                    << what << ", budget " << budget << (toFile ? ", file" : ", memory")
                    << (inflate == InflateStream ? "" : ", 32-bit word") << ", skip " << skip
                    << ": result " << ours.result << " / " << ref.result << ", read failed "
                    << ours.readFailed << " / " << ref.readFailed << ", output "
                    << ours.output.size() << " / " << ref.output.size() << ", image at "
                    << ours.imageEnd << " / " << ref.imageEnd << ", flushes "
                    << ours.flushes.size() << " / " << ref.flushes.size();
            }
        }
    }
};

// Text-like with repeats at every distance, runs of one byte, and noise:
// literals, short and long matches, overlapping copies and stored blocks.
Bytes Mixed(size_t size, uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes out;
    while (out.size() < size) {
        unsigned kind = rng() % 6;
        if (kind == 0 && out.size() > 40) {
            size_t distance = 1 + rng() % std::min<size_t>(out.size(), rng() % 2 ? 8 : 40000);
            for (unsigned n = 3 + rng() % 300; n--;)
                out.push_back(out[out.size() - distance]);
        } else if (kind == 1) {
            out.insert(out.end(), 1 + rng() % 400, (uint8_t)rng());
        } else if (kind == 2) {
            for (unsigned n = rng() % 200; n--;)
                out.push_back((uint8_t)rng());
        } else {
            for (unsigned n = rng() % 60; n--;)
                out.push_back((uint8_t)("etaoin shrdlu"[rng() % 13]));
        }
    }
    out.resize(size);
    return out;
}

std::vector<Bytes> Streams()
{
    std::vector<Bytes> streams;
    uint32_t seed = 1;
    for (size_t size : {0u, 1u, 300u, 5000u, 40000u, 90000u}) {
        Bytes data = Mixed(size, seed++);
        streams.push_back(ZlibDeflate(data, 6, 15, Z_DEFAULT_STRATEGY));
        streams.push_back(ZlibDeflate(data, 1, 15, Z_FIXED));
        streams.push_back(ZlibDeflate(data, 9, 15, Z_HUFFMAN_ONLY));
        streams.push_back(ZlibDeflate(data, 0, 15, Z_DEFAULT_STRATEGY));
    }
    return streams;
}

Bytes WithTail(Bytes stream, const Bytes &tail)
{
    stream.insert(stream.end(), tail.begin(), tail.end());
    return stream;
}

TEST_F(Reference, ValidStreamsUnderBudgetsAroundTheirEnd)
{
    for (const Bytes &s : Streams()) {
        uint32_t size = (uint32_t)s.size();
        Bytes image = WithTail(s, Bytes(8, 0x50));
        for (uint32_t budget : {0u, size + 4, size + 3, size + 2, size + 1, size, size / 2 + 1})
            ExpectSame(image, budget, "valid, " + std::to_string(size) + " bytes");
        if (HasFatalFailure())
            return;
    }
}

TEST_F(Reference, AValidStreamNeedsABudgetOfAtMostOneBytePastItsEnd)
{
    for (const Bytes &s : Streams()) {
        uint32_t size = (uint32_t)s.size();
        Bytes image = WithTail(s, {0x50, 0x4B, 0x01, 0x02});
        // The smallest budget that decodes it; one less fails it the same way
        // in both decoders, one more changes nothing.
        uint32_t start = size > 10 ? size - 8 : 2;
        uint32_t least = start;
        while (least <= size + 2 && Observe(InflateStream, image, least, false).result != INFLATE_OK)
            least++;
        EXPECT_TRUE(least > start || start == 2);
        EXPECT_LE(least, size + 2);
        ExpectSame(image, least - 1, "one below the least budget");
        ExpectSame(image, least, "the least budget");
        ExpectSame(image, least + 1, "one above the least budget");
        if (HasFatalFailure())
            return;
    }
}

TEST_F(Reference, TheEdgesOfTheReadsFallAnywhereInTheStream)
{
    Bytes data = Mixed(200000, 31);
    std::vector<Bytes> streams = {ZlibDeflate(data, 6, 15, Z_DEFAULT_STRATEGY),
                                  ZlibDeflate(data, 1, 15, Z_FIXED),
                                  ZlibDeflate(data, 9, 15, Z_HUFFMAN_ONLY)};
    for (const Bytes &s : streams) {
        Bytes image = WithTail(s, {0x50, 0x4B});
        for (unsigned skip = 0; skip < 24; skip++)
            ExpectSame(image, (uint32_t)s.size() + 4, "edges", skip);
        if (HasFatalFailure())
            return;
    }
}

TEST_F(Reference, StreamsCutShortOrRunningOffTheImage)
{
    std::mt19937 rng(99);
    for (const Bytes &s : Streams()) {
        if (s.size() < 8)
            continue;
        for (int k = 0; k < 4; k++) {
            Bytes cut(s.begin(), s.begin() + 1 + rng() % (s.size() - 1));
            ExpectSame(cut, 0, "cut, image ends");
            ExpectSame(WithTail(cut, Bytes(3 * INPUT_SIZE, 0)), (uint32_t)cut.size() + 4,
                       "cut, zeros follow");
            ExpectSame(WithTail(cut, Bytes(3 * INPUT_SIZE, 0xFF)), (uint32_t)cut.size() + 4,
                       "cut, ones follow");
        }
        if (HasFatalFailure())
            return;
    }
}

TEST_F(Reference, DamagedStreams)
{
    std::mt19937 rng(7);
    for (const Bytes &s : Streams()) {
        if (s.empty())
            continue;
        for (int k = 0; k < 12; k++) {
            Bytes bad = s;
            for (int flips = 1 + rng() % 3; flips--;)
                bad[rng() % bad.size()] ^= (uint8_t)(1 << rng() % 8);
            uint32_t size = (uint32_t)bad.size();
            Bytes image = WithTail(bad, Bytes(2 * INPUT_SIZE, (uint8_t)rng()));
            ExpectSame(image, size + 4, "damaged");
            ExpectSame(image, 1 + rng() % (size + 4), "damaged, random budget");
        }
        if (HasFatalFailure())
            return;
    }
}

TEST_F(Reference, RandomBytes)
{
    std::mt19937 rng(2024);
    for (int k = 0; k < 300; k++) {
        Bytes junk(1 + rng() % 3000);
        for (uint8_t &b : junk)
            b = (uint8_t)(rng() % 4 ? rng() % 4 : rng());
        junk[0] = (uint8_t)((junk[0] & ~6) | (rng() % 2 ? 2 : 4));  // fixed or dynamic
        ExpectSame(WithTail(junk, Bytes(INPUT_SIZE, 0)), (uint32_t)junk.size() + 4, "random");
        if (HasFatalFailure())
            return;
    }
}

}  // namespace
