// The packer's platform layer on Windows, what its files share: UTF-8 and
// UTF-16, errno values, "\\?\" paths and descriptors over handles.
#include "os/os.h"
#include "os/win32.h"

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <string.h>

#include <algorithm>

namespace pack {

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

}  // namespace pack
