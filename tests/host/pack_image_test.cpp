// brevant-pack: the configuration block's layout, the image's layout and its
// placement rules.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>

#include <sstream>

#include "archive/config.h"
#include "inflate/inflate.h"
#include "messages/messages.h"
#include "pack_test_util.h"

using namespace packtest;
using pack::Coder;
using pack::Encoding;

namespace {

// ---- The configuration block ----------------------------------------------------------

TEST(ConfigBlock, FixedPartThenTerminatedStringsThenTheIcon)
{
    pack::ConfigSettings settings;
    settings.flags = SFX_EXTRACTOR_UI | SFX_CTL3D;
    settings.destKind = DEST_IMAGE_DIR;
    const char *texts[] = {"s", "i", "a", "d", "f", "r", "w"};
    for (int i = 0; i < 7; i++)
        settings.texts[i] = texts[i];
    settings.icon = {9, 8, 7};
    Bytes block = pack::BuildConfigBlock(settings);
    ASSERT_EQ(block.size(), 40u + 7 * 2 + 3);
    EXPECT_EQ(Get32(block, 0), (uint32_t)(SFX_EXTRACTOR_UI | SFX_CTL3D));
    EXPECT_EQ(Get32(block, 4), (uint32_t)DEST_IMAGE_DIR);
    for (int slot = 0; slot < 7; slot++) {
        uint32_t at = Get32(block, 8 + 4 * slot);
        EXPECT_EQ(at, 40u + 2 * slot);
        EXPECT_EQ(block[at], (uint8_t)texts[slot][0]);
        EXPECT_EQ(block[at + 1], 0);
    }
    EXPECT_EQ(Get32(block, 36), 54u);
    EXPECT_EQ(Bytes(block.begin() + 54, block.end()), (Bytes{9, 8, 7}));
}

TEST(ConfigBlock, PaddingGoesBetweenTheStringsAndTheIcon)
{
    pack::ConfigSettings settings;
    settings.icon = {1};
    Bytes plain = pack::BuildConfigBlock(settings);
    Bytes padded = pack::BuildConfigBlock(settings, 5);
    EXPECT_EQ(padded.size(), plain.size() + 5);
    EXPECT_EQ(Get32(padded, 36), Get32(plain, 36) + 5);
    EXPECT_EQ(padded.back(), 1);
    EXPECT_NE(Crc(plain), Crc(padded));
}

TEST(ConfigBlock, ATextWithAZeroByteIsRefused)
{
    pack::ConfigSettings settings;
    settings.texts[CFG_RUN_COMMAND] = std::string("a\0b", 3);
    EXPECT_THROW(pack::BuildConfigBlock(settings), pack::PackError);
}

// ---- The image ----------------------------------------------------------------------

pack::ImagePlan SmallPlan()
{
    pack::ImagePlan plan;
    plan.stub = FakeStub(5000);
    plan.config.texts[CFG_DESCRIPTION] = "A small archive";
    return plan;
}

// A folder and a file beside it: "dir/", "dir/a.txt" (3000 bytes that
// shrink), "b.bin" (three that do not).
struct SmallInputs : TempDir {
    SmallInputs()
    {
        Write("dir/a.txt", std::string(3000, 'a'));
        Write("b.bin", std::string("\x01\x02\x03", 3));
    }
    Bytes Image(const Bytes &prefix) const { return WriteImage(prefix, *this, {"dir", "b.bin"}); }
};

TEST(Image, HeaderFollowsTheStubAndEntriesFollowTheStream)
{
    pack::ImagePlan plan = SmallPlan();
    pack::BuiltImage built = pack::BuildPrefix(plan);
    const Bytes image = SmallInputs().Image(built.bytes);
    EXPECT_EQ(Bytes(image.begin(), image.begin() + 5000), plan.stub);
    EXPECT_EQ(built.configOffset, 5000u);
    EXPECT_EQ(std::string(image.begin() + 5000, image.begin() + 5004), "JAVA");
    Bytes block = pack::BuildConfigBlock(plan.config, built.configPadding);
    EXPECT_EQ(Get32(image, 5004), Crc(block));
    EXPECT_EQ(Get32(image, 5008), block.size());
    EXPECT_EQ(built.firstEntryOffset, 5012 + built.configStreamSize);
    EXPECT_EQ(Find(image, "PK\3\4"), built.firstEntryOffset);
    EXPECT_EQ(Find(image, "JAVA"), 5000u);
}

TEST(Image, CentralDirectoryOffsetsCountFromTheStartOfTheImage)
{
    pack::BuiltImage built = pack::BuildPrefix(SmallPlan());
    const Bytes image = SmallInputs().Image(built.bytes);
    auto entries = CentralDirectory(image);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].local, built.firstEntryOffset);
    for (const CentralEntry &e : entries) {
        EXPECT_EQ(Get32(image, e.local), 0x04034B50u);
        EXPECT_EQ(Get16(image, e.local + 6) & 8, 0) << "no data descriptor";
        EXPECT_EQ(Get32(image, e.local + 14), e.crc);
        EXPECT_EQ(Get32(image, e.local + 18), e.compressed);
        EXPECT_EQ(Get32(image, e.local + 22), e.size);
    }
    EXPECT_EQ(entries[0].name, "dir/");
    EXPECT_EQ(entries[0].external, 0x10u);
    EXPECT_EQ(entries[1].method, 8) << "3000 equal bytes shrink";
    EXPECT_EQ(entries[2].method, 0) << "three bytes do not";
    EXPECT_EQ(Get32(image, image.size() - 6) + Get32(image, image.size() - 10), image.size() - 22)
        << "the directory ends where the end record begins";
}

