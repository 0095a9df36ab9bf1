// DecodeEntry: an entry's stream must end where its data ends, whatever the
// bytes that follow it in the archive would let it decode.
#include "archive/archive.h"
#include "inflate_support.h"

using namespace inflate_test;

namespace {

class DecodeEntryTest : public InflateTest {
protected:
    // Decodes the first dataSize bytes of image as an entry's data of that
    // compressed size, into memory of expectedSize bytes.
    DecodeResult Decode(const Bytes &image, uint32_t dataSize, uint32_t expectedSize,
                        const Bytes &expected, uint16_t method = 8)
    {
        TempImage file(image);
        LocalHeader header = {};
        header.Method = method;
        header.CompressedSize = dataSize;
        header.UncompressedSize = expectedSize;
        header.Crc32 = Crc32Of(expected);
        Bytes out(expectedSize + 1);
        MemorySink sink;
        MakeMemorySink(&sink, out.data(), expectedSize);
        return DecodeEntry(&header, dataSize + BUDGET_SLACK, &ImageSource, &sink);
    }
};

// The central directory's first bytes, as they follow the last entry.
Bytes CentralDirectory()
{
    Bytes bytes = {'P', 'K', 1, 2, 20, 0, 20, 0};
    bytes.resize(46, 0);
    return bytes;
}

Bytes Text()
{
    Bytes data;
    for (int i = 0; i < 3000; i++)
        data.push_back((uint8_t)"the quick brown fox jumps over lazy dogs\n"[(i * 7 + i / 13) % 41]);
    return data;
}

TEST_F(DecodeEntryTest, EveryCutOfAValidStreamFollowedByTheCentralDirectoryIsBad)
{
    Bytes data = Text();
    Bytes small(data.begin(), data.begin() + 60);
    std::vector<Bytes> streams = {
        ZlibDeflate(data, 6, 15, Z_DEFAULT_STRATEGY), ZlibDeflate(data, 9, 15, Z_FIXED),
        ZlibDeflate(small, 6, 15, Z_DEFAULT_STRATEGY), ZlibDeflate(small, 6, 15, Z_FIXED),
        LibdeflateDeflate(data, 12), LibdeflateDeflate(small, 12),
        ZlibDeflate(small, 0, 15, Z_DEFAULT_STRATEGY)};
    for (const Bytes &stream : streams) {
        const Bytes &expected = stream.size() < 100 ? small : data;
        Bytes whole = stream;
        Bytes tail = CentralDirectory();
        whole.insert(whole.end(), tail.begin(), tail.end());
        ASSERT_EQ(Decode(whole, (uint32_t)stream.size(), (uint32_t)expected.size(), expected),
                  DECODE_OK);
        for (size_t cut = 1; cut < stream.size(); cut++) {
            Bytes image(stream.begin(), stream.begin() + cut);
            image.insert(image.end(), tail.begin(), tail.end());
            // Bad data, or more output than the block holds.
            DecodeResult result = Decode(image, (uint32_t)cut, (uint32_t)expected.size(), expected);
            EXPECT_TRUE(result == DECODE_BAD_DATA || result == DECODE_WRITE_FAILED)
                << cut << " of " << stream.size() << ": " << result;
        }
    }
}

TEST_F(DecodeEntryTest, AStreamEndingBeforeItsDataEndsIsBad)
{
    Bytes data = Text();
    Bytes stream = ZlibDeflate(data, 6, 15, Z_DEFAULT_STRATEGY);
    Bytes image = stream;
    image.push_back(0);  // one byte of the entry left over
    Bytes tail = CentralDirectory();
    image.insert(image.end(), tail.begin(), tail.end());
    EXPECT_EQ(Decode(image, (uint32_t)stream.size() + 1, (uint32_t)data.size(), data),
              DECODE_BAD_DATA);
}

TEST_F(DecodeEntryTest, AStoredBlockThatTheNextHeaderWouldCompleteIsBad)
{
    // LEN 5 with two data bytes: the next header's "PK\1" would complete it.
    BitWriter w;
    StoredBlock(w, true, Bytes{'A', 'B', 'P', 'K', 1});
    Bytes image = w.bytes();
    image.resize(image.size() - 3);
    uint32_t dataSize = (uint32_t)image.size();
    Bytes tail = CentralDirectory();
    image.insert(image.end(), tail.begin(), tail.end());
    EXPECT_EQ(Decode(image, dataSize, 5, Bytes{'A', 'B', 'P', 'K', 1}), DECODE_BAD_DATA);
}

TEST_F(DecodeEntryTest, AStoredBlockEndingExactlyAtTheEntrysEndIsGood)
{
    BitWriter w;
    StoredBlock(w, true, Bytes{'A', 'B'});
    Bytes image = w.bytes();
    uint32_t dataSize = (uint32_t)image.size();
    Bytes tail = CentralDirectory();
    image.insert(image.end(), tail.begin(), tail.end());
    EXPECT_EQ(Decode(image, dataSize, 2, Bytes{'A', 'B'}), DECODE_OK);
}

TEST_F(DecodeEntryTest, AnImageEndingInsideTheDataIsAReadErrorAndMoreOutputThanTheSinkHoldsItsFailure)
{
    Bytes data = Text();
    Bytes stream = ZlibDeflate(data, 6, 15, Z_DEFAULT_STRATEGY);
    Bytes cut(stream.begin(), stream.begin() + stream.size() / 2);
    EXPECT_EQ(Decode(cut, (uint32_t)stream.size(), (uint32_t)data.size(), data), DECODE_READ_ERROR);
    Bytes storedCut(data.begin(), data.begin() + 1000);
    EXPECT_EQ(Decode(storedCut, (uint32_t)data.size(), (uint32_t)data.size(), data, 0),
              DECODE_READ_ERROR);
    // A memory sink one byte short: the sink fails, before the size check.
    Bytes whole = stream;
    whole.push_back(0);
    EXPECT_EQ(Decode(whole, (uint32_t)stream.size(), (uint32_t)data.size() - 1, data),
              DECODE_WRITE_FAILED);
    EXPECT_TRUE(HostBoxes.empty());

    // A failed read outweighs a failed write before it: the stub then ends.
    Bytes big(50000, 'x');
    TempImage file(Bytes(big.begin(), big.begin() + 40000));
    TempOutput output;
    FileSink &sink = output.sink();
    FileHandle kept = sink.File;
    sink.File = (FileHandle)(intptr_t)open("/dev/full", O_WRONLY);
    LocalHeader header = {};
    header.CompressedSize = header.UncompressedSize = (uint32_t)big.size();
    header.Crc32 = Crc32Of(big);
    EXPECT_EQ(DecodeEntry(&header, EntryBudget(&header), &ImageSource, &sink), DECODE_READ_ERROR);
    EXPECT_TRUE(sink.Failed);  // the first window could not be written
    close((int)(intptr_t)sink.File);
    sink.File = kept;
}

}  // namespace
