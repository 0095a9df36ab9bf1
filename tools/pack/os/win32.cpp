// The packer's platform layer on Windows: files, folders and links by
// wide-character calls (UTF-16 names from and to the UTF-8 the packer
// handles). Descriptors are the C runtime's, over handles opened here.
#include "os/os.h"
#include "os/win32.h"

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

}  // namespace pack
