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
                        const Bytes &expected)
    {
        TempImage file(image);
        LocalHeader header = {};
        header.Method = 8;
        header.CompressedSize = dataSize;
        header.UncompressedSize = expectedSize;
        header.Crc32 = Crc32Of(expected);
        Bytes out(expectedSize + 1);
        DecodeResult result;
        try {
            result = DecodeEntry(&header, dataSize + BUDGET_SLACK, out.data());
        } catch (const HostExit &) {
            result = DECODE_BAD_DATA;  // the sink overflowed
        }
        MemorySinkNext = nullptr;
        return result;
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
            EXPECT_EQ(Decode(image, (uint32_t)cut, (uint32_t)expected.size(), expected),
                      DECODE_BAD_DATA)
                << cut << " of " << stream.size();
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

}  // namespace
