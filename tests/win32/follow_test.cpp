// Whether a wait file is free, on the real platform: an absent file is free;
// a file that another handle holds without sharing write access, or without
// any sharing at all, is busy until it is released.
#include <windows.h>

#include <gtest/gtest.h>

#include "extract/extract.h"

namespace {

std::string TempPath(const char *name)
{
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + name;
}

HANDLE Hold(const std::string &path, DWORD sharing)
{
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, sharing, nullptr, OPEN_ALWAYS,
                       0, nullptr);
}

TEST(IsFileFree, AbsentFilesAndFoldersAreFree)
{
    EXPECT_TRUE(IsFileFree(TempPath("brevant-never-made.txt").c_str()));
    EXPECT_TRUE(IsFileFree(TempPath("brevant-no-folder\\x.txt").c_str()));
}

TEST(IsFileFree, AFileHeldWithoutWriteSharingIsBusyUntilReleased)
{
    std::string path = TempPath("brevant-held.txt");
    for (DWORD sharing : {(DWORD)0, (DWORD)FILE_SHARE_READ}) {
        HANDLE held = Hold(path, sharing);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        // Held with no sharing at all, the file cannot even be opened to be
        // looked at: it is still there, and busy.
        EXPECT_FALSE(IsFileFree(path.c_str())) << "sharing " << sharing;
        CloseHandle(held);
        EXPECT_TRUE(IsFileFree(path.c_str()));
    }
    DeleteFileA(path.c_str());
}

}  // namespace

int main(int argc, char **argv)
{
    CreateProgramHeap();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
