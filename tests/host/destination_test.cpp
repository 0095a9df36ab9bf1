// The fixed destination as the stub picks it: %NAME% references expanded
// from the user's environment, and a folder that cannot be used refused
// with one box that names it, exit code 1, before anything is made.
#include <gtest/gtest.h>

#include "archive/config.h"
#include "extract/extract.h"
#include "host_testing.h"
#include "inflate/inflate.h"
#include "messages/messages.h"
#include "pack_test_util.h"
#include "test_image.h"

using namespace packtest;

namespace {

class FixedDestination : public ::testing::Test {
protected:
    void SetUp() override
    {
        pack::PrepareStubDecoder();
        HostThrowOnExit();
        HostResetBoxes();
        HostVariables = {{"LOCALAPPDATA", "C:\\Users\\ann\\AppData\\Local"}, {"HOMEPATH", "\\Users\\ann"}};
        MainWindow = nullptr;
        MessageCaption = u"";
    }
    void TearDown() override { HostVariables.clear(); }

    // The folder FixedFolder gives for fixed (with runCommand and waitFile
    // configured), or the text of the box that refused it.
    std::string Pick(const std::string &fixed, const std::string &waitFile = "")
    {
        pack::ConfigSettings settings;
        settings.flags = SFX_UTF8_TEXTS;
        settings.destKind = DEST_FIXED;
        settings.texts[CFG_FIXED_DIR] = fixed;
        settings.texts[CFG_RUN_COMMAND] = waitFile.empty() ? "" : "setup.exe";
        settings.texts[CFG_WAIT_FILE] = waitFile;
        TempImage image(ImageAround(pack::BuildConfigBlock(settings)));
        HostResetBoxes();
        EXPECT_EQ(ReadConfig(ImageFile), CONFIG_OK);
        try {
            return "folder " + HostUtf8(FixedFolder());
        } catch (const HostExit &exit) {
            EXPECT_EQ(exit.code, 1u);
            EXPECT_EQ(HostBoxes.size(), 1u);
            return HostBoxes.empty() ? "" : HostBoxes.back().text;
        }
    }
};

TEST_F(FixedDestination, ReferencesAreExpandedFromTheUsersEnvironment)
{
    EXPECT_EQ(Pick("%LocalAppData%\\Programs\\Demo"), "folder C:\\Users\\ann\\AppData\\Local\\Programs\\Demo");
    EXPECT_EQ(Pick("D:\\Tools"), "folder D:\\Tools");
    EXPECT_EQ(Pick("\\\\server\\share\\Demo"), "folder \\\\server\\share\\Demo");
    EXPECT_TRUE(HostBoxes.empty());
}

TEST_F(FixedDestination, AFolderThatIsNotAbsoluteOnceExpandedIsRefusedByName)
{
    EXPECT_EQ(Pick("%NOSUCH%\\Demo"),
              "The folder %NOSUCH%\\Demo cannot be extracted to. Nothing was extracted.");
    EXPECT_EQ(Pick("C:\\Demo %NOSUCH%"),
              "The folder C:\\Demo %NOSUCH% cannot be extracted to. Nothing was extracted.");
    EXPECT_EQ(Pick("%HOMEPATH%\\Demo"),
              "The folder \\Users\\ann\\Demo cannot be extracted to. Nothing was extracted.");
    EXPECT_EQ(Pick("Demo"), "The folder Demo cannot be extracted to. Nothing was extracted.");
    EXPECT_EQ(Pick("\\\\\\Demo"), "The folder \\\\\\Demo cannot be extracted to. Nothing was extracted.");
}

TEST_F(FixedDestination, AFolderTooLongOnceExpandedIsRefused)
{
    HostVariables["LONG"] = "C:\\" + std::string(250, 'l');
    std::string box = Pick("%LONG%\\Programs");
    EXPECT_EQ(box.substr(0, 16), "The folder %LONG");
    // Room is kept for the backslash.
    HostVariables["LONG"] = "C:\\" + std::string(255, 'l');
    EXPECT_EQ(Pick("%LONG%"), "folder " + HostVariables["LONG"]);
    HostVariables["LONG"] += "l";
    EXPECT_EQ(Pick("%LONG%"), "The folder %LONG% cannot be extracted to. Nothing was extracted.");
}

TEST_F(FixedDestination, TheWaitFileBehindTheFolderMustFitAsWell)
{
    std::string folder = "C:\\" + std::string(200, 'f');
    EXPECT_EQ(Pick(folder, std::string(55, 'w')), "folder " + folder);
    EXPECT_EQ(Pick(folder, std::string(56, 'w')),
              "The folder " + folder + " cannot be extracted to. Nothing was extracted.");
}

}  // namespace
