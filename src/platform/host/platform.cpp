// Host implementation of the platform layer, for the native build of the core:
// POSIX files, a counting heap, recorded message boxes and a replaceable exit.
#include "../platform.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>

#ifdef _WIN32
// The Windows packer embeds the core on this layer as well: it reads its
// images by UTF-8 paths; the rest, which only the host tests use, needs
// stand-ins for what the C runtime there lacks.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <io.h>
#undef IDC_ICON  // the stub's resources have their own
#define O_NOFOLLOW 0
#define S_ISLNK(mode) false
#define lstat stat
#define lseek _lseeki64
#define mkdir(path, mode) mkdir(path)
#define futimens(fd, times) ((void)(fd), (void)(times))
#endif

#include "host_testing.h"
#include "../../resources/resource.h"
#include "../../resources/strings.h"

ModuleHandle ModuleInstance;
FileHandle ImageFile = INVALID_FILE;
char ImageDir[PATH_CHARS];

std::vector<HostBox> HostBoxes;
std::vector<int> HostBoxAnswers;
std::vector<void *> HostRepaints;
long HostLiveBlocks;
long HostAllocsUntilFailure = -1;

static void ExitForReal(unsigned code) { _exit((int)code); }
void (*HostExitHook)(unsigned code) = ExitForReal;

static void ThrowExit(unsigned code) { throw HostExit{code}; }
void HostThrowOnExit() { HostExitHook = ThrowExit; }

void HostResetBoxes()
{
    HostBoxes.clear();
    HostBoxAnswers.clear();
    HostRepaints.clear();
}

static int FileNumber(FileHandle file) { return (int)(intptr_t)file; }

FileHandle OpenReadShared(const char *path)
{
#ifdef _WIN32
    wchar_t wide[32768];
    if (!MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, 32768))
        return INVALID_FILE;
    HANDLE handle = CreateFileW(wide, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    int fd = handle == INVALID_HANDLE_VALUE ? -1 : _open_osfhandle((intptr_t)handle, O_RDONLY | O_BINARY);
#else
    int fd = open(path, O_RDONLY);
#endif
    return fd < 0 ? INVALID_FILE : (FileHandle)(intptr_t)fd;
}

uint32_t ReadBytes(FileHandle file, void *buffer, uint32_t count)
{
    uint32_t got = 0;
    while (got < count) {
        ssize_t n = read(FileNumber(file), (char *)buffer + got, count - got);
        if (n <= 0)
            break;
        got += (uint32_t)n;
    }
    return got;
}

void SeekTo(FileHandle file, uint32_t offset) { lseek(FileNumber(file), (off_t)offset, SEEK_SET); }

long HostWritesUntilFailure = -1;

uint32_t WriteBytes(FileHandle file, const void *buffer, uint32_t count)
{
    if (HostWritesUntilFailure == 0)
        return 0;
    if (HostWritesUntilFailure > 0)
        HostWritesUntilFailure--;
    uint32_t put = 0;
    while (put < count) {
        ssize_t n = write(FileNumber(file), (const char *)buffer + put, count - put);
        if (n <= 0)
            break;
        put += (uint32_t)n;
    }
    return put;
}

void CloseFile(FileHandle file) { close(FileNumber(file)); }

void CreateProgramHeap() {}

void *HeapAllocBlock(uint32_t size)
{
    if (HostAllocsUntilFailure == 0)
        return nullptr;
    if (HostAllocsUntilFailure > 0)
        HostAllocsUntilFailure--;
    void *block = malloc(size ? size : 1);
    if (block) {
        HostLiveBlocks++;
        memset(block, 0xA5, size);  // not cleared, and the tests can tell
    }
    return block;
}

void *HeapAllocZeroed(uint32_t size)
{
    void *block = HeapAllocBlock(size);
    if (block)
        memset(block, 0, size);
    return block;
}

void HeapFreeBlock(void *block)
{
    if (block) {
        HostLiveBlocks--;
        free(block);
    }
}

void CopyBytes(void *to, const void *from, uint32_t count) { memmove(to, from, count); }

uint32_t StringLength(const char *text) { return (uint32_t)strlen(text); }


std::string HostImagePath;

FileHandle OpenOwnImage()
{
    char path[PATH_CHARS];
    GetImagePath(path);
    return OpenReadShared(path);
}

