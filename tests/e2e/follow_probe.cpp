// The follow-up program of the end-to-end tests, packed into the archives
// and started by the stub in the destination folder:
//   follow-probe record FILE              writes its current folder to FILE
//   follow-probe where FILE [ARGS...]     writes its own path and its
//       arguments after FILE to FILE
//   follow-probe held FILE                writes to FILE how many entries the
//       DACL of its current folder has, and whether renaming that folder
//       was refused
//   follow-probe spawn-hold FILE MS MARK  starts "hold" and ends at once
//   follow-probe hold FILE MS MARK        holds FILE open without write
//       sharing for MS milliseconds, then writes to MARK whether the stub's
//       dialog was closed to input all that time, and releases FILE
#include <windows.h>

#include <string>

namespace {

void Write(const wchar_t *path, const std::string &text)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD put;
    WriteFile(file, text.data(), (DWORD)text.size(), &put, nullptr);
    CloseHandle(file);
}

// Whether every main dialog of the stub is disabled (none found: "none").
std::string DialogState()
{
    std::string state = "none";
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, L"#32770", nullptr)))
        if (GetWindowTextLengthW(window) > 0 && GetWindow(window, GW_OWNER) == nullptr)
            state = IsWindowEnabled(window) ? "enabled" : "disabled";
    return state;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"record" && argc == 3) {
        char folder[MAX_PATH];
        DWORD n = GetCurrentDirectoryA(MAX_PATH, folder);
        Write(argv[2], std::string(folder, n));
        return 0;
    }
    if (mode == L"where" && argc >= 3) {
        wchar_t self[MAX_PATH];
        DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::string text(self, self + n);  // ASCII paths in the tests
        for (int i = 3; i < argc; i++)
            text += " " + std::string(argv[i], argv[i] + wcslen(argv[i]));
        Write(argv[2], text);
        return 0;
    }
    if (mode == L"held" && argc == 3) {
        wchar_t folder[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, folder);
        DWORD size = 0;
        GetFileSecurityW(folder, DACL_SECURITY_INFORMATION, nullptr, 0, &size);
        std::string descriptor(size ? size : 1, '\0');
        BOOL present = FALSE, defaulted;
        PACL acl = nullptr;
        int entries = -1;
        if (GetFileSecurityW(folder, DACL_SECURITY_INFORMATION, &descriptor[0], size, &size) &&
            GetSecurityDescriptorDacl(&descriptor[0], &present, &acl, &defaulted) && present && acl)
            entries = acl->AceCount;
        std::wstring moved = std::wstring(folder) + L"-moved";
        bool renamed = MoveFileW(folder, moved.c_str()) != 0;
        if (renamed) MoveFileW(moved.c_str(), folder);
        Write(argv[2], "entries=" + std::to_string(entries) + (renamed ? " renamed" : " held"));
        return 0;
    }
    if (mode == L"spawn-hold" && argc == 5) {
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring line = L"\"" + std::wstring(self) + L"\" hold \"" + argv[2] + L"\" " +
                            argv[3] + L" \"" + argv[4] + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process;
        if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &process))
            return 2;
        // The file is held before this process ends, so that the stub's
        // wait for this process is over while the file is still busy.
        for (int i = 0; i < 200; i++) {
            HANDLE probe = CreateFileW(argv[2], GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                       0, nullptr);
            if (probe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION) break;
            if (probe != INVALID_HANDLE_VALUE) CloseHandle(probe);
            Sleep(10);
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return 0;
    }
    if (mode == L"hold" && argc == 5) {
        HANDLE held = CreateFileW(argv[2], GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  OPEN_ALWAYS, 0, nullptr);
        if (held == INVALID_HANDLE_VALUE) return 2;
        DWORD until = GetTickCount() + (DWORD)_wtoi(argv[3]);
        std::string seen = "disabled";
        while ((LONG)(GetTickCount() - until) < 0) {
            std::string now = DialogState();
            if (now != "disabled") seen = now;
            Sleep(50);
        }
        Write(argv[4], seen);
        CloseHandle(held);
        return 0;
    }
    return 1;
}
