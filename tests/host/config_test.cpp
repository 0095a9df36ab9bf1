// ReadConfig and ConfigString: blocks built by the packer load in every
// stream form; corrupt and inconsistent blocks are bad, an image that ends
// inside the block a read error (the stub's start-up names each).
#include <gtest/gtest.h>

#include <string.h>

#include "archive/archive.h"
#include "archive/config.h"
#include "inflate/inflate.h"
#include "messages/messages.h"
#include "pack_test_util.h"
#include "host_testing.h"
#include "test_image.h"

using namespace packtest;
using pack::Coder;
using pack::Encoding;

namespace {

class ReadConfigTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        pack::PrepareStubDecoder();
        HostResetBoxes();
        InputBudget = 0;  // as start-up leaves it
        SfxConfig = nullptr;
        ConfigSize = 0;
    }

    // Reads the image's block; what became of it.
    ConfigResult Load(const Bytes &image)
    {
        TempImage file(image);
        return ReadConfig(ImageFile);
    }

    void ExpectBad(const Bytes &image)
    {
        EXPECT_EQ(Load(image), CONFIG_BAD);
        EXPECT_TRUE(HostBoxes.empty());
    }

    static pack::ConfigSettings Settings()
    {
        pack::ConfigSettings settings;
        settings.flags = SFX_AUTOSTART | SFX_OVERWRITE;
        settings.destKind = DEST_FIXED;
        const char *texts[] = {"Start", "Init", "About\r\nus", "Description", "C:\\Target", "setup.exe /q",
                               "setup.log"};
        for (int i = 0; i < 7; i++)
            settings.texts[i] = texts[i];
        return settings;
    }

    static Bytes BlockWith(uint32_t destKind, int slot, uint32_t offset)
    {
        pack::ConfigSettings settings = Settings();
        settings.destKind = destKind;
        Bytes block = pack::BuildConfigBlock(settings);
        for (int i = 0; i < 4; i++)
            block[8 + 4 * slot + i] = (uint8_t)(offset >> (8 * i));
        return block;
    }

    void ExpectSettingsLoaded(const pack::ConfigSettings &settings)
    {
        ASSERT_NE(SfxConfig, nullptr);
        EXPECT_EQ(SfxConfig->Flags, settings.flags);
        EXPECT_EQ(SfxConfig->DestKind, settings.destKind);
        for (int slot = 0; slot < 7; slot++)
            EXPECT_STREQ(ConfigString(slot), settings.texts[slot].c_str()) << slot;
        EXPECT_TRUE(HostBoxes.empty());
    }
};

// ---- Images built by the packer ------------------------------------------------

// An image as the packer lays it out: the prefix's offsets, and in bytes the
// whole image, the prefix followed by one entry.
pack::BuiltImage Build(const pack::ConfigSettings &settings, std::vector<Encoding> encodings)
{
    pack::ImagePlan plan;
    plan.stub = FakeStub();
    plan.config = settings;
    plan.configEncodings = std::move(encodings);
    pack::BuiltImage built = pack::BuildPrefix(plan);
    TempDir dir;
    dir.Write("a.txt", std::string(100, 'a'));
    built.bytes = WriteImage(built.bytes, dir, {"a.txt"});
    return built;
}

TEST_F(ReadConfigTest, LoadsABlockOfStoredDeflateBlocks)
{
    auto built = Build(Settings(), {{Coder::Stored, 0}});
    EXPECT_EQ(built.bytes[built.configOffset + 12] >> 1 & 3, 0);
    EXPECT_EQ(Load(built.bytes), CONFIG_OK);
    ExpectSettingsLoaded(Settings());
    EXPECT_EQ(ConfigSize, built.configSize);
}

TEST_F(ReadConfigTest, LoadsABlockOfFixedCodes)
{
    auto built = Build(Settings(), {{Coder::ZlibFixed, 9}});
    EXPECT_EQ(built.bytes[built.configOffset + 12] >> 1 & 3, 1);
    EXPECT_EQ(Load(built.bytes), CONFIG_OK);
    ExpectSettingsLoaded(Settings());
}

