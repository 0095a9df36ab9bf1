// The signature scan, the walk over ZIP local headers and the check of the
// archive against its central directory.
#include <gtest/gtest.h>

#include "archive/archive.h"
#include "test_image.h"

namespace {

std::vector<uint8_t> Filler(size_t size) { return std::vector<uint8_t>(size, 0x11); }

void PutAt(std::vector<uint8_t> &image, size_t at, const char *bytes, size_t n)
{
    if (image.size() < at + n)
        image.resize(at + n, 0x11);
    std::copy(bytes, bytes + n, image.begin() + at);
}

int32_t FindConfig() { return FindSignature(ImageFile, CONFIG_SIG_LOW, CONFIG_SIG_HIGH); }

TEST(FindSignature, FindsASignatureStartingAtTheLastOffsetScanned)
{
    auto image = Filler(70000);
    PutAt(image, 59996, "JAVA", 4);
    TempImage file(image);
    EXPECT_EQ(FindConfig(), 59996);
}

TEST(FindSignature, MissesASignatureStartingOneByteLater)
{
    auto image = Filler(70000);
    PutAt(image, 59997, "JAVA", 4);
    TempImage file(image);
    EXPECT_EQ(FindConfig(), -1);
}

TEST(FindSignature, TheFirstOccurrenceWins)
{
    auto image = Filler(5000);
    PutAt(image, 3000, "JAVA", 4);
    PutAt(image, 1000, "JAVA", 4);
    TempImage file(image);
    EXPECT_EQ(FindConfig(), 1000);
}

TEST(FindSignature, FindsSignaturesAtTheStartAndAcrossReadPieces)
{
    {
        auto image = Filler(100);
        PutAt(image, 0, "JAVA", 4);
        TempImage file(image);
        EXPECT_EQ(FindConfig(), 0);
    }
    for (size_t at : {509u, 510u, 511u, 1022u}) {
        auto image = Filler(2000);
        PutAt(image, at, "PK\3\4", 4);
        TempImage file(image);
        EXPECT_EQ(FindSignature(ImageFile, LOCAL_SIG_LOW, LOCAL_SIG_HIGH), (int32_t)at) << at;
    }
}

TEST(FindSignature, AShortImageWithoutTheSignatureYieldsMinusOne)
{
    auto image = Filler(700);
    PutAt(image, 696, "JAV", 3);  // cut off by the end of the image
    TempImage file(image);
    EXPECT_EQ(FindConfig(), -1);
}

TEST(FindSignature, TellsTheTwoSignaturesApart)
{
    auto image = Filler(3000);
    PutAt(image, 200, "PK\1\2", 4);  // central directory: same low half
    PutAt(image, 900, "PK\3\4", 4);
    PutAt(image, 400, "JAVA", 4);
    TempImage file(image);
    EXPECT_EQ(FindSignature(ImageFile, LOCAL_SIG_LOW, LOCAL_SIG_HIGH), 900);
    EXPECT_EQ(FindConfig(), 400);
}

TEST(FindSignature, AnUnopenedImageYieldsMinusOne)
{
    ImageFile = INVALID_FILE;
    EXPECT_EQ(FindConfig(), -1);
}

// A PE header whose SizeOfHeaders is end, with "JAVA" in its checksum field
// (offset 216) and "PK\3\4" in the certificate table's (280), as signing
// may leave them.
std::vector<uint8_t> SignedHeaders(uint32_t end)
{
    auto image = Filler(4000);
    PutAt(image, 0, "MZ", 2);
    PutAt(image, DOS_PE_OFFSET, "\x80\0\0\0", 4);
    PutAt(image, 0x80, "PE\0\0", 4);
    for (int i = 0; i < 4; i++)
        image[0x80 + PE_SIZE_OF_HEADERS + i] = (uint8_t)(end >> (8 * i));
    PutAt(image, 216, "JAVA", 4);
    PutAt(image, 280, "PK\3\4", 4);
    return image;
}

TEST(FindSignature, BeginsAfterThePeHeaders)
{
    auto image = SignedHeaders(0x400);
    PutAt(image, 0x400, "JAVA", 4);
    PutAt(image, 0x600, "PK\3\4", 4);
    TempImage file(image);
    EXPECT_EQ(FindConfig(), 0x400);
    EXPECT_EQ(FindSignature(ImageFile, LOCAL_SIG_LOW, LOCAL_SIG_HIGH), 0x600);
}

TEST(FindSignature, HeadersThatAreNotSoundAreScannedFromTheStart)
{
    std::vector<std::vector<uint8_t>> damaged = {SignedHeaders(SCAN_LIMIT), SignedHeaders(0x400),
                                                 SignedHeaders(0x400), SignedHeaders(0x400)};
    PutAt(damaged[1], 0x80, "PF", 2);                         // no PE signature
    PutAt(damaged[2], DOS_PE_OFFSET, "\x60\xEA\0\0", 4);      // e_lfanew far beyond
    PutAt(damaged[3], DOS_PE_OFFSET, "\xFF\xFF\xFF\xFF", 4);  // and as far as it goes
    for (auto &image : damaged) {
        PutAt(image, 0x400, "JAVA", 4);
        TempImage file(image);
        EXPECT_EQ(FindConfig(), 216);
        EXPECT_EQ(FindSignature(ImageFile, LOCAL_SIG_LOW, LOCAL_SIG_HIGH), 280);
    }
}

// One local entry: header, name, extra field and data.
void AddEntry(std::vector<uint8_t> &image, const std::string &name, uint32_t uncompressed,
              uint32_t dataSize, uint16_t extraSize = 0)
{
    const char sig[] = "PK\3\4";
    image.insert(image.end(), sig, sig + 4);
    Put16(image, 20);             // version needed
    Put16(image, 0);              // flags
    Put16(image, 8);              // method
    Put16(image, 0x6000);         // time
    Put16(image, 0x5A21);         // date
    Put32(image, 0x12345678);     // CRC-32
    Put32(image, dataSize);
    Put32(image, uncompressed);
    Put16(image, (uint16_t)name.size());
    Put16(image, extraSize);
    image.insert(image.end(), name.begin(), name.end());
    image.insert(image.end(), extraSize, 0x22);
    image.insert(image.end(), dataSize, 0x33);
}

TEST(LocalHeader, FieldsAreReadLittleEndian)
{
    std::vector<uint8_t> image = Filler(64);
    AddEntry(image, "docs/readme.txt", 1000, 77, 5);
    TempImage file(image);
    LocalHeader h;
    ASSERT_EQ(ReadLocalHeader(ImageFile, 64, &h), WALK_ENTRY);
    EXPECT_EQ(h.Method, 8);
    EXPECT_EQ(h.ModTime, 0x6000);
    EXPECT_EQ(h.ModDate, 0x5A21);
    EXPECT_EQ(h.Crc32, 0x12345678u);
    EXPECT_EQ(h.CompressedSize, 77u);
    EXPECT_EQ(h.UncompressedSize, 1000u);
    EXPECT_EQ(h.NameLength, 15);
    EXPECT_EQ(h.ExtraLength, 5);
    EXPECT_EQ(NextHeaderOffset(64, &h), 64u + 30 + 15 + 5 + 77);
    EXPECT_EQ(ReadLocalHeader(ImageFile, 65, &h), WALK_BROKEN);
    h.CompressedSize = 0u - (64 + 30 + 15 + 5);  // leads back to offset 0
    EXPECT_EQ(NextHeaderOffset(64, &h), 0u);
}

TEST(CheckArchive, SumsEveryEntryAndFindsTheDirectory)
{
    std::vector<uint8_t> image = Filler(10);
    AddEntry(image, "a.txt", 100, 40);
    AddEntry(image, "docs/", 0, 0);
    AddEntry(image, "docs/b.bin", 5000, 300, 9);  // extra field stepped over
    uint32_t directory = (uint32_t)image.size();
    AppendDirectory(image, 10);
    TempImage file(image);
    ArchiveSummary archive;
    ASSERT_EQ(CheckArchive(ImageFile, &archive), ARCHIVE_OK);
    EXPECT_EQ(archive.First, 10u);
    EXPECT_EQ(archive.Directory, directory);
    EXPECT_EQ(archive.Entries, 3u);
    EXPECT_EQ(archive.TotalSize, 5100u);
}

// What each kind of failure is called (--describe names it); the entries
// that agreed before it are counted.
TEST(CheckArchive, TellsWhatFails)
{
    std::vector<uint8_t> good;
    AddEntry(good, "one", 7, 1);
    AddEntry(good, "two", 9, 1);
    AddEntry(good, std::string(250, 'n'), 10, 3);
    AppendDirectory(good, 0);
    const size_t end = good.size() - 22, directory = Get32At(good, end + 16);
    const size_t second = directory + 46 + 3;
    auto with = [&](size_t at, uint8_t value) {
        std::vector<uint8_t> image = good;
        image[at] = value;
        return image;
    };
    std::vector<uint8_t> longName, described = with(second + 8, 8), zip64 = good;
    std::fill(zip64.begin() + (long)second + 24, zip64.begin() + (long)second + 28, 0xFF);
    AddEntry(longName, std::string(251, 'n'), 10, 3);
    AppendDirectory(longName, 0);
    struct Case {
        std::vector<uint8_t> image;
        ArchiveCheck result;
        uint32_t entries;
    } cases[] = {
        {good, ARCHIVE_OK, 3},
        {Filler(100), ARCHIVE_NO_ENTRIES, 0},
        {std::vector<uint8_t>(good.begin(), good.end() - 1), ARCHIVE_NO_END_RECORD, 0},
        {with(end + 4, 1), ARCHIVE_ZIP64, 0},            // another disk
        {zip64, ARCHIVE_ZIP64, 1},                       // a size of 0xFFFFFFFF
        {described, ARCHIVE_DATA_DESCRIPTOR, 1},
        {with(second, 'Q'), ARCHIVE_BAD_DIRECTORY, 1},
        {with(second + 46, 'T'), ARCHIVE_DISAGREES, 1},  // a name byte
        {longName, ARCHIVE_DISAGREES, 0},                // 251 bytes
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(&c - cases);
        TempImage file(c.image);
        ArchiveSummary archive;
        EXPECT_EQ(CheckArchive(ImageFile, &archive), c.result);
        EXPECT_EQ(archive.Entries, c.entries);
    }
}

}  // namespace
