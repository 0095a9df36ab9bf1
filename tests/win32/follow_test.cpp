// Whether a wait file is free, on the real platform: an absent file is free;
// a file that another handle holds without sharing write access, or without
// any sharing at all, is busy until it is released.
#include <windows.h>

#include <gtest/gtest.h>

#include "extract/extract.h"

namespace {

// A path as the platform layer takes it.
std::u16string TempPath(const char16_t *name)
{
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return std::u16string((const char16_t *)folder) + name;
}

HANDLE Hold(const std::u16string &path, DWORD sharing)
{
    return CreateFileW((LPCWSTR)path.c_str(), GENERIC_READ | GENERIC_WRITE, sharing, nullptr, OPEN_ALWAYS,
                       0, nullptr);
}

TEST(IsFileFree, AbsentFilesAndFoldersAreFree)
{
    EXPECT_TRUE(IsFileFree(TempPath(u"brevant-never-made.txt").c_str()));
    EXPECT_TRUE(IsFileFree(TempPath(u"brevant-no-folder\\x.txt").c_str()));
}

TEST(IsFileFree, AFileHeldWithoutWriteSharingIsBusyUntilReleased)
{
    std::u16string path = TempPath(u"brevant-held.txt");
    for (DWORD sharing : {(DWORD)0, (DWORD)FILE_SHARE_READ}) {
        HANDLE held = Hold(path, sharing);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        // Held with no sharing at all, the file cannot even be opened to be
        // looked at: it is still there, and busy.
        EXPECT_FALSE(IsFileFree(path.c_str())) << "sharing " << sharing;
        CloseHandle(held);
        EXPECT_TRUE(IsFileFree(path.c_str()));
    }
    DeleteFileW((LPCWSTR)path.c_str());
}

}  // namespace

int main(int argc, char **argv)
{
    CreateProgramHeap();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
