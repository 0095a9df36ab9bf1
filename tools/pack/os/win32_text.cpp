// The packer's platform layer on Windows: characters and conversions between
// UTF-8 and a code page by the platform's own tables.
#include "os/os.h"
#include "os/win32.h"

#include <errno.h>
#include <string.h>

#include <algorithm>

namespace pack {

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

}  // namespace pack
