// Host paths, as CTest passes them to the Win32 tests, name Wine's drive Z:.
#pragma once

#include <windows.h>

#include <string>

inline std::wstring WindowsPath(const char *path)
{
    int n = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    std::wstring out(n, L'\0');
    MultiByteToWideChar(CP_ACP, 0, path, -1, &out[0], n);
    out.resize(n - 1);
    if (!out.empty() && out[0] == L'/')
        out = L"Z:" + out;
    for (wchar_t &c : out)
        if (c == L'/')
            c = L'\\';
    return out;
}
