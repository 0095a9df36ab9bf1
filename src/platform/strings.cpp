// Helpers built on the platform's own operations, and UTF-8 read into
// UTF-16: the same in every build.
#include "platform.h"

char16_t *HeapCopyText(const char16_t *text)
{
    uint32_t size = (TextLength(text) + 1) * 2;
    char16_t *copy = (char16_t *)HeapAllocBlock(size);
    if (copy)
        CopyBytes(copy, text, size);
    return copy;
}

int32_t Utf8ToWide(const uint8_t *bytes, uint32_t length, char16_t *out, bool strict)
{
    uint32_t units = 0;
    for (uint32_t i = 0; i < length;) {
        uint32_t c = bytes[i], more = 0;
        bool bad = false;
        // The range of the first trailing byte keeps out overlong forms,
        // surrogates and code points above U+10FFFF.
        uint8_t low = 0x80, high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            more = 1, c &= 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2, c &= 0x0F;
            if (c == 0)
                low = 0xA0;
            else if (c == 0x0D)
                high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3, c &= 0x07;
            if (c == 0)
                low = 0x90;
            else if (c == 4)
                high = 0x8F;
        } else if (c == 0 || c >= 0x80) {
            bad = true;  // a NUL, a trailing byte without its lead, or no lead at all
        }
        uint32_t taken = 1;
        for (; taken <= more; taken++) {
            uint8_t b = i + taken < length ? bytes[i + taken] : 0;
            if (b < low || b > high)
                break;
            c = c << 6 | (b & 0x3F);
            low = 0x80, high = 0xBF;
        }
        if (taken <= more)
            bad = true;  // cut short: only the lead byte is replaced
        if (bad) {
            if (strict)
                return -1;
            c = bytes[i] == 0 ? '?' : 0xFFFD;  // a NUL is a control character, shown as one
            taken = 1;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out[units++] = (char16_t)(0xD800 + (c >> 10));
            c = 0xDC00 + (c & 0x3FF);
        }
        out[units++] = (char16_t)c;
        i += taken;
    }
    return (int32_t)units;
}
