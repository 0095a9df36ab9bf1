// Host implementation of the platform layer, for the native build of the core:
// POSIX files, a counting heap, recorded message boxes and a replaceable exit.
#include "../platform.h"

#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "host_testing.h"
#include "../../resources/resource.h"
#include "../../resources/strings.h"

ModuleHandle ModuleInstance;
FileHandle ImageFile = INVALID_FILE;

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
    int fd = open(path, O_RDONLY);
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

uint32_t WriteBytes(FileHandle file, const void *buffer, uint32_t count)
{
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
    if (block)
        HostLiveBlocks++;
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

uint32_t GetImagePath(char *buffer)
{
    if (!HostImagePath.empty()) {
        size_t n = HostImagePath.copy(buffer, PATH_CHARS - 1);
        buffer[n] = 0;
        return (uint32_t)n;
    }
    ssize_t n = readlink("/proc/self/exe", buffer, PATH_CHARS - 1);
    if (n < 0)
        n = 0;
    buffer[n] = 0;
    return (uint32_t)n;
}

void RestrictDllSearch() {}

ModuleHandle LoadSystemLibrary(const char *) { return nullptr; }

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