uint32_t GetImagePath(char *buffer)
{
    if (!HostImagePath.empty()) {
        size_t n = HostImagePath.copy(buffer, PATH_CHARS - 1);
        buffer[n] = 0;
        return (uint32_t)n;
    }
#ifdef _WIN32
    long n = (long)GetModuleFileNameA(nullptr, buffer, PATH_CHARS - 1);
#else
    ssize_t n = readlink("/proc/self/exe", buffer, PATH_CHARS - 1);
#endif
    if (n < 0)
        n = 0;
    buffer[n] = 0;
    return (uint32_t)n;
}

void RestrictDllSearch() {}

void DisableGhosting() {}

ModuleHandle LoadSystemLibrary(const char *) { return nullptr; }
void UnloadLibrary(ModuleHandle) {}
void *FindEntry(ModuleHandle, const char *) { return nullptr; }
bool CallWithInstance(void *) { return false; }
void CallWithoutArguments(void *) {}

// The host has no resources: string ids come from the English table.
uint32_t LoadStringText(uint16_t id, char *buffer, int size)
{
    const char *text = "";
    switch (id) {
    case IDS_VERIFY_FAILED: text = STR_EN_VERIFY_FAILED; break;
    case IDS_INTERNAL_ERROR: text = STR_EN_INTERNAL_ERROR; break;
    case IDS_INSTALL_FAILED: text = STR_EN_INSTALL_FAILED; break;
    case IDS_UNZIPPING: text = STR_EN_UNZIPPING; break;
    case IDS_FILE_EXISTS: text = STR_EN_FILE_EXISTS; break;
    case IDS_CREATE_FAILED: text = STR_EN_CREATE_FAILED; break;
    case IDS_READ_ERROR: text = STR_EN_READ_ERROR; break;
    case IDS_WRITE_FAILED: text = STR_EN_WRITE_FAILED; break;
    case IDS_FOLDER_UNUSABLE: text = STR_EN_FOLDER_UNUSABLE; break;
    }
    uint32_t length = (uint32_t)strlen(text);
    if (length > (uint32_t)size - 1)
        length = (uint32_t)size - 1;
    memcpy(buffer, text, length);
    buffer[length] = 0;
    return length;
}

// Replaces each "%1" of the pattern; the argument is inserted unchanged.
char *FormatWithArgument(const char *pattern, const char *argument)
{
    if (!pattern)
        return nullptr;
    std::string result;
    for (const char *p = pattern; *p; p++) {
        if (p[0] == '%' && p[1] == '1') {
            result += argument;
            p++;
        } else {
            result += *p;
        }
    }
    return HeapCopyString(result.c_str());
}

int ShowMessageBox(WindowHandle owner, const char *text, const char *caption, unsigned type)
{
    HostBoxes.push_back({owner, text ? text : "", text == nullptr, caption ? caption : "", type});
    if (!HostBoxAnswers.empty()) {
        int answer = HostBoxAnswers.front();
        HostBoxAnswers.erase(HostBoxAnswers.begin());
        return answer;
    }
    return (type & 0x0F) == MB_YESNOCANCEL ? IDYES : IDOK;
}

void RepaintWindow(WindowHandle window) { HostRepaints.push_back(window); }

void EndProcess(unsigned code)
{
    HostExitHook(code);
    abort();  // a hook that returns breaks the promise that EndProcess never returns
}

// ---- Output files and folders ------------------------------------------------

std::string HostDriveRoot;
std::string HostTempFolder = "C:\\temp\\";
bool HostDoubleByte;
std::vector<std::string> HostMadeFolders;