TEST_F(ReadConfigTest, LoadsABlockOfDynamicCodes)
{
    pack::ConfigSettings settings = Settings();
    for (int i = 0; i < 80; i++)
        settings.texts[CFG_DESCRIPTION] += "Dynamic Huffman codes pay off for longer texts. ";
    auto built = Build(settings, {});
    EXPECT_EQ(built.bytes[built.configOffset + 12] >> 1 & 3, 2);
    EXPECT_EQ(Load(built.bytes), CONFIG_OK);
    ExpectSettingsLoaded(settings);
}

TEST_F(ReadConfigTest, TheIconSlotRunsToTheEndOfTheBlock)
{
    pack::ConfigSettings settings = Settings();
    settings.icon = Bytes{1, 2, 3, 4, 5};
    auto built = Build(settings, {});
    ASSERT_EQ(Load(built.bytes), CONFIG_OK);
    EXPECT_EQ(ConfigSize - SfxConfig->Offsets[CFG_ICON], 5u);
    EXPECT_EQ(memcmp(ConfigString(CFG_ICON), "\1\2\3\4\5", 5), 0);
}

TEST_F(ReadConfigTest, WithoutAnIconSlotSevenIsOneZeroByte)
{
    auto built = Build(Settings(), {});
    ASSERT_EQ(Load(built.bytes), CONFIG_OK);
    EXPECT_EQ(SfxConfig->Offsets[CFG_ICON], ConfigSize - 1);
    EXPECT_EQ(*ConfigString(CFG_ICON), 0);
}

TEST_F(ReadConfigTest, AllEmptyTextsShareOneZeroByte)
{
    pack::ConfigSettings settings;
    settings.destKind = DEST_TEMP;
    auto built = Build(settings, {});
    ASSERT_EQ(Load(built.bytes), CONFIG_OK);
    EXPECT_EQ(ConfigSize, 41u);
    for (int slot = 0; slot < 8; slot++)
        EXPECT_EQ(SfxConfig->Offsets[slot], 40u);
}

TEST_F(ReadConfigTest, FlagBitsAboveBitFourAreKept)
{
    pack::ConfigSettings settings = Settings();
    settings.flags = 0xFFFFFFE0 | SFX_EXTRACTOR_UI;
    EXPECT_EQ(Load(ImageAround(pack::BuildConfigBlock(settings))), CONFIG_OK);
    EXPECT_EQ(SfxConfig->Flags, settings.flags);
}

// The texts as the dialog shows them: UTF-8 under SFX_UTF8_TEXTS, with
// U+FFFD for each byte that is not; else in the code page (Latin-1 here).
TEST_F(ReadConfigTest, TextsAreDecodedAsUtf8UnderItsFlagElseInTheCodePage)
{
    pack::ConfigSettings settings = Settings();
    settings.texts[CFG_DESCRIPTION] = "\xCE\x95\xCE\xBB \xE6\x97\xA5 \xF0\x9F\x98\x80";
    settings.texts[CFG_ABOUT_TEXT] = "bad \xFF\xC3 end";
    settings.flags |= SFX_UTF8_TEXTS;
    ASSERT_EQ(Load(ImageAround(pack::BuildConfigBlock(settings))), CONFIG_OK);
    EXPECT_EQ(ConfigText(CFG_DESCRIPTION), std::u16string(u"\u0395\u03BB \u65E5 \U0001F600"));
    EXPECT_EQ(ConfigText(CFG_ABOUT_TEXT), std::u16string(u"bad \uFFFD\uFFFD end"));
    EXPECT_EQ(ConfigText(CFG_RUN_COMMAND), std::u16string(u"setup.exe /q"));

    settings.flags &= ~SFX_UTF8_TEXTS;
    ASSERT_EQ(Load(ImageAround(pack::BuildConfigBlock(settings))), CONFIG_OK);
    EXPECT_EQ(ConfigText(CFG_ABOUT_TEXT), std::u16string(u"bad \u00FF\u00C3 end"));
}

