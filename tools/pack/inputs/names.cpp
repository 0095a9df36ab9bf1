// Entry names: what Windows creates as the name itself, and names that
// Windows takes for one.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <map>

#include "inputs/inputs.h"
#include "base/utf8.h"
#include "os/os.h"

namespace pack {

// Windows creates no file of these names, with any extension: they open the
// devices instead. component is UTF-8: Windows takes the superscript digits
// 1 to 3 for COM and LPT ports as well.
static bool IsDeviceName(const std::string &component)
{
    static const char *const kSuperscripts[] = {"\xC2\xB9", "\xC2\xB2", "\xC2\xB3"};
    static const char *const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    std::string stem = component.substr(0, component.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    for (char &c : stem)
        if (c >= 'a' && c <= 'z')
            c = (char)(c - 'a' + 'A');
    for (const char *device : kDevices)
        if (stem == device)
            return true;
    if (stem.compare(0, 3, "COM") != 0 && stem.compare(0, 3, "LPT") != 0)
        return false;
    if (stem.size() == 4)
        return stem[3] >= '1' && stem[3] <= '9';
    for (const char *digit : kSuperscripts)
        if (stem.compare(3, std::string::npos, digit) == 0)
            return true;
    return false;
}

void CheckName(const std::string &name, const std::string &utf8, const TextEncoder &encoder)
{
    size_t length = encoder.Units(name);
    if (length > kMaxNameLength)
        throw PackError(utf8 + ": archive name is " + std::to_string(length) + " " + encoder.UnitName() +
                        " long; the stub takes at most " + std::to_string(kMaxNameLength));
    // The characters as given: in a double-byte code page a trailing byte
    // may legitimately be 0x5C.
    std::string component;
    for (size_t at = 0; at <= utf8.size(); at++) {
        char c = at < utf8.size() ? utf8[at] : '/';
        if ((uint8_t)c < 0x20 || strchr("<>:\"\\|?*", c))
            throw PackError(utf8 + ": the name holds " + CharacterName(utf8, at, 1) +
                            ", which Windows does not allow in file names");
        if (c != '/') {
            component += c;
        } else {
            if (IsDeviceName(component))
                throw PackError(utf8 + ": \"" + component + "\" is the name of a device on Windows");
            component.clear();
        }
    }
    // The converted bytes, character by character, one component at a time.
    uint8_t last = 0;
    for (size_t at = 0; at <= name.size(); at++) {
        uint8_t c = at < name.size() ? (uint8_t)name[at] : '/';
        if (c == '/') {
            bool folderEnd = at == name.size() && !name.empty() && name.back() == '/';
            if (component == "." || component == "..")
                throw PackError(utf8 + ": a name may not hold the component \"" + component + "\"");
            if (!folderEnd && (last == '.' || last == ' '))
                throw PackError(utf8 + ": \"" + component + "\" ends in a " + (last == '.' ? "dot" : "space") +
                                ", which Windows drops from file names");
            component.clear();
            last = 0;
            continue;
        }
        if (c == 0x5C)
            throw PackError(utf8 + ": in code page " + std::to_string(encoder.codepage()) +
                            " the name holds the byte 0x5C, which Windows reads as a backslash");
        component += (char)c;
        if (encoder.IsLeadByte(c) && at + 1 < name.size())
            component += name[++at];
        last = c;
    }
    // A UTF-8 name goes through the stub's own check as well: what it
    // refuses is never packed.
    std::u16string wide;
    if (encoder.utf8() && (!StrictWide(name, &wide) || !WideNameIsCreatable(wide.data(), (uint32_t)wide.size())))
        throw PackError(utf8 + ": the stub would refuse to create this name");
}

std::string FoldCase(const std::string &utf8)
{
    std::string folded;
    for (size_t at = 0; at < utf8.size();) {
        size_t length = std::min(SequenceLength((uint8_t)utf8[at]), utf8.size() - at);
        uint32_t c = CodePoint(utf8, at, length);
        uint32_t upper = c;
        if (c < 0x80)
            upper = c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c;
        else if (c <= 0xFFFF)
            upper = UpperCase(c);
        if (upper == c || upper > 0xFFFF) {
            folded += utf8.substr(at, length);
        } else {
            char out[4];
            size_t n = upper < 0x80 ? 1 : upper < 0x800 ? 2 : 3;
            if (n == 1)
                out[0] = (char)upper;
            else if (n == 2)
                out[0] = (char)(0xC0 | upper >> 6), out[1] = (char)(0x80 | (upper & 0x3F));
            else
                out[0] = (char)(0xE0 | upper >> 12), out[1] = (char)(0x80 | ((upper >> 6) & 0x3F)),
                out[2] = (char)(0x80 | (upper & 0x3F));
            folded.append(out, n);
        }
        at += length;
    }
    return folded;
}

}  // namespace pack
