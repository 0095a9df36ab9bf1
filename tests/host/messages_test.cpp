// Reports and prompts: which box each one shows, and what each answer does.
#include <gtest/gtest.h>

#include "messages/messages.h"
#include "host_testing.h"

namespace {

class Messages : public ::testing::Test {
protected:
    void SetUp() override
    {
        HostThrowOnExit();
        HostResetBoxes();
        MainWindow = nullptr;
        MessageCaption = u"";
    }
    void TearDown() override
    {
        MainWindow = nullptr;
        MessageCaption = u"";
    }
};

// Runs f and returns the exit code it ended the process with, or -1.
template <class F> long ExitCodeOf(F f)
{
    try {
        f();
    } catch (const HostExit &e) {
        return (long)e.code;
    }
    return -1;
}

TEST_F(Messages, AFatalReportShowsOneWarningBoxThenExitsWithOne)
{
    EXPECT_EQ(ExitCodeOf([] { ShowFatal(u"Internal error. Bad download?"); }), 1);
    ASSERT_EQ(HostBoxes.size(), 1u);
    EXPECT_EQ(HostBoxes[0].text, "Internal error. Bad download?");
    EXPECT_EQ(HostBoxes[0].caption, "");
    EXPECT_EQ(HostBoxes[0].owner, nullptr);
    EXPECT_EQ(HostBoxes[0].type, 0x30u);
}

TEST_F(Messages, ANullFatalTextExitsSilently)
{
    EXPECT_EQ(ExitCodeOf([] { ShowFatal(nullptr); }), 1);
    EXPECT_TRUE(HostBoxes.empty());
}

TEST_F(Messages, FatalStringShowsTheTextOfItsId)
{
    EXPECT_EQ(ExitCodeOf([] { FatalString(IDS_READ_ERROR); }), 1);
    ASSERT_EQ(HostBoxes.size(), 1u);
    EXPECT_EQ(HostBoxes[0].text, "Error reading from archive.");
}

TEST_F(Messages, BoxesAreOwnedByTheDialogAndCarryItsTitleOnceItExists)
{
    int dialog;
    MainWindow = &dialog;
    MessageCaption = u"Brevant Installer";
    ReportBadEntry(u"a.txt");
    ASSERT_EQ(HostBoxes.size(), 1u);
    EXPECT_EQ(HostBoxes[0].owner, &dialog);
    EXPECT_EQ(HostBoxes[0].caption, "Brevant Installer");
    EXPECT_EQ(HostBoxes[0].text, "Couldn't verify a.txt.");
    EXPECT_EQ(HostBoxes[0].type, 0x30u);
}

TEST_F(Messages, ReplacePromptNamesTheEntryAsStoredAndRepaintsTheDialog)
{
    int dialog;
    MainWindow = &dialog;
    HostBoxAnswers = {IDYES};
    EXPECT_TRUE(AskReplace(u"docs/readme.txt"));
    ASSERT_EQ(HostBoxes.size(), 1u);
    EXPECT_EQ(HostBoxes[0].text, "docs/readme.txt exists. Replace?");
    EXPECT_EQ(HostBoxes[0].type, 0x33u);
    ASSERT_EQ(HostRepaints.size(), 1u);
    EXPECT_EQ(HostRepaints[0], &dialog);
}

TEST_F(Messages, ReplacePromptAnswers)
{
    HostBoxAnswers = {IDNO, IDYES, 0};
    EXPECT_FALSE(AskReplace(u"a"));  // keep the file
    EXPECT_TRUE(AskReplace(u"a"));
    EXPECT_TRUE(AskReplace(u"a"));   // a box that could not be shown replaces
    HostBoxAnswers = {IDCANCEL};
    EXPECT_EQ(ExitCodeOf([] { AskReplace(u"a"); }), 1);
    EXPECT_EQ(HostBoxes.size(), 4u);  // Cancel shows no further box
}

TEST_F(Messages, CreateFailurePromptContinuesOnOkAndExitsOnCancel)
{
    HostBoxAnswers = {IDOK};
    AskCreateFailed(u"bin/tool.exe");
    ASSERT_EQ(HostBoxes.size(), 1u);
    EXPECT_EQ(HostBoxes[0].text,
              "Couldn't create bin/tool.exe. Click OK to continue, or Cancel to exit immediately.");
    EXPECT_EQ(HostBoxes[0].type, 0x31u);
    EXPECT_TRUE(HostRepaints.empty());
    HostBoxAnswers = {IDCANCEL};
    EXPECT_EQ(ExitCodeOf([] { AskCreateFailed(u"x"); }), 1);
    EXPECT_EQ(HostBoxes.size(), 2u);
}

TEST_F(Messages, FormattedTextsReplaceOnlyTheTemplatesInsert)
{
    char16_t *text = FormatResString(IDS_UNZIPPING, u"50%1.txt");
    EXPECT_EQ(HostUtf8(text), "Unzipping 50%1.txt");
    HeapFreeBlock(text);
}

TEST_F(Messages, PromptsReleaseTheirTexts)
{
    long before = HostLiveBlocks;
    HostBoxAnswers = {IDNO, IDOK};
    AskReplace(u"a");
    AskCreateFailed(u"b");
    ReportBadEntry(u"c");
    EXPECT_EQ(HostLiveBlocks, before);
}

}  // namespace
