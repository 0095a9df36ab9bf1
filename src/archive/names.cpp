// The check of a UTF-16 entry name, and stored names and texts decoded.
#include "names.h"

#include "../platform/platform.h"

// Part names Windows keeps for devices: "NUL.txt" or "com1" open the device,
// not a file. COM and LPT take a digit 1-9 or a superscript one to three.
static bool IsDeviceName(const char16_t *part, uint32_t length)
{
    // The base before the first dot, less trailing spaces ("CON .txt").
    uint32_t base = 0;
    while (base < length && part[base] != '.')
        base++;
    while (base > 0 && part[base - 1] == ' ')
        base--;
    char upper[8];
    if (base < 3 || base > 7)
        return false;
    for (uint32_t i = 0; i < base; i++) {
        char16_t c = part[i];
        if (c >= 'a' && c <= 'z')
            c = (char16_t)(c - 'a' + 'A');
        if (c == 0xB9 || c == 0xB2 || c == 0xB3)
            c = '1';  // superscript one, two, three: which one does not matter
        if (c > 0x7F)
            return false;
        upper[i] = (char)c;
    }
    static const char *const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char *device : devices) {
        uint32_t i = 0;
        while (i < base && device[i] == upper[i])
            i++;
        if (i == base && device[i] == 0)
            return true;
    }
    return base == 4 && upper[3] >= '1' && upper[3] <= '9' &&
           ((upper[0] == 'C' && upper[1] == 'O' && upper[2] == 'M') ||
            (upper[0] == 'L' && upper[1] == 'P' && upper[2] == 'T'));
}

bool WideNameIsCreatable(const char16_t *name, uint32_t length)
{
    if (length > 0 && (name[0] == '/' || name[0] == '\\'))
        return false;
    uint32_t start = 0;
    for (uint32_t i = 0; i <= length; i++) {
        char16_t c = i < length ? name[i] : '/';
        if (c < 0x20 || c == ':' || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' ||
            c == '*')
            return false;
        if (c == '/' || c == '\\') {
            const char16_t *part = name + start;
            uint32_t partLength = i - start;
            if (partLength > 0 && (part[partLength - 1] == '.' || part[partLength - 1] == ' '))
                return false;
            if (IsDeviceName(part, partLength))
                return false;
            start = i + 1;
        }
    }
    return true;
}

int32_t DecodeStored(const char *bytes, uint32_t length, bool utf8, bool strict, char16_t *out)
{
    int32_t units = 0;
    if (utf8) {
        units = Utf8ToWide((const uint8_t *)bytes, length, out, strict);
    } else {
        for (uint32_t i = 0; i < length;) {
            // Every ANSI code page is ASCII below 0x80: no call for those.
            uint8_t c = (uint8_t)bytes[i];
            if (c && c < 0x80) {
                out[units++] = c;
                i++;
                continue;
            }
            uint32_t got = 0, size = c ? DecodeChar(bytes + i, out + units, &got) : 0;
            if (size == 0) {
                if (strict)
                    return -1;
                out[units++] = '?';
                i++;
            } else {
                units += (int32_t)got;
                i += size;
            }
        }
    }
    if (units >= 0)
        out[units] = 0;
    return units;
}
