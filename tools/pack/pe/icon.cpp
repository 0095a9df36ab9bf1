// Icon images: picking one out of an .ico file and checking that it has the
// layout the stub's icon loader (CreateIconFromResource) takes.
//
// .ico format notes. The file starts with a 6-byte directory header
// (reserved 0, type 1, count), then count 16-byte entries: width, height
// (0 means 256), colour count, reserved, planes, bit count, the image's byte
// length and its offset in the file. Each image is either a PNG file or the
// icon-resource layout: a 40-byte BITMAPINFOHEADER whose height is twice the
// icon's (XOR bitmap on top of AND mask), the colour table for 1, 4 and 8
// bits per pixel, the XOR bits, then the 1-bit AND mask; every row padded to
// 4 bytes. That second form is exactly what the configuration block carries.
#include <string.h>

#include <algorithm>
#include <cstdlib>

#include "pe/pe.h"

namespace pack {

static uint64_t RowBytes(uint64_t width, uint64_t bits) { return (width * bits + 31) / 32 * 4; }

bool ReadIconImage(const uint8_t *bytes, size_t size, IconInfo *info)
{
    IconInfo found;
    if (size >= 24 && memcmp(bytes, kPngSignature, 8) == 0) {
        // The first chunk of a PNG is IHDR: length 13, width, height, depth.
        if (GetBE32(bytes + 8) != 13 || memcmp(bytes + 12, "IHDR", 4) != 0 || size < 33)
            return false;
        found.png = true;
        found.width = (int)GetBE32(bytes + 16);
        found.height = (int)GetBE32(bytes + 20);
        found.bitCount = bytes[24] * (bytes[25] == 6 ? 4 : bytes[25] == 2 ? 3 : 1);
        if (found.width <= 0 || found.height <= 0 || found.width > 1024 || found.height > 1024)
            return false;
    } else {
        if (size < 40 || Get32(bytes) != 40)
            return false;  // not a BITMAPINFOHEADER
        int32_t width = (int32_t)Get32(bytes + 4);
        int32_t height2 = (int32_t)Get32(bytes + 8);
        uint32_t planes = Get16(bytes + 12), bits = Get16(bytes + 14);
        uint32_t compression = Get32(bytes + 16), used = Get32(bytes + 32);
        if (width <= 0 || width > 1024 || height2 <= 0 || height2 % 2 || height2 > 2048)
            return false;
        if (planes != 1 || compression != 0)
            return false;
        if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
            return false;
        uint64_t colours = bits <= 8 ? (used && used < (1u << bits) ? used : 1u << bits) : 0;
        uint64_t height = (uint64_t)height2 / 2;
        uint64_t need = 40 + colours * 4 + RowBytes((uint64_t)width, bits) * height +
                        RowBytes((uint64_t)width, 1) * height;
        if (size < need)
            return false;  // the colour bits or the mask are cut off
        found.width = width;
        found.height = (int)height;
        found.bitCount = (int)bits;
    }
    if (info)
        *info = found;
    return true;
}

Bytes ExtractIcon(const Bytes &ico, const std::string &what, IconInfo *info)
{
    const uint8_t *p = ico.data();
    if (ico.size() < 6 || Get16(p) != 0 || Get16(p + 2) != 1 || Get16(p + 4) == 0)
        throw PackError(what + ": not an icon file (.ico)");
    size_t count = Get16(p + 4);
    if (ico.size() < 6 + 16 * count)
        throw PackError(what + ": icon directory is cut off");

    // The stub's loader makes an icon of the system's size, 32x32: take that
    // size, else the nearest (the larger on a tie, as shrinking looks better),
    // then the deepest colour, then a bitmap before a PNG, which older
    // systems can't load.
    long best = -1;
    IconInfo bestInfo;
    auto better = [](const IconInfo &a, const IconInfo &b) {
        long da = labs(a.width - 32) + labs(a.height - 32);
        long db = labs(b.width - 32) + labs(b.height - 32);
        if (da != db)
            return da < db;
        if (a.width + a.height != b.width + b.height)
            return a.width + a.height > b.width + b.height;
        if (a.bitCount != b.bitCount)
            return a.bitCount > b.bitCount;
        return !a.png && b.png;
    };
    uint64_t end = 6 + 16 * count;  // where the last image ends
    for (size_t i = 0; i < count; i++) {
        const uint8_t *entry = p + 6 + 16 * i;
        uint64_t length = Get32(entry + 8), offset = Get32(entry + 12);
        if (offset + length > ico.size() || length == 0)
            throw PackError(what + ": icon image " + std::to_string(i + 1) + " lies outside the file");
        IconInfo image;
        if (!ReadIconImage(p + offset, (size_t)length, &image))
            throw PackError(what + ": icon image " + std::to_string(i + 1) +
                            " is neither a PNG nor an icon bitmap");
        // The directory's size (0 for 256 or more) is what Explorer picks
        // an image by; it must be the image's own, from its header.
        int width = entry[0] ? entry[0] : 256, height = entry[1] ? entry[1] : 256;
        if (width != std::min(image.width, 256) || height != std::min(image.height, 256))
            throw PackError(what + ": icon image " + std::to_string(i + 1) + " is " + IconSize(image) +
                            ", but the icon's directory says " + std::to_string(width) + "x" +
                            std::to_string(height));
        end = std::max(end, offset + length);
        if (best < 0 || better(image, bestInfo)) {
            best = (long)i;
            bestInfo = image;
        }
    }
    if (end < ico.size())
        throw PackError(what + ": " + std::to_string(ico.size() - end) +
                        " bytes after the last icon image; not an icon file as written");
    const uint8_t *entry = p + 6 + 16 * best;
    size_t offset = Get32(entry + 12), length = Get32(entry + 8);
    if (info)
        *info = bestInfo;
    return Bytes(p + offset, p + offset + length);
}

}  // namespace pack
