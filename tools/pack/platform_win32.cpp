// The packer's platform layer on Windows: wide-character calls (UTF-16 names
// from and to the UTF-8 the packer handles), the platform's code page
// tables, a console handler in place of signals. Descriptors are the C
// runtime's, over handles opened here.
//
// The packer's headers come first: pack.h has names of its own that
// windows.h defines as macros (IMAGE_DIRECTORY_ENTRY_*).
#include "pack.h"
#include "platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>
#include <winioctl.h>

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <algorithm>

namespace pack {

const char kSeparators[] = "/\\";

namespace {

// ---- UTF-8 and UTF-16 ------------------------------------------------------------

std::wstring Wide(const std::string &utf8)
{
    if (utf8.empty())
        return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), nullptr, 0);
    std::wstring wide((size_t)n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), &wide[0], n);
    return wide;
}

std::string Narrow(const wchar_t *wide, size_t length)
{
    if (length == 0)
        return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, wide, (int)length, nullptr, 0, nullptr, nullptr);
    std::string utf8((size_t)n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, (int)length, &utf8[0], n, nullptr, nullptr);
    return utf8;
}

std::string Narrow(const std::wstring &wide) { return Narrow(wide.data(), wide.size()); }

int ErrnoOf(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
        return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_CANT_RESOLVE_FILENAME:
        return ELOOP;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    default:
        return EIO;
    }
}

int LastErrno() { return ErrnoOf(GetLastError()); }

// A path as the file system calls take it: absolute, "\\?\"-prefixed, with
// "." and ".." resolved by name. The prefix keeps Windows from reading a
// name such as CON as a device, or from dropping trailing dots and spaces:
// every call sees the file the walk listed.
std::wstring NativePath(const std::string &utf8)
{
    std::wstring path = Wide(utf8);
    for (wchar_t &c : path)
        if (c == L'/')
            c = L'\\';
    if (path.compare(0, 4, L"\\\\?\\") == 0 || path.compare(0, 4, L"\\\\.\\") == 0)
        return path;
    std::wstring root, rest;
    if (path.compare(0, 2, L"\\\\") == 0) {  // \\server\share\...
        size_t share = path.find(L'\\', 2);
        size_t end = share == std::wstring::npos ? std::wstring::npos : path.find(L'\\', share + 1);
        root = L"\\\\?\\UNC\\" + path.substr(2, end == std::wstring::npos ? std::wstring::npos : end - 2);
        rest = end == std::wstring::npos ? L"" : path.substr(end);
    } else if (path.size() >= 2 && path[1] == L':' && (path.size() == 2 || path[2] != L'\\')) {
        // C:name, relative to the drive's current folder: Windows knows it.
        DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
        std::wstring full(n, L'\0');
        n = GetFullPathNameW(path.c_str(), n, &full[0], nullptr);
        full.resize(n);
        return full.empty() ? path : NativePath(Narrow(full));
    } else if (path.size() >= 2 && path[1] == L':') {
        root = L"\\\\?\\" + path.substr(0, 2);
        rest = path.substr(2);
    } else {
        DWORD n = GetCurrentDirectoryW(0, nullptr);
        std::wstring here(n, L'\0');
        here.resize(GetCurrentDirectoryW(n, &here[0]));
        std::wstring full = path[0] == L'\\' ? here.substr(0, 2) + path : here + L"\\" + path;
        return here.empty() ? path : NativePath(Narrow(full));
    }
    std::vector<std::wstring> parts;
    for (size_t at = 0; at <= rest.size();) {
        size_t end = rest.find(L'\\', at);
        if (end == std::wstring::npos)
            end = rest.size();
        std::wstring part = rest.substr(at, end - at);
        if (part == L"..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != L".") {
            parts.push_back(part);
        }
        at = end + 1;
    }
    std::wstring out = root;
    for (const std::wstring &part : parts)
        out += L"\\" + part;
    return parts.empty() ? out + L"\\" : out;
}

// A path as Windows reports it, for the packer: without "\\?\", '/' separators.
std::string PackerPath(std::wstring path)
{
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        path = L"\\\\" + path.substr(8);
    else if (path.compare(0, 4, L"\\\\?\\") == 0)
        path = path.substr(4);
    for (wchar_t &c : path)
        if (c == L'\\')
            c = L'/';
    return Narrow(path);
}

