// Names and texts as UTF-8 or converted into the stub's ANSI code page.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <map>

#include "core/core.h"
#include "inputs/inputs.h"
#include "os/os.h"

#include "base/utf8.h"

namespace pack {

TextEncoder::TextEncoder(int codepage) : codepage_(codepage), iconv_(nullptr), back_(nullptr)
{
    if (codepage == 0)
        return;
    if (!IsAnsiCodePage(codepage)) {
        std::string known;
        for (uint16_t ansi : kAnsiCodePages)
            known += (known.empty() ? "" : ", ") + std::to_string(ansi);
        throw PackError("--codepage: " + std::to_string(codepage) + " is not a Windows ANSI code page (" + known + ")",
                        Failure::Usage);
    }
    void *to = OpenConversion(codepage, true), *back = OpenConversion(codepage, false);
    if (!to || !back) {
        CloseConversion(to);
        CloseConversion(back);
        throw PackError("--codepage: code page " + std::to_string(codepage) + " is not known to " + kConverterName,
                        Failure::Usage);
    }
    iconv_ = to;
    back_ = back;
    for (int b = 0x80; b < 0x100; b++)
        lead_[b] = pack::IsLeadByte(back, (uint8_t)b);
}

TextEncoder::~TextEncoder()
{
    CloseConversion(iconv_);
    CloseConversion(back_);
}

// text through a conversion; throws a bare PackError that callers complete.
std::string TextEncoder::Convert(void *conversion, const std::string &text) const
{
    std::string out;
    if (int error = ConvertText(conversion, text, &out))
        throw PackError(error == EILSEQ ? " (a character has no equivalent there, or the name is not UTF-8)" : "");
    return out;
}

static bool IsAscii(const std::string &text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return (uint8_t)c < 0x80; });
}

size_t TextEncoder::Units(const std::string &written) const
{
    std::u16string wide;
    return utf8() && StrictWide(written, &wide) ? wide.size() : written.size();
}

std::string TextEncoder::Encode(const std::string &utf8, const std::string &what) const
{
    if (IsAscii(utf8))
        return utf8;
    if (!iconv_) {
        if (!IsUtf8(utf8))
            throw PackError(what + ": not UTF-8");
        return utf8;
    }
    try {
        return Convert(iconv_, utf8);
    } catch (const PackError &error) {
        throw PackError(what + ": can't be written in code page " + std::to_string(codepage_) + error.what());
    }
}

bool TextEncoder::Decode(const std::string &bytes, std::string *utf8) const
{
    if (IsAscii(bytes)) {
        *utf8 = bytes;
        return true;
    }
    if (!back_)
        return false;
    try {
        *utf8 = Convert(back_, bytes);
        return true;
    } catch (const PackError &) {
        return false;
    }
}

std::string TextEncoder::EncodeName(const std::string &utf8, const std::string &what) const
{
    if (!iconv_)
        return Encode(utf8, what);  // UTF-8: every character is itself
    std::string whole;
    bool lookAlikes = false;  // a refusal of the platform's that is a look-alike, said as one below
    try {
        whole = Encode(utf8, what);
    } catch (const PackError &) {
        for (size_t at = 0; iconv_ && at < utf8.size() && !lookAlikes;) {
            size_t length = std::min(SequenceLength((uint8_t)utf8[at]), utf8.size() - at);
            std::string bytes;
            lookAlikes = length > 1 && LookAlike(iconv_, utf8.substr(at, length), &bytes);
            at += length;
        }
        if (!lookAlikes)
            throw;
    }
    if (IsAscii(utf8))
        return whole;
    // Character by character, each one converted and read back.
    std::string out;
    for (size_t at = 0; at < utf8.size();) {
        size_t length = std::min(SequenceLength((uint8_t)utf8[at]), utf8.size() - at);
        std::string character = utf8.substr(at, length), bytes = character;
        if (length > 1) {
            if (ConvertText(iconv_, character, &bytes) != 0 && !LookAlike(iconv_, character, &bytes))
                Encode(character, what);  // neither: refused as the whole name would be
            std::string back;
            try {
                back = Convert(back_, bytes);
            } catch (const PackError &) {
            }
            if (back != character)
                throw PackError(what + ": code page " + std::to_string(codepage_) + " has no " +
                                CharacterName(utf8, at, length) + "; it would become " +
                                (back.empty() ? std::string("something else") : CharacterName(back, 0, back.size())));
        }
        out += bytes;
        at += length;
    }
    return out;
}

}  // namespace pack
