// The packer's platform layer on Linux: characters by the C.UTF-8 locale,
// and conversions between UTF-8 and a code page by iconv.
#include <errno.h>
#include <iconv.h>
#include <locale.h>
#include <wchar.h>
#include <wctype.h>

#include <string>

#include "os/os.h"

namespace pack {

// ---- Characters and code pages --------------------------------------------------

static locale_t Unicode()
{
    static locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", (locale_t)0);
    return unicode;
}

uint32_t UpperCase(uint32_t c) { return Unicode() ? (uint32_t)towupper_l((wint_t)c, Unicode()) : c; }

int TerminalWidth(uint32_t c)
{
    locale_t old = uselocale(Unicode() ? Unicode() : LC_GLOBAL_LOCALE);
    int width = wcwidth((wchar_t)c);
    uselocale(old);
    return width < 0 ? 1 : width;
}

const char kConverterName[] = "iconv";

namespace {

struct Conversion {
    iconv_t cd;
};

}  // namespace

void *OpenConversion(int codepage, bool toCodePage)
{
    std::string name = "CP" + std::to_string(codepage);
    iconv_t cd = toCodePage ? iconv_open(name.c_str(), "UTF-8") : iconv_open("UTF-8", name.c_str());
    return cd == (iconv_t)-1 ? nullptr : new Conversion{cd};
}

void CloseConversion(void *conversion)
{
    if (conversion) {
        iconv_close(((Conversion *)conversion)->cd);
        delete (Conversion *)conversion;
    }
}

int ConvertText(void *conversion, const std::string &text, std::string *out)
{
    iconv_t cd = ((Conversion *)conversion)->cd;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::string bytes(text.size() * 4 + 16, '\0');
    char *in = const_cast<char *>(text.data());
    size_t inLeft = text.size();
    char *to = bytes.data();
    size_t outLeft = bytes.size();
    if (iconv(cd, &in, &inLeft, &to, &outLeft) == (size_t)-1 || iconv(cd, nullptr, nullptr, &to, &outLeft) == (size_t)-1)
        return errno ? errno : EINVAL;
    bytes.resize(bytes.size() - outLeft);
    *out = std::move(bytes);
    return 0;
}

bool LookAlike(void *, const std::string &, std::string *) { return false; }

bool IsLeadByte(void *conversion, uint8_t byte)
{
    // A lead byte is one that the code page can't read alone: the
    // conversion of that byte by itself stops, incomplete.
    iconv_t cd = ((Conversion *)conversion)->cd;
    char in[1] = {(char)byte}, out[8];
    char *from = in, *to = out;
    size_t inLeft = 1, outLeft = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    return iconv(cd, &from, &inLeft, &to, &outLeft) == (size_t)-1 && errno == EINVAL;
}

}  // namespace pack