std::string HostPath(const char *path)
{
    std::string out;
    const char *rest = path;
    if (((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':') {
        if (HostDriveRoot.empty())
            return "";
        out = HostDriveRoot + "/" + (char)(path[0] & ~0x20);
        rest = path + 2;
        if (*rest && *rest != '\\' && *rest != '/')
            out += "/";  // "C:x" is relative to the drive's folder: its root here
    } else if (path[0] == '\\' || path[0] == '/') {
        if (HostDriveRoot.empty())
            return "";
        out = HostDriveRoot;
    }
    for (const char *p = rest; *p;) {
        const char *next = NextChar(p);
        if (*p == '\\') {
            out += '/';
            p = next;
        } else {
            out.append(p, next);
            p = next;
        }
    }
    return out;
}

static FileHandle OpenHost(const char *path, int flags)
{
    std::string host = HostPath(path);
    if (host.empty() && *path)
        return INVALID_FILE;
    // Windows refuses to open a read-only file for writing, even to an
    // administrator; the host build runs as root in CI.
    struct stat info;
    if ((flags & O_ACCMODE) != O_RDONLY && stat(host.c_str(), &info) == 0 && !(info.st_mode & S_IWUSR))
        return INVALID_FILE;
    int fd = open(host.c_str(), flags | O_NOFOLLOW, 0644);
    return fd < 0 ? INVALID_FILE : (FileHandle)(intptr_t)fd;
}

FileHandle OpenForReplace(const char *path)
{
    return OpenHost(path, O_RDWR);
}

FileHandle CreateOutputFile(const char *path) { return OpenHost(path, O_RDWR | O_CREAT | O_TRUNC); }

void StampDosTime(FileHandle file, uint16_t date, uint16_t time)
{
    struct tm local = {};
    local.tm_year = 80 + (date >> 9);
    local.tm_mon = ((date >> 5) & 15) - 1;
    local.tm_mday = date & 31;
    local.tm_hour = time >> 11;
    local.tm_min = (time >> 5) & 63;
    local.tm_sec = (time & 31) * 2;
    local.tm_isdst = -1;
    time_t when = mktime(&local);
    if (when == (time_t)-1)
        return;
    struct timespec times[2] = {{when, 0}, {when, 0}};
    futimens(FileNumber(file), times);
}

bool MakeFolder(const char *path)
{
    HostMadeFolders.push_back(path);
    std::string host = HostPath(path);
    return !host.empty() && mkdir(host.c_str(), 0755) == 0;
}

bool RemoveFolder(const char *path)
{
    std::string host = HostPath(path);
    struct stat info;
    if (host.empty() || lstat(host.c_str(), &info) != 0)
        return false;
    if (S_ISLNK(info.st_mode))
        return unlink(host.c_str()) == 0;
    return rmdir(host.c_str()) == 0;
}

bool DeleteFileAt(const char *path)
{
    std::string host = HostPath(path);
    struct stat info;
    if (host.empty() || lstat(host.c_str(), &info) != 0 || S_ISDIR(info.st_mode))
        return false;
    // Windows refuses to delete a read-only file.
    if (!S_ISLNK(info.st_mode) && !(info.st_mode & S_IWUSR))
        return false;
    return unlink(host.c_str()) == 0;
}

static uint32_t CopyOut(const std::string &text, char *buffer)
{
    if (text.size() >= PATH_CHARS) {
        buffer[0] = 0;
        return 0;
    }
    memcpy(buffer, text.c_str(), text.size() + 1);
    return (uint32_t)text.size();
}

uint32_t GetTempFolder(char *buffer) { return CopyOut(HostTempFolder, buffer); }

// The host's current folder as the program sees it: relative to the drive
// root when below it, else the plain host path.
uint32_t GetCurrentFolder(char *buffer)
{
    char here[4096];
    if (!getcwd(here, sizeof here)) {
        buffer[0] = 0;
        return 0;
    }
    std::string path = here;
    if (!HostDriveRoot.empty() && path.compare(0, HostDriveRoot.size(), HostDriveRoot) == 0 &&
        path.size() > HostDriveRoot.size() + 1) {
        std::string inside = path.substr(HostDriveRoot.size() + 1);  // "C/x/y"
        std::string windows = inside.substr(0, 1) + ":";
        windows += inside.size() > 1 ? inside.substr(1) : "\\";
        for (char &c : windows)
            if (c == '/')
                c = '\\';
        return CopyOut(windows, buffer);
    }
    return CopyOut(path, buffer);
}

bool SetCurrentFolder(const char *path)
{
    std::string host = HostPath(path);
    return !host.empty() && chdir(host.c_str()) == 0;
}

struct HostSearch {
    DIR *folder;
    std::string path;  // the folder, ending in '/'
};

static bool ReadFound(HostSearch *search, FoundEntry *entry)
{
    struct dirent *item = readdir(search->folder);
    if (!item)
        return false;
    snprintf(entry->Name, PATH_CHARS, "%s", item->d_name);
    entry->Kind = 0;
    struct stat info;
    std::string full = search->path + item->d_name;
    if (lstat(full.c_str(), &info) == 0) {
        if (S_ISLNK(info.st_mode)) {
            entry->Kind |= FOUND_LINK;
            if (stat(full.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
                entry->Kind |= FOUND_DIRECTORY;
        } else if (S_ISDIR(info.st_mode)) {
            entry->Kind |= FOUND_DIRECTORY;
        }
    }
    return true;
}

// Only the pattern "folder\*.*" is used by the program.
SearchHandle FindFirstEntry(const char *pattern, FoundEntry *entry)
{
    std::string host = HostPath(pattern);
    size_t slash = host.rfind('/');
    if (host.empty() || slash == std::string::npos || host.substr(slash) != "/*.*")
        return nullptr;
    HostSearch *search = new HostSearch{nullptr, host.substr(0, slash + 1)};
    search->folder = opendir(search->path.c_str());
    if (!search->folder || !ReadFound(search, entry)) {
        if (search->folder)
            closedir(search->folder);
        delete search;
        return nullptr;
    }
    return search;
}

bool FindNextEntry(SearchHandle search, FoundEntry *entry)
{
    return ReadFound((HostSearch *)search, entry);
}

void FindEnd(SearchHandle search)
{
    HostSearch *host = (HostSearch *)search;
    closedir(host->folder);
    delete host;
}

static bool IsLeadByte(uint8_t c)
{
    return HostDoubleByte && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC));
}

const char *NextChar(const char *p)
{
    if (!*p)
        return p;
    if (IsLeadByte((uint8_t)*p) && p[1])
        return p + 2;
    return p + 1;
}

// Code page 932's shape: a lead byte takes a trail byte of 0x40-0x7E or
// 0x80-0xFC; 0x80, 0xA0 and 0xFD-0xFF are no characters; half-width katakana
// (0xA1-0xDF) are U+FF61 on. Double-byte characters come out as private-use
// units. Without HostDoubleByte: Latin-1, a byte being its own code point.
uint16_t DecodeChar(const char *p, uint32_t *length)
{
    uint8_t c = (uint8_t)p[0], trail = (uint8_t)p[1];
    *length = 1;
    if (!HostDoubleByte)
        return c;
    if (IsLeadByte(c)) {
        if ((trail >= 0x40 && trail <= 0x7E) || (trail >= 0x80 && trail <= 0xFC)) {
            *length = 2;
            return (uint16_t)(0xE000 + ((c << 8 | trail) & 0x1FFF));
        }
    } else if (c < 0x80) {
        return c;
    } else if (c >= 0xA1 && c <= 0xDF) {
        return (uint16_t)(0xFF61 + c - 0xA1);
    }
    *length = 0;
    return 0;
}

bool FileIsAbsent(const char *path)
{
    struct stat info;
    return stat(HostPath(path).c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

bool CanOpenForWriting(const char *path)
{
    if (HostBusyFiles.count(path))
        return false;
    int fd = open(HostPath(path).c_str(), O_RDWR);
    if (fd < 0)
        return false;
    close(fd);
    return true;
}

std::map<std::string, int> HostBusyFiles;

// Processes are not started on the host: each command is recorded, and its
// waits answer from HostWaitResults.
std::vector<std::string> HostStartedCommands;
std::vector<std::string> HostStartFolders;
std::vector<int> HostWaitResults;
bool HostStartFails;
std::vector<std::string> HostEvents;

ProcessHandle StartProgram(const char *command)
{
    HostStartedCommands.push_back(command);
    char folder[PATH_CHARS];
    GetCurrentFolder(folder);
    HostStartFolders.push_back(folder);
    HostEvents.push_back("start");
    return HostStartFails ? nullptr : (ProcessHandle)&HostStartedCommands;
}

int WaitForProcess(ProcessHandle process, uint32_t)
{
    if (!process)
        return PROCESS_WAIT_FAILED;
    HostEvents.push_back("wait");
    if (HostWaitResults.empty())
        return PROCESS_ENDED;
    int result = HostWaitResults.front();
    HostWaitResults.erase(HostWaitResults.begin());
    return result;
}

void CloseProcess(ProcessHandle) { HostEvents.push_back("close"); }

uint32_t TickCount()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (uint32_t)((uint64_t)now.tv_sec * 1000 + (uint64_t)now.tv_nsec / 1000000);
}

void Pause(uint32_t ms)
{
    HostEvents.push_back("pause " + std::to_string(ms));
    // A busy file is released after the number of pauses it was given.
    for (auto it = HostBusyFiles.begin(); it != HostBusyFiles.end();)
        it = --it->second <= 0 ? HostBusyFiles.erase(it) : std::next(it);
}

void PumpMessages() { HostEvents.push_back("pump"); }

void EnableInput(WindowHandle, bool enabled)
{
    HostEvents.push_back(enabled ? "enable" : "disable");
}
