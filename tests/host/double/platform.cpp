// The double of the platform layer for the native tests, fuzzers and
// benchmarks: the host's files (src/platform/host/files.cpp) beside a
// counting heap, writes that can fail, recorded message boxes and processes,
// Windows paths below a drive root, and a replaceable exit.
#include "platform/platform.h"

#include <ctype.h>
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

#include "base/utf8.h"
#include "host_testing.h"
#include "archive/names.h"

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

std::string HostUtf8(const char16_t *text) { return pack::Utf8(text); }

std::u16string HostUtf16(const std::string &text)
{
    std::u16string out(text.size() + 1, u'\0');
    int32_t units = Utf8ToWide((const uint8_t *)text.data(), (uint32_t)text.size(), &out[0], false);
    out.resize((size_t)units);
    return out;
}

// Copies text into a buffer of size units; its length, 0 (buffer empty)
// when it does not fit.
static uint32_t CopyOut(const std::string &text, char16_t *buffer, uint32_t size = PATH_CHARS)
{
    std::u16string wide = HostUtf16(text);
    if (wide.size() >= size) {
        buffer[0] = 0;
        return 0;
    }
    memcpy(buffer, wide.c_str(), (wide.size() + 1) * 2);
    return (uint32_t)wide.size();
}

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

int ShowMessageBox(WindowHandle owner, const char16_t *text, const char16_t *caption,
                   unsigned type)
{
    HostBoxes.push_back({owner, text ? HostUtf8(text) : "", text == nullptr,
                         caption ? HostUtf8(caption) : "", type});
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
    for (const char *p = rest; *p; p++)
        out += *p == '\\' ? '/' : *p;
    return out;
}

static std::string HostPath(const char16_t *path) { return HostPath(HostUtf8(path).c_str()); }

static FileHandle OpenHost(const char16_t *path, int flags)
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

FileHandle CreateNewFile(const char16_t *path) { return OpenHost(path, O_RDWR | O_CREAT | O_EXCL); }

FileHandle OpenForReplace(const char16_t *path)
{
    return OpenHost(path, O_RDWR);
}

FileHandle CreateOutputFile(const char16_t *path) { return OpenHost(path, O_RDWR | O_CREAT | O_TRUNC); }

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

bool MakeFolder(const char16_t *path)
{
    HostMadeFolders.push_back(HostUtf8(path));
    std::string host = HostPath(path);
    return !host.empty() && mkdir(host.c_str(), 0755) == 0;
}

