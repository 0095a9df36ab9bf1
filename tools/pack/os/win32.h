// What the packer's Windows files share: UTF-8 and UTF-16, system errors as
// errno values, paths as the file system calls take them, handles as
// descriptors. Only the Windows platform files include it.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <stddef.h>

#include <string>

namespace pack {

// UTF-8 as UTF-16, and back.
std::wstring Wide(const std::string &utf8);
std::string Narrow(const wchar_t *wide, size_t length);
std::string Narrow(const std::wstring &wide);
// A system error as the errno value the packer's messages and exit codes
// take; GetLastError's.
int ErrnoOf(DWORD error);
int LastErrno();
// A path as the file system calls take it: absolute, "\\?\"-prefixed, with
// "." and ".." resolved by name.
std::wstring NativePath(const std::string &utf8);
// A path as Windows reports it, for the packer: without "\\?\", '/' separators.
std::string PackerPath(std::wstring path);
HANDLE OpenHandle(const std::string &path, DWORD access, DWORD flags);
HANDLE HandleOf(int fd);
// A handle as a C runtime descriptor, or -1 (errno set); the handle is the
// descriptor's from then on.
int Descriptor(HANDLE handle, int flags);

}  // namespace pack
