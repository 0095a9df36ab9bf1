// Host implementation of the platform layer, the part that the packers and
// the native tests share: the image and other files read by their UTF-8
// paths, memory and strings, and the texts of the English string table.
#include "../platform.h"

#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#ifdef _WIN32
// The Windows packer runs on this layer as well: it reads its images by
// UTF-8 paths.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <io.h>
#undef IDC_ICON  // the stub's resources have their own
#define lseek _lseeki64
#endif

#include "../../resources/resource.h"
#include "../../resources/strings.h"

ModuleHandle ModuleInstance;
FileHandle ImageFile = INVALID_FILE;
char16_t ImageDir[PATH_CHARS];

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

uint32_t FileLength(FileHandle file)
{
    int64_t end = lseek(FileNumber(file), 0, SEEK_END);
    return end >= 0 && end < 0xFFFFFFFF ? (uint32_t)end : 0xFFFFFFFF;
}

void CloseFile(FileHandle file) { close(FileNumber(file)); }

void CopyBytes(void *to, const void *from, uint32_t count) { memmove(to, from, count); }

uint32_t StringLength(const char *text) { return (uint32_t)strlen(text); }

uint32_t TextLength(const char16_t *text)
{
    uint32_t n = 0;
    while (text[n])
        n++;
    return n;
}

// The host has no resources: string ids come from the English table.
uint32_t LoadStringText(uint16_t id, char16_t *buffer, int size)
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
    case IDS_NO_SAFE_FOLDER: text = STR_EN_NO_SAFE_FOLDER; break;
    }
    uint32_t bytes = (uint32_t)strlen(text);
    if (size <= 0)
        return 0;
    // UTF-8 takes at least as many bytes as UTF-16 units.
    char16_t wide[1024];
    int32_t length = Utf8ToWide((const uint8_t *)text, bytes < 1024 ? bytes : 1024, wide, false);
    if (length > size - 1)
        length = size - 1;
    memcpy(buffer, wide, (size_t)length * 2);
    buffer[length] = 0;
    return (uint32_t)length;
}

// Replaces each "%1" of the pattern; the argument is inserted unchanged.
char16_t *FormatWithArgument(const char16_t *pattern, const char16_t *argument)
{
    if (!pattern)
        return nullptr;
    uint32_t count = 0, length = TextLength(argument);
    for (const char16_t *p = pattern; *p; p++) {
        bool placeholder = p[0] == '%' && p[1] == '1';
        count += placeholder ? length : 1;
        p += placeholder;
    }
    char16_t *result = (char16_t *)HeapAllocBlock((count + 1) * 2);
    if (!result)
        return nullptr;
    char16_t *out = result;
    for (const char16_t *p = pattern; *p; p++) {
        if (p[0] == '%' && p[1] == '1') {
            memcpy(out, argument, (size_t)length * 2);
            out += length;
            p++;
        } else {
            *out++ = *p;
        }
    }
    *out = 0;
    return result;
}