bool IsFolder(const char16_t *path)
{
    struct stat info;
    return stat(HostPath(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool HostElevated;
bool RunsElevated() { return HostElevated; }
bool HostHeldFolderFails;
std::map<std::string, int> HostHeldFolders;
const uint8_t *HostHeldDescriptor;

FileHandle CreateHeldFolder(const char16_t *path, const uint8_t *descriptor)
{
    HostMadeFolders.push_back(HostUtf8(path));
    HostHeldDescriptor = descriptor;
    std::string host = HostPath(path);
    if (HostHeldFolderFails || host.empty() || mkdir(host.c_str(), 0700) != 0)
        return INVALID_FILE;
    int fd = open(host.c_str(), O_RDONLY | O_DIRECTORY);
    HostHeldFolders[host] = fd;
    return (FileHandle)(intptr_t)fd;
}

// Whether the folder is still held open by the handle CreateHeldFolder gave.
static bool IsHeld(const std::string &host)
{
    auto held = HostHeldFolders.find(host);
    struct stat open, named;
    return held != HostHeldFolders.end() && fstat(held->second, &open) == 0 &&
           stat(host.c_str(), &named) == 0 && open.st_ino == named.st_ino &&
           open.st_dev == named.st_dev;
}

bool RemoveFolder(const char16_t *path)
{
    std::string host = HostPath(path);
    struct stat info;
    if (host.empty() || lstat(host.c_str(), &info) != 0)
        return false;
    if (IsHeld(host))
        return false;  // shared without delete access, as the platform holds it
    if (S_ISLNK(info.st_mode))
        return unlink(host.c_str()) == 0;
    return rmdir(host.c_str()) == 0;
}

bool DeleteFileAt(const char16_t *path)
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

uint32_t GetTempFolder(char16_t *buffer) { return CopyOut(HostTempFolder, buffer); }

std::map<std::string, std::string> HostVariables;

// As Windows expands: a name is matched in any case; an unknown reference
// and a lone '%' stay as written.
uint32_t ExpandReferences(const char16_t *text, char16_t *buffer, uint32_t size)
{
    std::string in = HostUtf8(text), out;
    for (size_t at = 0; at < in.size();) {
        size_t end = in[at] == '%' ? in.find('%', at + 1) : std::string::npos;
        if (end == std::string::npos) {
            out += in[at++];
            continue;
        }
        std::string name = in.substr(at + 1, end - at - 1), upper;
        for (char c : name)
            upper += (char)toupper((unsigned char)c);
        auto found = HostVariables.find(upper);
        if (found == HostVariables.end()) {
            out += in.substr(at, end - at);
            at = end;
            continue;
        }
        out += found->second;
        at = end + 1;
    }
    return CopyOut(out, buffer, size);
}

// The host's current folder as the program sees it: relative to the drive
// root when below it, else the plain host path.
uint32_t GetCurrentFolder(char16_t *buffer)
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

bool SetCurrentFolder(const char16_t *path)
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
    CopyOut(item->d_name, entry->Name);
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
SearchHandle FindFirstEntry(const char16_t *pattern, FoundEntry *entry)
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

// Code page 932's shape: a lead byte takes a trail byte of 0x40-0x7E or
// 0x80-0xFC; 0x80, 0xA0 and 0xFD-0xFF are no characters; half-width katakana
// (0xA1-0xDF) are U+FF61 on. Double-byte characters come out as private-use
// units. Without HostDoubleByte: Latin-1, a byte being its own code point.
static uint32_t DecodeHostChar(const char *p, char16_t *out)
{
    uint8_t c = (uint8_t)p[0], trail = (uint8_t)p[1];
    *out = c;
    if (!HostDoubleByte || c < 0x80)
        return 1;
    if (IsLeadByte(c)) {
        if ((trail >= 0x40 && trail <= 0x7E) || (trail >= 0x80 && trail <= 0xFC)) {
            *out = (char16_t)(0xE000 + ((c << 8 | trail) & 0x1FFF));
            return 2;
        }
    } else if (c >= 0xA1 && c <= 0xDF) {
        *out = (char16_t)(0xFF61 + c - 0xA1);
        return 1;
    }
    return 0;
}

uint32_t DecodeChar(const char *p, char16_t *out, uint32_t *units)
{
    *units = 1;
    return DecodeHostChar(p, out);
}

bool FileIsAbsent(const char16_t *path)
{
    struct stat info;
    return stat(HostPath(path).c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

bool CanOpenForWriting(const char16_t *path)
{
    if (HostBusyFiles.count(HostUtf8(path)))
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

ProcessHandle StartProgram(const char16_t *command)
{
    HostStartedCommands.push_back(HostUtf8(command));
    char16_t folder[PATH_CHARS];
    GetCurrentFolder(folder);
    HostStartFolders.push_back(HostUtf8(folder));
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

std::map<std::string, std::string> HostSystemPrograms;

// The platform's search in one folder, then the system's programs by name.
bool FindProgram(const char16_t *name, const char16_t *folder, bool everywhere, char16_t *path)
{
    std::string key = HostUtf8(name);
    size_t slash = key.find_last_of("\\/");
    if (key.find('.', slash == std::string::npos ? 0 : slash) == std::string::npos)
        key += ".exe";
    std::string full = key[0] == '\\' || (key.size() > 1 && key[1] == ':')
                           ? key
                           : HostUtf8(folder) + "\\" + key;
    struct stat info;
    if (stat(HostPath(full.c_str()).c_str(), &info) == 0)
        return !S_ISDIR(info.st_mode) && CopyOut(full, path) != 0;
    auto found = everywhere ? HostSystemPrograms.find(key) : HostSystemPrograms.end();
    return found != HostSystemPrograms.end() && CopyOut(found->second, path) != 0;
}

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