TEST(Image, EntriesThatDoNotShrinkAreStoredAndOthersDeflated)
{
    TempDir dir;
    Bytes noise(5000);
    uint32_t x = 1;
    for (auto &b : noise)
        b = (uint8_t)((x = x * 1103515245 + 12345) >> 24);
    dir.Write("n", noise);
    dir.Write("t", std::string(5000, 't'));
    dir.Write("e", "");
    for (int level : {12, 0}) {
        std::string log;
        auto entries = CentralDirectory(WriteImage(FakeStub(), dir, {"n", "t", "e"}, level, &log));
        ASSERT_EQ(entries.size(), 3u);
        EXPECT_EQ(entries[0].method, 0) << level;
        EXPECT_EQ(entries[1].method, level ? 8 : 0) << "level 0 stores";
        EXPECT_EQ(entries[2].method, 0) << level;
        EXPECT_EQ(log, "");
    }
}

TEST(Image, EveryDeflatedStreamIsAcceptedByTheStubsDecoder)
{
    Bytes text;
    for (int i = 0; i < 20000; i++)
        text.push_back((uint8_t)"abcdefgh\n"[i * 7 % 9]);
    for (int level : {1, 6, 12})
        EXPECT_TRUE(pack::StubDecodes(pack::Deflate(text, {Coder::Libdeflate, level}), text));
    EXPECT_TRUE(pack::StubDecodes(pack::Deflate(text, {Coder::Zlib, 9}), text));
    EXPECT_TRUE(pack::StubDecodes(pack::Deflate(text, {Coder::Stored, 0}), text));
    Bytes wrong = text;
    wrong[100] ^= 1;
    EXPECT_FALSE(pack::StubDecodes(pack::Deflate(text, {Coder::Libdeflate, 12}), wrong));
    Bytes cut = pack::Deflate(text, {Coder::Libdeflate, 12});
    cut.resize(cut.size() / 2);
    EXPECT_FALSE(pack::StubDecodes(cut, text));
}

// Pieces compressed on their own and joined, every number of unused bits at
// a join among them, read as one stream by zlib and by the stub's decoder.
TEST(Image, StreamsJoinedAtByteBoundariesDecodeAsOne)
{
    Bytes whole, joined;
    uint32_t x = 9;
    for (int part = 0; part < 48; part++) {
        Bytes piece(100 + part * 37 % 900);
        for (auto &b : piece)
            b = (uint8_t)(part % 3 ? "abcab"[(x = x * 1103515245 + 12345) >> 29 & 3] : (x = x * 1103515245 + 12345) >> 24);
        bool last = part == 47;
        Bytes stream = part % 5 == 4 ? pack::DeflateStored(piece, last) : pack::Deflate(piece, {Coder::Libdeflate, 1 + part % 12});
        if (!last && part % 5 != 4)
            pack::MakeNonFinal(stream);
        whole.insert(whole.end(), piece.begin(), piece.end());
        joined.insert(joined.end(), stream.begin(), stream.end());
    }
    Bytes out(whole.size());
    uLongf length = out.size();
    z_stream z{};
    ASSERT_EQ(inflateInit2(&z, -15), Z_OK);
    z.next_in = joined.data();
    z.avail_in = (uInt)joined.size();
    z.next_out = out.data();
    z.avail_out = (uInt)length;
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
    EXPECT_EQ(z.avail_in, 0u) << "the joined stream ends where its last piece does";
    inflateEnd(&z);
    EXPECT_EQ(out, whole);
    EXPECT_TRUE(pack::StubDecodes(joined, whole));
}

