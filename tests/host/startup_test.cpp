// Start-up: the image's folder, and the end of a run without a usable
// configuration.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>

#include "archive/config.h"
#include "inflate/inflate.h"
#include "messages/messages.h"
#include "host_testing.h"
#include "startup/startup.h"
#include "test_image.h"

namespace {

std::string Cut(const char *path)
{
    std::u16string buffer = HostUtf16(path);
    CutAtLastBackslash(&buffer[0]);
    return HostUtf8(buffer.c_str());
}

TEST(ImageDir, IsThePathCutAtItsLastBackslash)
{
    EXPECT_EQ(Cut("C:\\Users\\ann\\Downloads\\setup.exe"), "C:\\Users\\ann\\Downloads");
    EXPECT_EQ(Cut("\\\\server\\share\\setup.exe"), "\\\\server\\share");
}

TEST(ImageDir, IsTheBareDriveForAnImageInADrivesRoot)
{
    EXPECT_EQ(Cut("C:\\setup.exe"), "C:");
}

TEST(ImageDir, IsEmptyForAPathWithoutBackslash)
{
    EXPECT_EQ(Cut("setup.exe"), "");
    EXPECT_EQ(Cut(""), "");
}

class StartUp : public ::testing::Test {
protected:
    void SetUp() override
    {
        HostThrowOnExit();
        HostResetBoxes();
        HostDialogs.clear();
    }
    void TearDown() override { HostImagePath.clear(); }

    // Runs SfxMain on an image file at path; the exit code, or SfxMain's result.
    long Run(const std::string &path)
    {
        HostImagePath = path;
        try {
            return SfxMain(nullptr);
        } catch (const HostExit &e) {
            return (long)e.code;
        }
    }
};

TEST_F(StartUp, AnImageWithoutConfigurationEndsWithTheInternalErrorBox)
{
    std::vector<uint8_t> image(5000, 0x90);
    TempImage file(image);
    EXPECT_EQ(Run(file.path()), 1);
    EXPECT_TRUE(HostDialogs.empty());
    ASSERT_EQ(HostBoxes.size(), 1u);
    EXPECT_EQ(HostBoxes[0].text, "Internal error. Bad download?");
    EXPECT_EQ(HostBoxes[0].caption, "");
    EXPECT_EQ(HostBoxes[0].owner, nullptr);
    EXPECT_EQ(HostBoxes[0].type, 0x30u);
}

TEST_F(StartUp, AnImageThatCannotBeOpenedEndsTheSameWay)
{
    EXPECT_EQ(Run("/nonexistent/dir/setup.exe"), 1);
    ASSERT_EQ(HostBoxes.size(), 1u);
    EXPECT_EQ(HostBoxes[0].text, "Internal error. Bad download?");
}

// The smallest usable configuration: no flags, the temporary folder, every
// slot pointing at one zero byte; compressed as one stored deflate block.
std::vector<uint8_t> ImageWithSmallestConfiguration()
{
    std::vector<uint8_t> block;
    Put32(block, 0);
    Put32(block, DEST_TEMP);
    for (int i = 0; i < CONFIG_SLOTS; i++)
        Put32(block, CONFIG_FIXED_SIZE);
    block.push_back(0);

    std::vector<uint8_t> image(3000, 0x90);
    image.reserve(image.size() + 12 + 5 + block.size());
    for (char c : {'J', 'A', 'V', 'A'})
        image.push_back((uint8_t)c);
    Put32(image, (uint32_t)crc32(0, block.data(), (uInt)block.size()));
    Put32(image, (uint32_t)block.size());
    image.push_back(0x01);  // last block, stored
    Put16(image, (uint16_t)block.size());
    Put16(image, (uint16_t)~block.size());
    image.insert(image.end(), block.begin(), block.end());
    // One stored entry and the archive's directory.
    uint32_t first = (uint32_t)image.size();
    Put32(image, 0x04034B50);
    for (uint16_t v : {10, 0, 0, 0, 0})  // version, flags, method, time, date
        Put16(image, v);
    for (uint32_t v : {0xE8B7BE43u, 1u, 1u})  // CRC-32 of "a", sizes
        Put32(image, v);
    Put16(image, 1);
    Put16(image, 0);
    image.insert(image.end(), {'a', 'a'});  // name and data
    AppendDirectory(image, first);
    return image;
}

TEST_F(StartUp, AUsableConfigurationIsLoadedWithoutAnyBox)
{
    TempImage file(ImageWithSmallestConfiguration());
    EXPECT_EQ(Run(file.path()), 0);
    EXPECT_TRUE(HostBoxes.empty());
    ASSERT_NE(SfxConfig, nullptr);
    EXPECT_EQ(ConfigSize, 41u);
    EXPECT_EQ(SfxConfig->DestKind, (uint32_t)DEST_TEMP);
    EXPECT_STREQ(ConfigString(CFG_RUN_COMMAND), "");
    EXPECT_EQ(HostUtf8(MessageCaption), "");
    EXPECT_EQ(HostUtf8(InternalErrorText), "Internal error. Bad download?");
    // No SFX_EXTRACTOR_UI: the installer form.
    EXPECT_EQ(HostDialogs, std::vector<uint16_t>{IDD_INSTALLER});
    // The window holds the configuration and zeros after it, which is what
    // a distance before the first entry's start copies.
    EXPECT_EQ(std::count(OutputWindow + ConfigSize, OutputWindow + WINDOW_SIZE, 0),
              (long)(WINDOW_SIZE - ConfigSize));
}

// The archive is checked before the dialog: a damaged download shows
// nothing but the report.
TEST_F(StartUp, ADamagedArchiveEndsTheRunBeforeTheDialog)
{
    std::vector<uint8_t> image = ImageWithSmallestConfiguration();
    image.back() = 1;  // the end record's comment runs past the end
    TempImage file(image);
    EXPECT_EQ(Run(file.path()), 1);
    EXPECT_TRUE(HostDialogs.empty());
    ASSERT_EQ(HostBoxes.size(), 1u);
    EXPECT_EQ(HostBoxes[0].text, "Error reading from archive.");
}

}  // namespace