TEST_F(ReadConfigTest, AFixedFolderOf259CharactersFits)
{
    pack::ConfigSettings settings = Settings();
    settings.texts[CFG_FIXED_DIR] = "C:\\" + std::string(256, 'd');
    EXPECT_EQ(Load(ImageAround(pack::BuildConfigBlock(settings))), CONFIG_OK);
    EXPECT_EQ(strlen(ConfigString(CFG_FIXED_DIR)), 259u);
}

TEST_F(ReadConfigTest, ALongTextOutsideTheFixedDestinationIsFine)
{
    pack::ConfigSettings settings = Settings();
    settings.destKind = DEST_TEMP;
    settings.texts[CFG_FIXED_DIR] = std::string(1000, 'd');  // unused with kind 1
    EXPECT_EQ(Load(ImageAround(pack::BuildConfigBlock(settings))), CONFIG_OK);
}

TEST_F(ReadConfigTest, AHeaderAtTheLastScannedOffsetIsFound)
{
    Bytes block = pack::BuildConfigBlock(Settings());
    Bytes image = ImageAround(FakeStub(59996), block, Crc(block), (uint32_t)block.size());
    EXPECT_EQ(Load(image), CONFIG_OK);
}

// ---- Corrupt blocks ------------------------------------------------------------------

TEST_F(ReadConfigTest, AHeaderOneBytePastTheScanLimitIsMissing)
{
    Bytes block = pack::BuildConfigBlock(Settings());
    Bytes image = ImageAround(FakeStub(59997), block, Crc(block), (uint32_t)block.size());
    {
        TempImage file(image);
        EXPECT_EQ(FindSignature(ImageFile, CONFIG_SIG_LOW, CONFIG_SIG_HIGH), -1);
    }
    ExpectBad(image);
}

TEST_F(ReadConfigTest, AnImageWithoutHeaderIsBad)
{
    ExpectBad(FakeStub(70000));
    HostResetBoxes();
    ExpectBad(Bytes());
}

TEST_F(ReadConfigTest, ACrcOffByOneBitIsBad)
{
    Bytes block = pack::BuildConfigBlock(Settings());
    ExpectBad(ImageAround(FakeStub(), block, Crc(block) ^ 1, (uint32_t)block.size()));
}

TEST_F(ReadConfigTest, AStreamLongerThanSizeIsBadWithoutWritingPastTheBlock)
{
    Bytes block = pack::BuildConfigBlock(Settings());
    ExpectBad(ImageAround(FakeStub(), block, Crc(block), (uint32_t)block.size() - 1));
}

TEST_F(ReadConfigTest, AStreamShorterThanSizeIsBad)
{
    // The CRC matches the bytes the stream yields; the rest of the block
    // would be left uninitialised.
    Bytes block = pack::BuildConfigBlock(Settings());
    ExpectBad(ImageAround(FakeStub(), block, Crc(block), (uint32_t)block.size() + 1));
}

TEST_F(ReadConfigTest, ACorruptStreamIsBad)
{
    Bytes block = pack::BuildConfigBlock(Settings());
    Bytes image = ImageAround(block, {Coder::Libdeflate, 12});
    image[FakeStub().size() + 12] |= 6;  // block type 3, which does not exist
    ExpectBad(image);
}

TEST_F(ReadConfigTest, AStreamThatDoesNotEndAtTheFirstLocalHeaderIsBad)
{
    Bytes block = pack::BuildConfigBlock(Settings());
    for (pack::Encoding encoding : {pack::Encoding{Coder::Libdeflate, 12}, {Coder::Stored, 0}}) {
        Bytes image = ImageAround(block, encoding);
        size_t local = image.size() - 64 - 4;
        ASSERT_EQ(image[local], 'P');
        ASSERT_EQ(Load(image), CONFIG_OK);

        // A byte left over between the stream and the header.
        Bytes gap = image;
        gap.insert(gap.begin() + (long)local, 0);
        HostResetBoxes();
        ExpectBad(gap);
    }
}

TEST_F(ReadConfigTest, ATruncatedStreamIsAReadError)
{
    Bytes block = pack::BuildConfigBlock(Settings());
    Bytes image = ImageAround(block, {Coder::Stored, 0});
    image.resize(FakeStub().size() + 12 + 20);
    EXPECT_EQ(Load(image), CONFIG_READ_ERROR);
}

