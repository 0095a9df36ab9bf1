// The packer's platform layer on Windows: its temporary file removed on
// Ctrl+C, Ctrl+Break and the console's closing in place of signals; the
// processes, times and console.
#include "os/os.h"
#include "os/win32.h"

#include <shellapi.h>

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <algorithm>

namespace pack {

// ---- Removal on Ctrl+C, Ctrl+Break and the console's closing ------------------------

// The console handler runs on a thread of its own: the slots are taken
// under a lock, which the handler keeps until the process ends, so that no
// temporary file is created after it has removed them.
namespace {

constexpr int kSlots = 4;
std::wstring SlotPath[kSlots];
bool SlotUsed[kSlots];
CRITICAL_SECTION SlotLock;
UINT SavedOutputPage;  // the console's code page before the packer set UTF-8

BOOL WINAPI RemoveAndEnd(DWORD event)
{
    EnterCriticalSection(&SlotLock);
    // The packer's own handles share deletion: the file goes when they close.
    for (int i = 0; i < kSlots; i++)
        if (SlotUsed[i])
            DeleteFileW(SlotPath[i].c_str());
    if (SavedOutputPage)
        SetConsoleOutputCP(SavedOutputPage);
    // The exit code a shell gives a packer that a signal ended on Linux:
    // 130 for Ctrl+C and Ctrl+Break (SIGINT), 129 for the console's closing
    // (SIGHUP). The system's own handler would end with 0 under Wine. The
    // process ends here, at once: the main thread may be anywhere.
    TerminateProcess(GetCurrentProcess(), event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? 130 : 129);
    return TRUE;
}

void InstallHandler()
{
    static bool installed;
    if (installed)
        return;
    InitializeCriticalSection(&SlotLock);
    SetConsoleCtrlHandler(RemoveAndEnd, TRUE);
    installed = true;
}

}  // namespace

int CreateTemporary(std::string &pattern)
{
    InstallHandler();
    static uint64_t seed = GetTickCount64() * 6364136223846793005ULL ^ GetCurrentProcessId();
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    if (pattern.size() < 6 || pattern.compare(pattern.size() - 6, 6, "XXXXXX") != 0) {
        errno = EINVAL;
        return -1;
    }
    EnterCriticalSection(&SlotLock);
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::wstring native;
    for (int attempt = 0; attempt < 100 && handle == INVALID_HANDLE_VALUE; attempt++) {
        for (size_t i = pattern.size() - 6; i < pattern.size(); i++) {
            seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
            pattern[i] = kLetters[(seed >> 33) % (sizeof kLetters - 1)];
        }
        native = NativePath(pattern);
        handle = CreateFileW(native.c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    int fd = Descriptor(handle, _O_RDWR);
    if (fd >= 0) {
        for (int i = 0; i < kSlots; i++)
            if (!SlotUsed[i]) {
                SlotPath[i] = native;
                SlotUsed[i] = true;
                break;
            }
    }
    int error = errno;
    LeaveCriticalSection(&SlotLock);
    errno = error;
    return fd;
}

void ForgetOnSignal(const std::string &path)
{
    InstallHandler();
    std::wstring native = NativePath(path);
    EnterCriticalSection(&SlotLock);
    for (int i = 0; i < kSlots; i++)
        if (SlotUsed[i] && SlotPath[i] == native)
            SlotUsed[i] = false;
    LeaveCriticalSection(&SlotLock);
}

// ---- Processes -------------------------------------------------------------------

long ProcessId() { return (long)GetCurrentProcessId(); }

// The affinity mask covers the processor group the process runs in.
unsigned AvailableProcessors()
{
    DWORD_PTR process = 0, system = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system) || process == 0)
        return 1;
    unsigned count = 0;
    for (; process; process &= process - 1)
        count++;
    return count;
}

bool EnvironmentVariable(const char *name, std::string *value)
{
    std::wstring wide = Wide(name);
    DWORD n = GetEnvironmentVariableW(wide.c_str(), nullptr, 0);
    if (n == 0)
        return false;
    std::wstring text(n, L'\0');
    n = GetEnvironmentVariableW(wide.c_str(), &text[0], n);
    text.resize(n);
    *value = Narrow(text);
    return true;
}

bool ProcessIsGone(long pid)
{
    if (pid <= 0)
        return false;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, (DWORD)pid);
    if (!process)
        return GetLastError() == ERROR_INVALID_PARAMETER;  // no such process (else: not ours to look at)
    DWORD code = 0;
    bool gone = GetExitCodeProcess(process, &code) && code != STILL_ACTIVE;
    CloseHandle(process);
    return gone;
}

// ---- Times ---------------------------------------------------------------------

bool CalendarTime(time_t when, bool utc, struct tm *out)
{
    int64_t units = ((int64_t)when + 11644473600LL) * 10000000;
    if (when < -11644473600LL || units < 0)
        return false;
    FILETIME file;
    file.dwLowDateTime = (DWORD)units;
    file.dwHighDateTime = (DWORD)((uint64_t)units >> 32);
    SYSTEMTIME system, local;
    if (!FileTimeToSystemTime(&file, &system))
        return false;
    if (!utc) {
        // The zone's rules for that year, as the C library applies them on Linux.
        TIME_ZONE_INFORMATION zone;
        if (!GetTimeZoneInformationForYear(system.wYear, nullptr, &zone) ||
            !SystemTimeToTzSpecificLocalTime(&zone, &system, &local))
            return false;
        system = local;
    }
    *out = tm();
    out->tm_year = system.wYear - 1900;
    out->tm_mon = system.wMonth - 1;
    out->tm_mday = system.wDay;
    out->tm_hour = system.wHour;
    out->tm_min = system.wMinute;
    out->tm_sec = system.wSecond;
    out->tm_wday = system.wDayOfWeek;
    return true;
}

time_t UtcSeconds(struct tm *when) { return (time_t)_mkgmtime64(when); }

double MonotonicSeconds()
{
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return (double)count.QuadPart / (double)frequency.QuadPart;
}

// ---- The console ------------------------------------------------------------------

namespace {

void RestoreConsole() { SetConsoleOutputCP(SavedOutputPage); }

}  // namespace

std::vector<std::string> ProgramArguments(int, char **)
{
    // The packer's bytes go out as they are (UTF-8, '\n' line ends), as on
    // Linux; a console shows them as UTF-8 while the packer runs.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    InstallHandler();  // Ctrl+C ends the packer alike before and after its output exists
    SavedOutputPage = GetConsoleOutputCP();
    if (SavedOutputPage && SetConsoleOutputCP(CP_UTF8))
        atexit(RestoreConsole);
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode;
    if (GetConsoleMode(err, &mode))
        SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);

    int count = 0;
    wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 1; wide && i < count; i++)
        args.push_back(Narrow(std::wstring(wide[i])));
    LocalFree(wide);
    return args;
}

bool IsTerminal(int fd)
{
    DWORD mode;
    return GetConsoleMode(HandleOf(fd), &mode) != 0;
}

size_t TerminalColumns()
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
        return 80;
    return (size_t)(info.srWindow.Right - info.srWindow.Left + 1);
}

}  // namespace pack
