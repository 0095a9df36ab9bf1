// The inflater's edges with the outside: bytes taken from the image under the
// budget, failed reads, the memory and file sinks, the flush order, failed
// writes, and stored entries.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "inflate_support.h"

using namespace inflate_test;

namespace {

class InflaterIo : public InflateTest {};

// Where the image file stands: every byte up to it has been read.
off_t ImagePosition() { return lseek((int)(intptr_t)ImageFile, 0, SEEK_CUR); }

// A dynamic block whose code of all zero bits is the literal 'z': the literal
// code is 'z' and end of block with one bit each, so zero bits decode as 'z'
// for ever. The image goes on with zero bytes well past the budget.
Bytes EndlessLiterals(size_t imageSize)
{
    std::vector<uint16_t> lit(257, 0);
    lit['z'] = 1;
    lit[256] = 1;
    BitWriter w;
    DynamicBlock(w, true, lit, {1}, PlainCodeLengthCode());
    Bytes image = w.bytes();
    image.resize(imageSize, 0);
    return image;
}

TEST_F(InflaterIo, AnEndlessBlockStopsWhenTheBudgetIsSpentAndReadsNoFurther)
{
    Bytes image = EndlessLiterals(3 * INPUT_SIZE);
    TempImage file(image);
    TempOutput output;
    InputBudget = INPUT_SIZE + 1;  // allows exactly the first buffer's bytes
    EXPECT_NE(InflateStream(), INFLATE_OK);
    EXPECT_EQ(ImagePosition(), (off_t)INPUT_SIZE);
    EXPECT_TRUE(HostBoxes.empty());
    ExpectNoTablesLive();
}

TEST_F(InflaterIo, ABudgetSpentInsideTheLastBuffersBytesAlsoStopsTheStream)
{
    // The budget ends in the middle of the first buffer: no second read, no
    // byte read that the budget refuses, and a stream whose every remaining
    // bit reads as zero still ends.
    Bytes image = EndlessLiterals(3 * INPUT_SIZE);
    TempImage file(image);
    TempOutput output;
    InputBudget = 100;
    EXPECT_NE(InflateStream(), INFLATE_OK);
    EXPECT_EQ(ImagePosition(), (off_t)99);
    EXPECT_EQ(InputBudget, 0u);
}

TEST_F(InflaterIo, AStoredBlockPastTheBudgetFails)
{
    BitWriter w;
    StoredBlock(w, true, Bytes(5000, 0xAB));
    Bytes image = w.bytes();
    image.resize(3 * INPUT_SIZE, 0xCD);
    Outcome f = InflateToFile(image, 1000);
    EXPECT_NE(f.result, INFLATE_OK);
}

TEST_F(InflaterIo, AValidStreamPassesUnderTheEntryBudget)
{
    BitWriter w;
    BlockWriter b = FixedBlock(w, true);
    for (char c : std::string("budget"))
        b.Literal((uint8_t)c);
    b.EndOfBlock();
    Outcome f = InflateToFile(Padded(w.bytes()), (uint32_t)w.bytes().size() + 4);
    EXPECT_EQ(f.result, INFLATE_OK);
    EXPECT_EQ(f.output, (Bytes{'b', 'u', 'd', 'g', 'e', 't'}));
}

TEST_F(InflaterIo, AStreamRunningOffTheImageIsAFailedReadAfterWhichNothingIsFlushed)
{
    // The stored bytes end early, in a stored block (its copy stops at the
    // failed read), a stored entry and a fixed block; the decoder reports
    // and ends nothing.
    BitWriter w;
    StoredBlock(w, false, Bytes(40000, 1));
    Bytes stored = w.bytes();
    stored.resize(40000);
    Bytes data(100000);
    uint32_t noise = 1;
    for (uint8_t &b : data)
        b = (uint8_t)((noise = noise * 1103515245 + 12345) >> 16);
    Bytes fixed = ZlibDeflate(data, 6, 15, Z_FIXED);
    fixed.resize(fixed.size() / 2);
    for (const Bytes &image : {stored, fixed}) {
        TempImage file(image);
        TempOutput output;
        EXPECT_NE(InflateStream(), INFLATE_OK);
        EXPECT_TRUE(InputFailed);
        EXPECT_EQ(output.Contents().size(), 32768u);  // the one full window before the end
        EXPECT_EQ(output.sink().Count, 32768u);
        EXPECT_FALSE(output.sink().Failed);
    }
    TempImage file(Bytes(100, 1));
    TempOutput output;
    EXPECT_EQ(CopyStoredEntry(200), INFLATE_BAD_DATA);
    EXPECT_TRUE(InputFailed);
    EXPECT_TRUE(output.Contents().empty());
    EXPECT_TRUE(HostBoxes.empty());

    // The next stream starts with a clean record.
    SeekTo(ImageFile, 0);
    EXPECT_EQ(CopyStoredEntry(100), INFLATE_OK);
    EXPECT_FALSE(InputFailed);
}

TEST_F(InflaterIo, AnUnusableImageHandleIsAFailedRead)
{
    ImageFile = INVALID_FILE;
    TempOutput output;
    EXPECT_NE(InflateStream(), INFLATE_OK);
    EXPECT_TRUE(InputFailed);
    EXPECT_TRUE(HostBoxes.empty());
}

TEST_F(InflaterIo, AMemorySinkExactlyAsLongAsTheOutputIsFilledToTheLastByte)
{
    BitWriter w;
    StoredBlock(w, true, Bytes(40000, 7));
    Outcome m = InflateToMemory(Padded(w.bytes()), 40000);
    EXPECT_EQ(m.result, INFLATE_OK);
    EXPECT_EQ(m.output, Bytes(40000, 7));
}

TEST_F(InflaterIo, OutputBeyondTheMemorySinkFailsItBeforeAnyByteIsCopiedAndEndsTheStream)
{
    // Two stored blocks of 40,000 bytes, and then bytes that are no deflate
    // data: the stream stops taking input at the flush that does not fit.
    BitWriter w;
    StoredBlock(w, false, Bytes(40000, 7));
    StoredBlock(w, true, Bytes(40000, 8));
    Bytes image = w.bytes();
    TempImage file(image);
    Bytes block(80000 + 16, 0xEE);
    MemorySink sink;
    MakeMemorySink(&sink, block.data(), 39999);
    StreamSink = &sink;
    EXPECT_NE(InflateStream(), INFLATE_OK);
    EXPECT_TRUE(sink.Failed);
    EXPECT_FALSE(InputFailed);
    EXPECT_TRUE(HostBoxes.empty());
    // The first window went in; nothing of the second did, and no byte was
    // taken past the first block and the bytes already buffered.
    EXPECT_EQ(sink.Next, block.data() + 32768);
    for (size_t i = 32768; i < block.size(); i++)
        ASSERT_EQ(block[i], 0xEE) << i;
    EXPECT_EQ(sink.Count, 65536u);
}

struct FlushRecord {
    uint32_t progress;
    off_t fileSize;
};
std::vector<FlushRecord> Flushes;

void RecordFlush()
{
    struct stat st;
    fstat((int)(intptr_t)((FileSink *)StreamSink)->File, &st);
    Flushes.push_back({ProgressDone, st.st_size});
}

TEST_F(InflaterIo, EachFlushAdvancesProgressAndRepaintsBeforeTheBytesAreWritten)
{
    BitWriter w;
    StoredBlock(w, false, Bytes(65535, 1));
    StoredBlock(w, true, Bytes(1, 2));
    Flushes.clear();
    ProgressDone = 10;
    ProgressRefreshHook = RecordFlush;
    Outcome f = InflateToFile(Padded(w.bytes()), 0);
    ASSERT_EQ(f.result, INFLATE_OK);
    // Two full windows and a final empty flush, each seen by the repaint
    // with its bytes counted but not yet in the file.
    ASSERT_EQ(Flushes.size(), 3u);
    EXPECT_EQ(Flushes[0].progress, 10u + 32768);
    EXPECT_EQ(Flushes[0].fileSize, 0);
    EXPECT_EQ(Flushes[1].progress, 10u + 65536);
    EXPECT_EQ(Flushes[1].fileSize, 32768);
    EXPECT_EQ(Flushes[2].progress, 10u + 65536);
    EXPECT_EQ(Flushes[2].fileSize, 65536);
    EXPECT_EQ(f.output.size(), 65536u);
}

TEST_F(InflaterIo, TheMemorySinkNeitherCountsProgressNorRepaints)
{
    Flushes.clear();
    ProgressDone = 0;
    ProgressRefreshHook = RecordFlush;
    BitWriter w;
    StoredBlock(w, true, Bytes(40000, 3));
    EXPECT_EQ(InflateToMemory(Padded(w.bytes()), 40000).result, INFLATE_OK);
    EXPECT_TRUE(Flushes.empty());
    EXPECT_EQ(ProgressDone, 0u);
}

TEST_F(InflaterIo, AFailedWriteIsRecordedForTheStream)
{
    BitWriter w;
    StoredBlock(w, true, Bytes(100, 3));
    TempImage file(Padded(w.bytes()));
    TempOutput good;
    FileSink &sink = good.sink();
    FileHandle goodFile = sink.File;
    sink.File = (FileHandle)(intptr_t)open("/dev/full", O_WRONLY);
    ASSERT_NE((intptr_t)sink.File, -1);
    InputBudget = 0;
    EXPECT_EQ(InflateStream(), INFLATE_OK);
    EXPECT_TRUE(sink.Failed);
    close((int)(intptr_t)sink.File);

    // A read-only handle refuses the write as well; the next stream starts
    // with a clean record.
    SeekTo(ImageFile, 0);
    sink.File = (FileHandle)(intptr_t)open("/dev/null", O_RDONLY);
    EXPECT_EQ(InflateStream(), INFLATE_OK);
    EXPECT_TRUE(sink.Failed);
    close((int)(intptr_t)sink.File);

    SeekTo(ImageFile, 0);
    sink.File = goodFile;
    EXPECT_EQ(InflateStream(), INFLATE_OK);
    EXPECT_FALSE(sink.Failed);
    EXPECT_EQ(good.Contents(), Bytes(100, 3));
}

TEST_F(InflaterIo, AnEmptyStoredEntryTakesNoByteAndMakesOneEmptyFlush)
{
    TempImage file({});
    TempOutput output;
    Flushes.clear();
    ProgressDone = 0;
    ProgressRefreshHook = RecordFlush;
    EXPECT_EQ(CopyStoredEntry(0), INFLATE_OK);
    EXPECT_EQ(RunningCrc, 0xFFFFFFFFu);
    ASSERT_EQ(Flushes.size(), 1u);
    EXPECT_EQ(ImagePosition(), 0);
    EXPECT_TRUE(HostBoxes.empty());
}

TEST_F(InflaterIo, AStoredEntryIsCopiedWithItsCrc)
{
    Bytes data(70000);
    for (size_t i = 0; i < data.size(); i++)
        data[i] = (uint8_t)(i * 31 + (i >> 9));
    Bytes image = data;
    image.push_back(0x50);
    TempImage file(image);
    TempOutput output;
    InputBudget = (uint32_t)data.size() + 4;
    EXPECT_EQ(CopyStoredEntry((uint32_t)data.size()), INFLATE_OK);
    EXPECT_EQ(RunningCrc, ~Crc32Of(data));
    EXPECT_EQ(output.Contents(), data);
}

TEST_F(InflaterIo, AStoredEntryLongerThanItsBudgetGetsZerosAndItsFinalFlush)
{
    Bytes image(5000, 0x11);
    TempImage file(image);
    TempOutput output;
    InputBudget = 1000 + 4;  // the entry claims 1000 compressed bytes
    EXPECT_EQ(CopyStoredEntry(2000), INFLATE_OK);
    Bytes expected(1003, 0x11);
    expected.resize(2000, 0);
    EXPECT_EQ(output.Contents(), expected);
    EXPECT_EQ(RunningCrc, ~Crc32Of(expected));
    EXPECT_EQ(ImagePosition(), (off_t)1003);
}

TEST_F(InflaterIo, TakingSixteenBitsWithSevenHeldTakesTwoBytesAndKeepsSeven)
{
    TempImage file({0xFF, 0x34, 0x12, 0x00});
    ResetDecoder();
    InputBudget = 0;
    EXPECT_EQ(TakeBits(1), 1u);
    EXPECT_EQ(BitCount, 7);
    uint32_t left = InputLeft;
    EXPECT_EQ(TakeBits(16), (0x1234u << 7 | 0x7F) & 0xFFFF);
    EXPECT_EQ(left - InputLeft, 2u);
    EXPECT_EQ(BitCount, 7);
    EXPECT_EQ(TakeBits(0), 0u);
    EXPECT_EQ(BitCount, 7);
}

TEST_F(InflaterIo, RefusedBitsReadAsZeroAndDropToAnEmptyBuffer)
{
    TempImage file({0xFF, 0xFF, 0xFF});
    ResetDecoder();
    InputBudget = 2;  // one byte
    EXPECT_EQ(TakeBits(12), 0xFFu);
    EXPECT_EQ(BitCount, 0);
    EXPECT_EQ(BitBuffer, 0u);
    EXPECT_EQ(TakeBits(8), 0u);
    EXPECT_EQ(InputLeft, 0u);  // nothing read that the budget refuses
}

TEST_F(InflaterIo, TheCrcTableIsTheZipCrc)
{
    const char *text = "123456789";
    EXPECT_EQ(~UpdateCrc(0xFFFFFFFF, (const uint8_t *)text, 9), 0xCBF43926u);
    EXPECT_EQ(UpdateCrc(0x12345678, nullptr, 0), 0x12345678u);
}

// The CRC by both of its paths: folded with carry-less multiplies (true),
// where this CPU has them, and by the table's slices alone (false).
class CrcPath : public InflaterIo, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        InflaterIo::SetUp();
        detected_ = CrcFolding;
    }
    void TearDown() override
    {
        CrcFolding = detected_;
        InflaterIo::TearDown();
    }
    bool detected_ = false;
};