TEST_F(ReadConfigTest, AHeaderCutShortIsAReadError)
{
    Bytes image = FakeStub();
    image.insert(image.end(), {'J', 'A', 'V', 'A', 1, 2});
    EXPECT_EQ(Load(image), CONFIG_READ_ERROR);
}

TEST_F(ReadConfigTest, AnUnallocatableSizeIsBad)
{
    Bytes block = pack::BuildConfigBlock(Settings());
    Bytes image = ImageAround(FakeStub(), block, Crc(block), (uint32_t)block.size());
    HostAllocsUntilFailure = 0;
    ExpectBad(image);
    HostAllocsUntilFailure = -1;
}

// ---- Inconsistent blocks with a matching CRC -----------------------------------------

TEST_F(ReadConfigTest, AnEmptyBlockIsRejected)
{
    ExpectBad(ImageAround(Bytes()));
}

TEST_F(ReadConfigTest, ABlockShorterThanTheFixedPartIsRejected)
{
    ExpectBad(ImageAround(Bytes(39, 0)));
}

TEST_F(ReadConfigTest, AnOffsetAtTheEndOfTheBlockIsRejected)
{
    Bytes block = pack::BuildConfigBlock(Settings());
    for (int slot = 0; slot < 8; slot++) {
        HostResetBoxes();
        ExpectBad(ImageAround(BlockWith(DEST_FIXED, slot, (uint32_t)block.size())));
    }
}

TEST_F(ReadConfigTest, AnOffsetFarBeyondTheBlockIsRejected)
{
    ExpectBad(ImageAround(BlockWith(DEST_FIXED, CFG_RUN_COMMAND, 0x80000000)));
}

TEST_F(ReadConfigTest, AnOffsetIntoTheFixedPartIsAllowedWhenTerminated)
{
    // Offset 4 is DestKind, whose high bytes are zero: a string of one byte.
    EXPECT_EQ(Load(ImageAround(BlockWith(DEST_FIXED, CFG_ABOUT_TEXT, 4))), CONFIG_OK);
    EXPECT_STREQ(ConfigString(CFG_ABOUT_TEXT), "\4");
}

TEST_F(ReadConfigTest, AStringWithoutTerminatorIsRejected)
{
    pack::ConfigSettings settings = Settings();
    settings.icon = Bytes{'i', 'c', 'o', 'n'};
    Bytes block = pack::BuildConfigBlock(settings);
    uint32_t icon = Get32(block, 8 + 4 * CFG_ICON);
    for (int i = 0; i < 4; i++)
        block[8 + 4 * CFG_WAIT_FILE + i] = (uint8_t)(icon >> (8 * i));
    ExpectBad(ImageAround(block));
}

TEST_F(ReadConfigTest, TheIconSlotNeedsNoTerminator)
{
    pack::ConfigSettings settings = Settings();
    settings.icon = Bytes{'i', 'c', 'o', 'n'};
    EXPECT_EQ(Load(ImageAround(pack::BuildConfigBlock(settings))), CONFIG_OK);
}

TEST_F(ReadConfigTest, AFixedFolderOf260UnitsIsRejectedWhateverItsBytes)
{
    pack::ConfigSettings settings = Settings();
    settings.texts[CFG_FIXED_DIR] = "C:\\" + std::string(257, 'd');
    ExpectBad(ImageAround(pack::BuildConfigBlock(settings)));

    // 3 + 100 UTF-16 units in 303 bytes of UTF-8: a path buffer holds it.
    std::string folder = "C:\\";
    for (int i = 0; i < 100; i++)
        folder += "\xE6\xBC\xA2";  // U+6F22
    settings.flags |= SFX_UTF8_TEXTS;
    settings.texts[CFG_FIXED_DIR] = folder;
    HostBoxes.clear();
    ASSERT_EQ(Load(ImageAround(pack::BuildConfigBlock(settings))), CONFIG_OK);
    EXPECT_EQ(HostUtf8(ConfigText(CFG_FIXED_DIR)), folder);
}

}  // namespace
