// The folder of an elevated run on the real platform: its descriptor read
// back, another process refused while the program holds it, and the
// clean-up removing it. Run without elevation, there is nothing to check.
//
// Wine keeps a folder's rights as Unix permission bits: it reports the two
// entries and their inheritance flags, but neither the protection from the
// parent nor the entries a new file inherits, and it names the user for the
// Administrators group. Those are checked on Windows only.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "extract/extract.h"

namespace {

std::wstring Self;

bool UnderWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

// The folder's DACL (with its control bits) as GetFileSecurityW reads it.
struct Dacl {
    explicit Dacl(const wchar_t *path)
    {
        DWORD size = 0;
        GetFileSecurityW(path, DACL_SECURITY_INFORMATION, nullptr, 0, &size);
        bytes.resize(size ? size : 1);
        if (!GetFileSecurityW(path, DACL_SECURITY_INFORMATION, bytes.data(), size, &size))
            return;
        DWORD revision;
        BOOL present = FALSE, defaulted;
        GetSecurityDescriptorControl(bytes.data(), &control, &revision);
        if (GetSecurityDescriptorDacl(bytes.data(), &present, &acl, &defaulted) && !present)
            acl = nullptr;
    }
    int Count() const { return acl ? acl->AceCount : -1; }
    const ACCESS_ALLOWED_ACE *Entry(int i) const
    {
        void *ace = nullptr;
        GetAce(acl, (DWORD)i, &ace);
        return (const ACCESS_ALLOWED_ACE *)ace;
    }
    bool Names(int i, WELL_KNOWN_SID_TYPE type) const
    {
        BYTE sid[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof sid;
        CreateWellKnownSid(type, nullptr, sid, &size);
        return EqualSid((PSID)&Entry(i)->SidStart, sid) != 0;
    }
    std::string bytes;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    PACL acl = nullptr;
};

// Starts this program to rename and to remove folder; its exit code (0: both
// refused).
DWORD FromAnotherProcess(const std::wstring &folder)
{
    std::wstring line = L"\"" + Self + L"\" --tamper \"" + folder + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return 99;
    WaitForSingleObject(process.hProcess, 30000);
    DWORD code = 98;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

int Tamper(const wchar_t *folder)
{
    std::wstring moved = std::wstring(folder) + L"-moved";
    int code = 0;
    if (MoveFileW(folder, moved.c_str())) {
        MoveFileW(moved.c_str(), folder);
        code |= 1;
    }
    if (RemoveDirectoryW(folder))
        code |= 2;
    return code;
}

TEST(OwnFolder, ProtectedHeldAndRemovedByTheCleanUp)
{
    if (!RunsElevated())
        GTEST_SKIP() << "not elevated: the plain folder is made";
    char16_t buffer[PATH_CHARS];
    ASSERT_TRUE(MakeUniqueTempDir(buffer));
    const wchar_t *folder = (const wchar_t *)buffer;

    Dacl dacl(folder);
    ASSERT_EQ(dacl.Count(), 2) << "a DACL of exactly two entries";
    for (int i = 0; i < 2; i++) {
        EXPECT_EQ(dacl.Entry(i)->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(dacl.Entry(i)->Header.AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
        EXPECT_EQ(dacl.Entry(i)->Mask, (DWORD)FILE_ALL_ACCESS);
    }
    EXPECT_TRUE(dacl.Names(0, WinLocalSystemSid));

    std::wstring file = std::wstring(folder) + L"\\inside.txt";
    HANDLE made = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(made, INVALID_HANDLE_VALUE);
    CloseHandle(made);
    if (!UnderWine()) {
        EXPECT_TRUE(dacl.control & SE_DACL_PROTECTED);
        EXPECT_TRUE(dacl.Names(1, WinBuiltinAdministratorsSid));
        Dacl inherited(file.c_str());
        ASSERT_EQ(inherited.Count(), 2) << "the file has the folder's two entries only";
        EXPECT_TRUE(inherited.Entry(0)->Header.AceFlags & INHERITED_ACE);
        EXPECT_TRUE(inherited.Names(0, WinLocalSystemSid));
        EXPECT_TRUE(inherited.Names(1, WinBuiltinAdministratorsSid));
    }

    EXPECT_EQ(FromAnotherProcess(folder), 0u) << "1: renamed, 2: removed while held";

    DeleteTree(buffer);
    EXPECT_EQ(GetFileAttributesW(folder), INVALID_FILE_ATTRIBUTES) << "the clean-up removes it";
}

}  // namespace

int main(int argc, char **argv)
{
    int wideCount;
    wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &wideCount);
    if (wideCount == 3 && std::wstring(wide[1]) == L"--tamper")
        return Tamper(wide[2]);
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    Self = self;
    CreateProgramHeap();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
