// DLL planting: a DLL placed next to the program must not be loaded in place
// of the one the program means. RestrictDllSearch limits by-name loads to the
// system folder; LoadSystemLibrary loads from the system folder only.
//
// Each case runs in a child process (a copy of this program in a fresh
// folder with planted DLLs beside it), since the restriction is process-wide
// and cannot be undone. The child reports through its exit code where the
// DLL came from.
#include <windows.h>

#include <gtest/gtest.h>
#include "wide_text.h"

#include <string>

#include "platform/platform.h"

namespace {

std::wstring PlantDll;  // the marker DLL, built with this test

enum Where { NotLoaded = 0, ProgramFolder = 1, SystemFolder = 2, Elsewhere = 3, BadUse = 9 };

std::wstring FolderOf(const std::wstring &path)
{
    size_t cut = path.find_last_of(L'\\');
    return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut);
}

std::wstring ModulePath(HMODULE module)
{
    WCHAR path[MAX_PATH];
    DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
    return std::wstring(path, n);
}

std::wstring SystemFolderPath()
{
    WCHAR path[MAX_PATH];
    UINT n = GetSystemDirectoryW(path, MAX_PATH);
    return std::wstring(path, n);
}

bool SameFolder(const std::wstring &a, const std::wstring &b)
{
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// In the child: mode is how to load, name the DLL's name.
// An ASCII name as the platform layer takes it.
std::u16string Wide(const char *name) { return std::u16string(name, name + strlen(name)); }

int Child(const std::string &mode, const char *name)
{
    HMODULE module;
    if (mode == "plain") {
        module = LoadLibraryA(name);
    } else if (mode == "restricted") {
        RestrictDllSearch();
        module = LoadLibraryA(name);
    } else if (mode == "system") {
        module = (HMODULE)LoadSystemLibrary(Wide(name).c_str());
    } else if (mode == "restricted-system") {
        RestrictDllSearch();
        module = (HMODULE)LoadSystemLibrary(Wide(name).c_str());
    } else {
        return BadUse;
    }
    if (!module) return NotLoaded;
    std::wstring folder = FolderOf(ModulePath(module));
    if (SameFolder(folder, FolderOf(ModulePath(nullptr)))) return ProgramFolder;
    if (SameFolder(folder, SystemFolderPath())) return SystemFolder;
    return Elsewhere;
}

// A fresh folder with a copy of this program and the planted DLLs.
struct Planted {
    Planted()
    {
        WCHAR temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        folder = std::wstring(temp) + L"brv-plant-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(folder.c_str(), nullptr);
        program = folder + L"\\planted.exe";
        ready = CopyFileW(ModulePath(nullptr).c_str(), program.c_str(), FALSE);
        for (const wchar_t *name : {L"brvplant.dll", L"shell32.dll", L"ctl3d32.dll"})
            ready = ready &&
                    CopyFileW(PlantDll.c_str(), (folder + L"\\" + name).c_str(), FALSE);
    }

    ~Planted()
    {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                DeleteFileW((folder + L"\\" + found.cFileName).c_str());
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        RemoveDirectoryW(folder.c_str());
    }

    // Runs the planted copy of this program in a child; where the DLL came from.
    int Run(const char *mode, const char *name)
    {
        std::string line = "planted.exe --child " + std::string(mode) + " " + name;
        std::wstring wline(line.begin(), line.end());
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        if (!CreateProcessW(program.c_str(), &wline[0], nullptr, nullptr, FALSE, 0, nullptr,
                            folder.c_str(), &startup, &process))
            return -1;
        WaitForSingleObject(process.hProcess, 30000);
        DWORD code = 0xFFFF;
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        return (int)code;
    }

    bool Marked(const wchar_t *name)
    {
        return GetFileAttributesW((folder + L"\\" + name + L".loaded").c_str()) !=
               INVALID_FILE_ATTRIBUTES;
    }

    std::wstring folder, program;
    bool ready;
};

#define PLANTED(bed) \
    Planted bed;     \
    ASSERT_TRUE(bed.ready) << "cannot copy the program and the DLL"

TEST(DllSearch, WithoutRestrictionTheProgramFolderIsSearched)
{
    PLANTED(bed);
    // The hazard is real: a plain by-name load takes the planted DLL.
    EXPECT_EQ(bed.Run("plain", "brvplant.dll"), ProgramFolder);
    EXPECT_TRUE(bed.Marked(L"brvplant.dll"));
}

TEST(DllSearch, RestrictedSearchSkipsTheProgramFolder)
{
    PLANTED(bed);
    EXPECT_EQ(bed.Run("restricted", "brvplant.dll"), NotLoaded);
    EXPECT_FALSE(bed.Marked(L"brvplant.dll"));
}

TEST(DllSearch, RestrictedSearchFindsSystemDlls)
{
    PLANTED(bed);
    EXPECT_EQ(bed.Run("restricted", "shell32.dll"), SystemFolder);
    EXPECT_FALSE(bed.Marked(L"shell32.dll"));
}

TEST(DllSearch, SystemLibraryComesFromTheSystemFolder)
{
    PLANTED(bed);
    EXPECT_EQ(bed.Run("system", "shell32.dll"), SystemFolder);
    EXPECT_EQ(bed.Run("restricted-system", "shell32.dll"), SystemFolder);
    EXPECT_FALSE(bed.Marked(L"shell32.dll"));
}

TEST(DllSearch, SystemLibraryNeverTakesAPlantedCopy)
{
    PLANTED(bed);
    // The 3D-controls library is missing from current systems: then nothing
    // is loaded, and certainly not the copy in the program's folder.
    int where = bed.Run("system", "ctl3d32.dll");
    EXPECT_TRUE(where == NotLoaded || where == SystemFolder) << where;
    EXPECT_FALSE(bed.Marked(L"ctl3d32.dll"));
    EXPECT_EQ(bed.Run("system", "brvplant.dll"), NotLoaded);
    EXPECT_FALSE(bed.Marked(L"brvplant.dll"));
}

}  // namespace


int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (argc == 4 && std::string(argv[1]) == "--child") return Child(argv[2], argv[3]);
    if (argc != 2) {
        fprintf(stderr, "usage: dll_search_test PLANT.dll\n");
        return 2;
    }
    PlantDll = WindowsPath(argv[1]);
    return RUN_ALL_TESTS();
}