HANDLE OpenHandle(const std::string &path, DWORD access, DWORD flags)
{
    return CreateFileW(NativePath(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
}

HANDLE HandleOf(int fd) { return (HANDLE)_get_osfhandle(fd); }

// A handle as a C runtime descriptor, or -1 (errno set); the handle is the
// descriptor's from then on.
int Descriptor(HANDLE handle, int flags)
{
    if (handle == INVALID_HANDLE_VALUE) {
        errno = LastErrno();
        return -1;
    }
    int fd = _open_osfhandle((intptr_t)handle, flags | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        errno = EMFILE;
    }
    return fd;
}

// 100 ns units since 1601 into seconds since 1970, rounded down as the
// seconds of a POSIX time are.
time_t Seconds(const FILETIME &t)
{
    int64_t units = (int64_t)((uint64_t)t.dwHighDateTime << 32 | t.dwLowDateTime) - 116444736000000000LL;
    return (time_t)(units >= 0 ? units / 10000000 : -((-units + 9999999) / 10000000));
}

// The 100 ns units within the second of a time, as nanoseconds.
uint32_t Nanoseconds(const FILETIME &t)
{
    int64_t units = (int64_t)((uint64_t)t.dwHighDateTime << 32 | t.dwLowDateTime) - 116444736000000000LL;
    return (uint32_t)((units - (int64_t)Seconds(t) * 10000000) * 100);
}

bool IsLinkTag(DWORD tag) { return tag == IO_REPARSE_TAG_SYMLINK || tag == IO_REPARSE_TAG_MOUNT_POINT; }

int Fill(HANDLE handle, FileStatus *status)
{
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        *status = FileStatus();  // a device, a pipe: Other
        return 0;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info))
        return LastErrno();
    FILE_ATTRIBUTE_TAG_INFO tag{};
    bool link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) &&
                IsLinkTag(tag.ReparseTag);
    status->kind = link ? FileStatus::Link
                   : info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? FileStatus::Folder
                                                                      : FileStatus::Regular;
    status->size = (uint64_t)info.nFileSizeHigh << 32 | info.nFileSizeLow;
    status->mtime = Seconds(info.ftLastWriteTime);
    status->mtimeNanos = Nanoseconds(info.ftLastWriteTime);
    status->device = info.dwVolumeSerialNumber;
    status->inode = (uint64_t)info.nFileIndexHigh << 32 | info.nFileIndexLow;
    return 0;
}

}  // namespace

// ---- Files and folders ---------------------------------------------------------

