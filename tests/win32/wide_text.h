// Text helpers of the Win32 test programs: host paths as Wine names them, and
// Unicode window texts as UTF-8 for reports and comparisons.
#pragma once

#include <windows.h>

#include <string>

// Host paths, as CTest passes them to the Win32 tests, name Wine's drive Z:.
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

inline std::string Utf8(const std::wstring &text)
{
    if (text.empty())
        return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0,
                                nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &out[0], n, nullptr,
                        nullptr);
    return out;
}
