// UTF-8 as the stub decodes it: strictly, by the core's own conversion.
#include "core/core.h"

namespace pack {

bool StrictWide(const std::string &text, std::u16string *wide)
{
    wide->resize(text.size());
    int32_t units = Utf8ToWide((const uint8_t *)text.data(), (uint32_t)text.size(), &(*wide)[0], true);
    wide->resize(units > 0 ? (size_t)units : 0);
    return units >= 0;
}

bool IsUtf8(const std::string &text)
{
    std::u16string wide;
    return StrictWide(text, &wide);
}

std::u16string Utf16(const std::string &utf8, const std::string &what)
{
    std::u16string wide;
    if (!StrictWide(utf8, &wide))
        throw PackError(what + ": the text is not UTF-8");
    return wide;
}

}  // namespace pack