int StatusOf(const std::string &path, FileStatus *status, bool follow)
{
    HANDLE handle = OpenHandle(path, FILE_READ_ATTRIBUTES, follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    if (handle == INVALID_HANDLE_VALUE)
        return LastErrno();
    int error = Fill(handle, status);
    CloseHandle(handle);
    // A reparse point that is no link (a placeholder, a deduplicated file)
    // stands for its file.
    if (!follow && error == 0 && status->kind != FileStatus::Link) {
        DWORD attributes = GetFileAttributesW(NativePath(path).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            return StatusOf(path, status, true);
    }
    return error;
}

int StatusOf(int fd, FileStatus *status) { return Fill(HandleOf(fd), status); }

namespace {

// The reparse data of a link, as FSCTL_GET_REPARSE_POINT returns it.
struct LinkData {
    DWORD tag;
    WORD length, reserved;
    WORD substituteOffset, substituteLength, printOffset, printLength;
};

}  // namespace

bool ReadLink(const std::string &path, std::string *target)
{
    HANDLE handle = OpenHandle(path, FILE_READ_ATTRIBUTES, FILE_FLAG_OPEN_REPARSE_POINT);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    std::vector<uint8_t> buffer(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
    DWORD got = 0;
    bool read = DeviceIoControl(handle, FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.data(), (DWORD)buffer.size(), &got,
                                nullptr);
    CloseHandle(handle);
    LinkData data;
    if (!read || got < sizeof data)
        return false;
    memcpy(&data, buffer.data(), sizeof data);
    if (!IsLinkTag(data.tag))
        return false;
    // The names follow the header; a symbolic link's after its flags.
    size_t names = sizeof data + (data.tag == IO_REPARSE_TAG_SYMLINK ? 4 : 0);
    bool print = data.printLength > 0;
    size_t offset = names + (print ? data.printOffset : data.substituteOffset);
    size_t length = print ? data.printLength : data.substituteLength;
    if (offset + length > got)
        return false;
    std::wstring name(length / 2, L'\0');
    memcpy(&name[0], buffer.data() + offset, length);
    if (!print && name.compare(0, 4, L"\\??\\") == 0)
        name = name.substr(4);
    *target = Narrow(name);
    return !target->empty();
}

int RealPath(const std::string &path, std::string *real)
{
    HANDLE handle = OpenHandle(path, 0, 0);
    if (handle == INVALID_HANDLE_VALUE)
        return LastErrno();
    std::wstring full(32768, L'\0');
    DWORD n = GetFinalPathNameByHandleW(handle, &full[0], (DWORD)full.size(), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    int error = n == 0 || n >= full.size() ? LastErrno() : 0;
    CloseHandle(handle);
    if (error)
        return error;
    full.resize(n);
    *real = PackerPath(full);
    // A drive's root keeps its separator ("C:/"), any other folder has none.
    if (real->size() > 3 && real->back() == '/')
        real->pop_back();
    return 0;
}

int ListFolder(const std::string &path, std::vector<std::string> *names)
{
    FileStatus folder;
    if (int error = StatusOf(path, &folder))
        return error;
    if (folder.kind != FileStatus::Folder)
        return ENOTDIR;
    std::wstring pattern = NativePath(path);
    if (pattern.back() != L'\\')
        pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND ? 0 : LastErrno();  // an empty drive root
    do {
        std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            names->push_back(Narrow(name));
    } while (FindNextFileW(search, &found));
    DWORD error = GetLastError();
    FindClose(search);
    return error == ERROR_NO_MORE_FILES ? 0 : ErrnoOf(error);
}

int OpenForReading(const std::string &path, bool follow)
{
    HANDLE handle = OpenHandle(path, GENERIC_READ, follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!follow && handle != INVALID_HANDLE_VALUE &&
        GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) &&
        (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && !IsLinkTag(tag.ReparseTag)) {
        // A reparse point that is no link (a placeholder, a deduplicated
        // file) stands for its file: read through it.
        CloseHandle(handle);
        handle = OpenHandle(path, GENERIC_READ, 0);
    }
    return Descriptor(handle, _O_RDONLY);
}

bool CloseDescriptor(int fd) { return _close(fd) == 0; }

bool Rewind(int fd)
{
    LARGE_INTEGER start;
    start.QuadPart = 0;
    if (!SetFilePointerEx(HandleOf(fd), start, nullptr, FILE_BEGIN)) {
        errno = LastErrno();
        return false;
    }
    return true;
}

long ReadUpTo(int fd, void *buffer, size_t count)
{
    HANDLE handle = HandleOf(fd);
    size_t got = 0;
    while (got < count) {
        DWORD n = 0;
        DWORD want = (DWORD)std::min<size_t>(count - got, 1u << 30);
        if (!ReadFile(handle, (uint8_t *)buffer + got, want, &n, nullptr)) {
            if (GetLastError() == ERROR_BROKEN_PIPE)
                break;
            errno = LastErrno();
            return -1;
        }
        if (n == 0)
            break;
        got += n;
    }
    return (long)got;
}

bool WriteAt(int fd, const void *bytes, size_t count, uint64_t offset)
{
    HANDLE handle = HandleOf(fd);
    size_t done = 0;
    while (done < count) {
        OVERLAPPED at{};
        at.Offset = (DWORD)(offset + done);
        at.OffsetHigh = (DWORD)((offset + done) >> 32);
        DWORD n = 0;
        DWORD want = (DWORD)std::min<size_t>(count - done, 1u << 30);
        if (!WriteFile(handle, (const uint8_t *)bytes + done, want, &n, &at)) {
            errno = LastErrno();
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        done += n;
    }
    return true;
}

bool TruncateFile(int fd, uint64_t size)
{
    HANDLE handle = HandleOf(fd);
    LARGE_INTEGER at;
    at.QuadPart = (LONGLONG)size;
    if (!SetFilePointerEx(handle, at, nullptr, FILE_BEGIN) || !SetEndOfFile(handle)) {
        errno = LastErrno();
        return false;
    }
    return true;
}

bool FinishFile(int fd)
{
    if (!FlushFileBuffers(HandleOf(fd))) {
        errno = LastErrno();
        return false;
    }
    return true;
}

int MoveInto(const std::string &temporary, const std::string &path, bool replace)
{
    DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (MoveFileExW(NativePath(temporary).c_str(), NativePath(path).c_str(), flags))
        return 0;
    return LastErrno();
}

bool RemoveFile(const std::string &path) { return DeleteFileW(NativePath(path).c_str()) != 0; }

std::string TemporaryFolder()
{
    wchar_t folder[MAX_PATH + 2];
    DWORD n = GetTempPathW(MAX_PATH + 2, folder);
    std::string path = n > 0 && n <= MAX_PATH + 1 ? PackerPath(std::wstring(folder, n)) : ".";
    while (path.size() > 3 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string ProgramFolder()
{
    std::wstring self(32768, L'\0');
    DWORD n = GetModuleFileNameW(nullptr, &self[0], (DWORD)self.size());
    if (n == 0 || n >= self.size())
        return "";
    self.resize(n);
    return Narrow(self.substr(0, self.find_last_of(L"\\/") + 1));
}

// The Windows download keeps the stubs beside brevant-pack.exe, and only
// there: a folder above it may be anyone's (Downloads).
std::string InstalledStubFolder() { return ""; }

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

// ---- Characters and code pages --------------------------------------------------

uint32_t UpperCase(uint32_t c)
{
    if (c > 0xFFFF || (c >= 0xD800 && c <= 0xDFFF))
        return c;
    wchar_t in = (wchar_t)c, out = 0;
    return LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, &in, 1, &out, 1) == 1 ? (uint32_t)out : c;
}

int TerminalWidth(uint32_t c)
{
    // Combining marks take none, the wide characters of East Asia two.
    if ((c >= 0x300 && c <= 0x36F) || (c >= 0x200B && c <= 0x200F))
        return 0;
    if ((c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F) || (c >= 0xAC00 && c <= 0xD7A3) ||
        (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
        (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD))
        return 2;
    return 1;
}

const char kConverterName[] = "Windows";

namespace {

struct Conversion {
    UINT codepage;
    bool toCodePage;
};

// Text of codepage (or UTF-8) as UTF-16; false when it is not text of it.
bool ToWide(UINT codepage, const std::string &text, std::wstring *wide)
{
    DWORD flags = MB_ERR_INVALID_CHARS;
    int n = MultiByteToWideChar(codepage, flags, text.data(), (int)text.size(), nullptr, 0);
    if (n == 0 && GetLastError() == ERROR_INVALID_FLAGS) {  // a code page that takes no flags
        flags = 0;
        n = MultiByteToWideChar(codepage, flags, text.data(), (int)text.size(), nullptr, 0);
    }
    if (n == 0)
        return false;
    wide->assign((size_t)n, L'\0');
    if (MultiByteToWideChar(codepage, flags, text.data(), (int)text.size(), &(*wide)[0], n) != n)
        return false;
    // The C1 controls are no text of an ANSI code page: Windows reads the
    // bytes a code page leaves undefined (0x81 in 1252) as them, and writes
    // them back so, where iconv refuses both.
    return std::none_of(wide->begin(), wide->end(), [](wchar_t c) { return c >= 0x80 && c <= 0x9F; });
}

}  // namespace

void *OpenConversion(int codepage, bool toCodePage)
{
    if (codepage <= 0 || codepage > 65535 || !IsValidCodePage((UINT)codepage))
        return nullptr;
    return new Conversion{(UINT)codepage, toCodePage};
}

void CloseConversion(void *conversion) { delete (Conversion *)conversion; }

int ConvertText(void *handle, const std::string &text, std::string *out)
{
    const Conversion &conversion = *(const Conversion *)handle;
    out->clear();
    if (text.empty())
        return 0;
    std::wstring wide;
    if (!ToWide(conversion.toCodePage ? CP_UTF8 : conversion.codepage, text, &wide))
        return EILSEQ;
    if (!conversion.toCodePage) {
        *out = Narrow(wide);
        return 0;
    }
    // No default character and no best fit: a character the code page does
    // not hold is refused, never replaced by a look-alike or a question mark.
    BOOL defaulted = FALSE;
    DWORD flags = WC_NO_BEST_FIT_CHARS;
    BOOL *used = &defaulted;
    int n = WideCharToMultiByte(conversion.codepage, flags, wide.data(), (int)wide.size(), nullptr, 0, nullptr, used);
    if (n == 0 && (GetLastError() == ERROR_INVALID_FLAGS || GetLastError() == ERROR_INVALID_PARAMETER)) {
        flags = 0;  // a code page that takes neither: the reading back below decides
        used = nullptr;
        n = WideCharToMultiByte(conversion.codepage, flags, wide.data(), (int)wide.size(), nullptr, 0, nullptr, used);
    }
    if (n == 0)
        return GetLastError() == ERROR_NO_UNICODE_TRANSLATION ? EILSEQ : EINVAL;
    out->assign((size_t)n, '\0');
    WideCharToMultiByte(conversion.codepage, flags, wide.data(), (int)wide.size(), &(*out)[0], n, nullptr, used);
    // What reads back as other characters was substituted all the same.
    std::wstring back;
    if (defaulted || !ToWide(conversion.codepage, *out, &back) || back != wide) {
        out->clear();
        return EILSEQ;
    }
    return 0;
}

bool LookAlike(void *handle, const std::string &character, std::string *bytes)
{
    const Conversion &conversion = *(const Conversion *)handle;
    std::wstring wide;
    if (!conversion.toCodePage || !ToWide(CP_UTF8, character, &wide))
        return false;
    BOOL defaulted = FALSE;
    char out[16];
    int n = WideCharToMultiByte(conversion.codepage, 0, wide.data(), (int)wide.size(), out, sizeof out, nullptr,
                                &defaulted);
    if (n <= 0 || defaulted)
        return false;
    bytes->assign(out, (size_t)n);
    return true;
}

bool IsLeadByte(void *conversion, uint8_t byte)
{
    return IsDBCSLeadByteEx(((Conversion *)conversion)->codepage, byte) != 0;
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
