// Making a program icon smaller without losing a pixel, so that more of it
// fits in front of the configuration: PNG images deflated again with
// libdeflate at its highest level, and bitmap images of 48 pixels and more
// stored as PNG, which Windows reads in icons from Vista on. The 16 and 32
// pixel images stay bitmaps, for the systems before it.
//
// PNG format notes. After the 8-byte signature come chunks: a big-endian
// length, a 4-byte type, the data and a CRC-32 of type and data. IHDR comes
// first (width, height, bit depth, colour type 6 = RGBA, compression 0,
// filter 0, interlace 0); the image data is one zlib stream split over any
// number of IDAT chunks, of rows each led by its filter byte (0 none, 1 sub,
// 2 up, 3 average, 4 Paeth); IEND ends the file.
#include <string.h>
#include <stdlib.h>

#include <algorithm>

#include <libdeflate.h>
#include <zlib.h>

#include "pe/pe.h"

namespace pack {

namespace {

void PutBe32(Bytes &out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back((uint8_t)(v >> shift));
}

Bytes ZlibLevel12(const Bytes &data)
{
    libdeflate_compressor *compressor = libdeflate_alloc_compressor(12);
    Bytes out(libdeflate_zlib_compress_bound(compressor, data.size()));
    out.resize(libdeflate_zlib_compress(compressor, data.data(), data.size(), out.data(), out.size()));
    libdeflate_free_compressor(compressor);
    return out;
}

void PutChunk(Bytes &png, const char *type, const uint8_t *data, size_t size)
{
    PutBe32(png, (uint32_t)size);
    size_t typeAt = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data, data + size);
    PutBe32(png, (uint32_t)crc32(0, &png[typeAt], (uInt)(size + 4)));
}

// The PNG with its IDAT chunks as one, deflated anew; the PNG itself when
// it does not read or the new stream is not smaller.
Bytes Redeflate(const Bytes &png)
{
    Bytes zlib, before, after;
    bool sawData = false;
    size_t at = 8;
    while (at + 12 <= png.size()) {
        uint32_t length = GetBE32(&png[at]);
        if (length > png.size() - at - 12)
            return png;
        const uint8_t *type = &png[at + 4];
        if (memcmp(type, "IDAT", 4) == 0) {
            zlib.insert(zlib.end(), type + 4, type + 4 + length);
            sawData = true;
        } else {
            (sawData ? after : before).insert((sawData ? after : before).end(), png.begin() + (ptrdiff_t)at,
                                              png.begin() + (ptrdiff_t)(at + 12 + length));
        }
        at += 12 + length;
    }
    Bytes rows(1 << 16);
    z_stream z = {};
    if (!sawData || inflateInit(&z) != Z_OK)
        return png;
    z.next_in = zlib.data();
    z.avail_in = (uInt)zlib.size();
    size_t got = 0;
    int result = Z_OK;
    while (result == Z_OK) {
        if (got == rows.size())
            rows.resize(rows.size() * 2);
        z.next_out = &rows[got];
        z.avail_out = (uInt)(rows.size() - got);
        result = inflate(&z, Z_NO_FLUSH);
        got = rows.size() - z.avail_out;
        if (result == Z_BUF_ERROR && z.avail_out == 0)
            result = Z_OK;
    }
    inflateEnd(&z);
    if (result != Z_STREAM_END)
        return png;
    rows.resize(got);
    Bytes stream = ZlibLevel12(rows);
    if (stream.size() >= zlib.size())
        return png;
    Bytes out(8 + before.size());
    memcpy(out.data(), png.data(), 8);
    memcpy(out.data() + 8, before.data(), before.size());  // IHDR and what else leads
    PutChunk(out, "IDAT", stream.data(), stream.size());
    out.insert(out.end(), after.begin(), after.end());
    return out;
}

int Paeth(int a, int b, int c)
{
    int p = a + b - c, pa = abs(p - a), pb = abs(p - b), pc = abs(p - c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// RGBA rows (top first) as a PNG: each row under the filter whose output
// has the smallest sum of magnitudes, or every row unfiltered, whichever
// deflates smaller.
Bytes EncodePng(const Bytes &rgba, uint32_t width, uint32_t height)
{
    size_t stride = (size_t)width * 4;
    Bytes adaptive, plain;
    for (uint32_t y = 0; y < height; y++) {
        const uint8_t *row = &rgba[y * stride], *up = y ? row - stride : nullptr;
        Bytes best;
        long bestSum = -1;
        for (int filter = 0; filter <= 4; filter++) {
            Bytes line(1, (uint8_t)filter);
            long sum = 0;
            for (size_t i = 0; i < stride; i++) {
                int a = i >= 4 ? row[i - 4] : 0, b = up ? up[i] : 0, c = up && i >= 4 ? up[i - 4] : 0;
                int predicted = filter == 0 ? 0 : filter == 1 ? a : filter == 2 ? b : filter == 3 ? (a + b) / 2
                                                                                                   : Paeth(a, b, c);
                uint8_t v = (uint8_t)(row[i] - predicted);
                line.push_back(v);
                sum += v < 128 ? v : 256 - v;
            }
            if (filter == 0)
                plain.insert(plain.end(), line.begin(), line.end());
            if (bestSum < 0 || sum < bestSum) {
                bestSum = sum;
                best.swap(line);
            }
        }
        adaptive.insert(adaptive.end(), best.begin(), best.end());
    }
    Bytes stream = ZlibLevel12(adaptive), other = ZlibLevel12(plain);
    if (other.size() < stream.size())
        stream.swap(other);
    Bytes png(kPngSignature, kPngSignature + 8);
    Bytes header;
    PutBe32(header, width);
    PutBe32(header, height);
    header.insert(header.end(), {8, 6, 0, 0, 0});
    PutChunk(png, "IHDR", header.data(), header.size());
    PutChunk(png, "IDAT", stream.data(), stream.size());
    PutChunk(png, "IEND", nullptr, 0);
    return png;
}

// An icon bitmap (BITMAPINFOHEADER, colour table, XOR rows, AND rows, each
// bottom up) as RGBA rows; false where PNG can't say the same: 16-bit
// colour, or a pixel the mask leaves that is not black, which Windows
// inverts the screen under.
bool BitmapPixels(const uint8_t *bmp, const IconInfo &info, Bytes *rgba)
{
    uint32_t bits = (uint32_t)info.bitCount, width = (uint32_t)info.width, height = (uint32_t)info.height;
    if (bits == 16)
        return false;
    uint32_t used = Get32(bmp + 32);
    uint32_t colours = bits <= 8 ? (used && used < (1u << bits) ? used : 1u << bits) : 0;
    const uint8_t *table = bmp + 40, *xorBits = table + colours * 4;
    size_t xorStride = ((size_t)width * bits + 31) / 32 * 4, andStride = ((size_t)width + 31) / 32 * 4;
    const uint8_t *andBits = xorBits + xorStride * height;
    bool alpha = false;
    if (bits == 32)
        for (size_t i = 3; i < xorStride * height && !alpha; i += 4)
            alpha = xorBits[i] != 0;
    rgba->assign((size_t)width * height * 4, 0);
    for (uint32_t y = 0; y < height; y++) {
        const uint8_t *row = xorBits + xorStride * (height - 1 - y), *mask = andBits + andStride * (height - 1 - y);
        for (uint32_t x = 0; x < width; x++) {
            uint8_t b, g, r, a = 255;
            if (bits <= 8) {
                uint32_t index = (row[x * bits / 8] >> (8 - bits - x * bits % 8)) & ((1u << bits) - 1);
                if (index >= colours)
                    return false;
                b = table[index * 4], g = table[index * 4 + 1], r = table[index * 4 + 2];
            } else {
                const uint8_t *p = row + x * (bits / 8);
                b = p[0], g = p[1], r = p[2];
                if (alpha)
                    a = p[3];
            }
            bool masked = (mask[x / 8] >> (7 - x % 8)) & 1;
            if (!alpha && masked) {
                if (r || g || b)
                    return false;
                a = 0;
            }
            uint8_t *out = &(*rgba)[((size_t)y * width + x) * 4];
            out[0] = r, out[1] = g, out[2] = b, out[3] = a;
        }
    }
    return true;
}

}  // namespace

Bytes SmallerIconImage(const Bytes &image)
{
    IconInfo info;
    if (!ReadIconImage(image.data(), image.size(), &info))
        return image;
    Bytes smaller;
    if (info.png) {
        smaller = Redeflate(image);
    } else if (info.width >= 48) {
        Bytes rgba;
        if (BitmapPixels(image.data(), info, &rgba))
            smaller = EncodePng(rgba, (uint32_t)info.width, (uint32_t)info.height);
    }
    return !smaller.empty() && smaller.size() < image.size() ? smaller : image;
}

Bytes RebuildIcon(const Bytes &ico, int most, bool smaller)
{
    const uint8_t *p = ico.data();
    size_t count = Get16(p + 4);
    std::vector<size_t> kept;
    std::vector<Bytes> images;
    for (size_t i = 0; i < count; i++) {
        const uint8_t *entry = p + 6 + 16 * i;
        int width = entry[0] ? entry[0] : 256, height = entry[1] ? entry[1] : 256;
        if (most && (width > most || height > most))
            continue;
        Bytes image(p + Get32(entry + 12), p + Get32(entry + 12) + Get32(entry + 8));
        kept.push_back(i);
        images.push_back(smaller ? SmallerIconImage(image) : image);
    }
    Bytes out = {0, 0, 1, 0, (uint8_t)kept.size(), (uint8_t)(kept.size() >> 8)};
    uint32_t offset = (uint32_t)(6 + 16 * kept.size());
    for (size_t k = 0; k < kept.size(); k++) {
        const uint8_t *entry = p + 6 + 16 * kept[k];
        out.insert(out.end(), entry, entry + 8);
        for (uint32_t v : {(uint32_t)images[k].size(), offset})
            for (int shift = 0; shift < 32; shift += 8)
                out.push_back((uint8_t)(v >> shift));
        offset += (uint32_t)images[k].size();
    }
    for (const Bytes &image : images)
        out.insert(out.end(), image.begin(), image.end());
    return out;
}

}  // namespace pack