TEST_P(CrcPath, TheCrcOfAnyLengthAndAlignmentIsZlibs)
{
    if (GetParam() && !CrcFolding)
        GTEST_SKIP() << "this CPU has no PCLMULQDQ or no SSE2: the folded CRC is not tested";
    CrcFolding = GetParam();
    Bytes data(65535 + 64);
    for (size_t i = 0; i < data.size(); i++)
        data[i] = (uint8_t)(i * 131 + (i >> 7) * 17);
    std::vector<unsigned> lengths = {0, 1, 15, 16, 17, CRC_FOLD_MIN - 1, CRC_FOLD_MIN,
                                     CRC_FOLD_MIN + 15, CRC_FOLD_MIN + 16, 8191, 8192, 8193,
                                     16384, 32767, 32768, 40000, 65535};
    for (unsigned n = 2; n < 600; n += 7)
        lengths.push_back(n);
    for (unsigned n : lengths) {
        for (unsigned offset : {0u, 1u, 3u, 13u}) {
            uint32_t expected = (uint32_t)crc32(0x1234, data.data() + offset, n);
            uint32_t crc = ~UpdateCrc(~(uint32_t)0x1234, data.data() + offset, (uint16_t)n);
            ASSERT_EQ(crc, expected) << n << " bytes at offset " << offset;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(InflaterIo, CrcPath, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool> &path) {
                             return path.param ? "Folded" : "Table";
                         });

}  // namespace
