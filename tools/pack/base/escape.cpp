// The escaping of texts and names for a terminal and for JSON.
#include <stdio.h>

#include "base/escape.h"

namespace pack {

// A control character as \n, \r, \t, or \xNN (\u00NN in JSON).
std::string EscapeControl(uint8_t c, bool json)
{
    if (c == '\n')
        return "\\n";
    if (c == '\r')
        return "\\r";
    if (c == '\t')
        return "\\t";
    char hex[8];
    snprintf(hex, sizeof hex, json ? "\\u%04X" : "\\x%02X", c);
    return hex;
}

namespace {

// The length of the well-formed UTF-8 character at text[at] that is not a
// control character (C1 included); 0 for anything else.
size_t PrintableLength(const std::string &text, size_t at)
{
    uint8_t c = (uint8_t)text[at];
    if (c < 0x80)
        return c >= 0x20 && c != 0x7F;
    size_t length = c >= 0xC2 && c < 0xE0 ? 2 : c >= 0xE0 && c < 0xF0 ? 3 : c >= 0xF0 && c < 0xF5 ? 4 : 0;
    if (!length || at + length > text.size())
        return 0;
    for (size_t i = 1; i < length; i++)
        if (((uint8_t)text[at + i] & 0xC0) != 0x80)
            return 0;
    uint8_t next = (uint8_t)text[at + 1];
    if ((c == 0xE0 && next < 0xA0) || (c == 0xED && next >= 0xA0) || (c == 0xF0 && next < 0x90) ||
        (c == 0xF4 && next >= 0x90) || (c == 0xC2 && next < 0xA0))
        return 0;  // overlong, a surrogate, beyond U+10FFFF, or a C1 control
    return length;
}

}  // namespace

std::string Printable(const std::string &text)
{
    std::string out;
    for (size_t at = 0; at < text.size();) {
        size_t length = PrintableLength(text, at);
        if (length) {
            out.append(text, at, length);
            at += length;
            continue;
        }
        uint8_t c = (uint8_t)text[at++];
        out += EscapeControl(c, false);
    }
    return out;
}

std::string Quoted(const std::string &text, bool utf8, bool json)
{
    std::string out = "\"";
    for (char ch : text) {
        uint8_t c = (uint8_t)ch;
        char hex[8];
        if (c == '"' || c == '\\')
            out += std::string("\\") + (char)c;
        else if (c < 0x20 || c == 0x7F)
            out += EscapeControl(c, json);
        else if (c >= 0x80 && !utf8) {
            snprintf(hex, sizeof hex, json ? "\\\\x%02X" : "\\x%02X", c);
            out += hex;
        } else
            out += (char)c;
    }
    return out + "\"";
}

}  // namespace pack
