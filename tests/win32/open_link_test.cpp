// OpenLink through a stand-in for the shell's ShellExecuteW: what reaches the
// shell, and the shell's result read as the platform defines it (above 32 is
// success; at or below, a failure, answered with a beep).
#include "ui/ui.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring Verb, File;
int Show;
INT_PTR Answer;

HINSTANCE WINAPI FakeShellExecute(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters,
                                  LPCWSTR folder, INT show)
{
    EXPECT_EQ(owner, nullptr);
    EXPECT_EQ(parameters, nullptr);
    EXPECT_EQ(folder, nullptr);
    Verb = verb, File = file, Show = show;
    return (HINSTANCE)Answer;
}

TEST(OpenLink, AsksTheShellToOpenTheTextAndReadsItsAnswer)
{
    ShellExecuteEntry = FakeShellExecute;
    Answer = 42;
    EXPECT_TRUE(OpenLink(L"https://brevant.example/"));
    EXPECT_EQ(Verb, L"open");
    EXPECT_EQ(File, L"https://brevant.example/");
    EXPECT_EQ(Show, SW_SHOWNORMAL);
    Answer = 33;
    EXPECT_TRUE(OpenLink(L"x"));
    // SE_ERR_NOASSOC, and 32 itself: failures.
    Answer = 31;
    EXPECT_FALSE(OpenLink(L"x"));
    Answer = 32;
    EXPECT_FALSE(OpenLink(L"x"));
    ShellExecuteEntry = nullptr;
}

}  // namespace

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