TEST(Image, ASignatureInTheCompressedBlockIsAvoided)
{
    pack::ImagePlan plan = SmallPlan();
    plan.config.texts[CFG_DESCRIPTION] = std::string("xx PK\3\4 xx", 10);
    plan.configEncodings = {{Coder::Stored, 0}, {Coder::Libdeflate, 12}};
    pack::BuiltImage built = pack::BuildPrefix(plan);
    EXPECT_EQ(built.configEncoding.coder, Coder::Libdeflate);
    EXPECT_EQ(Find(built.bytes, "PK\3\4"), std::string::npos);
}

// Four bytes that, appended to data, make its CRC-32 equal target: the CRC
// register's last four steps run backwards.
Bytes ForgeCrc(const Bytes &data, uint32_t target)
{
    uint32_t table[256];
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t c = i;
        for (int k = 0; k < 8; k++)
            c = c & 1 ? c >> 1 ^ 0xEDB88320 : c >> 1;
        table[i] = c;
    }
    uint32_t reg = ~target;
    for (int step = 0; step < 4; step++) {
        uint32_t index = 0;
        while (table[index] >> 24 != reg >> 24)
            index++;
        reg = (reg ^ table[index]) << 8 | index;
    }
    uint32_t word = reg ^ ~Crc(data);
    return Bytes{(uint8_t)word, (uint8_t)(word >> 8), (uint8_t)(word >> 16), (uint8_t)(word >> 24)};
}

TEST(Image, ASignatureInTheHeadersCrcIsAvoidedByPadding)
{
    pack::ImagePlan plan = SmallPlan();
    Bytes icon = {'i', 'c', 'o', 'n'};
    plan.config.icon = icon;
    Bytes forged = ForgeCrc(pack::BuildConfigBlock(plan.config), 0x04034B50);  // "PK\3\4"
    plan.config.icon.insert(plan.config.icon.end(), forged.begin(), forged.end());
    ASSERT_EQ(Crc(pack::BuildConfigBlock(plan.config)), 0x04034B50u);

    pack::BuiltImage built = pack::BuildPrefix(plan);
    EXPECT_GT(built.configPadding, 0u);
    EXPECT_EQ(Find(built.bytes, "PK\3\4"), std::string::npos);
}

TEST(Image, AStubHoldingASignatureIsRefused)
{
    for (const char *signature : {"JAVA", "PK\3\4"}) {
        pack::ImagePlan plan = SmallPlan();
        std::copy(signature, signature + 4, plan.stub.begin() + 3000);
        EXPECT_THROW(pack::BuildPrefix(plan), pack::PackError) << signature;
    }
    pack::ImagePlan plan = SmallPlan();
    plan.stub[0] = 'X';
    EXPECT_THROW(pack::BuildPrefix(plan), pack::PackError);
}

TEST(Image, TheFirstEntryMustBeginWithinTheScanLimit)
{
    pack::ImagePlan plan = SmallPlan();
    plan.stub = FakeStub(59000);
    plan.config.texts[CFG_DESCRIPTION] = "short";
    EXPECT_NO_THROW(pack::BuildPrefix(plan));
    Bytes noise(2000);
    uint32_t x = 7;
    for (auto &b : noise)
        b = (uint8_t)((x = x * 1103515245 + 12345) >> 24);
    plan.config.icon = noise;
    try {
        pack::BuildPrefix(plan);
        FAIL() << "an image whose first entry lies past 59,996 was built";
    } catch (const pack::PackError &error) {
        EXPECT_NE(std::string(error.what()).find("59996"), std::string::npos) << error.what();
    }
}

TEST(Image, AStubLongerThan59996BytesIsRefused)
{
    pack::ImagePlan plan = SmallPlan();
    plan.stub = FakeStub(59997);
    EXPECT_THROW(pack::BuildPrefix(plan), pack::PackError);
}

}  // namespace
