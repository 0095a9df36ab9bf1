// brevant-pack: the dialog's icon picked from an icon file, and what is no
// icon.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>

#include <sstream>

#include "archive/config.h"
#include "inflate/inflate.h"
#include "messages/messages.h"
#include "pack_test_util.h"

using namespace packtest;
using pack::Coder;
using pack::Encoding;

namespace {

// ---- Icons ------------------------------------------------------------------------------

// The start of a PNG file: signature and header chunk.
Bytes PngImage(int size)
{
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    for (int v : {size, size})
        for (int shift = 24; shift >= 0; shift -= 8)
            png.push_back((uint8_t)(v >> shift));
    png.insert(png.end(), {8, 6, 0, 0, 0, 0, 0, 0, 0});
    return png;
}


TEST(Icons, The32x32ImageIsPickedFromSeveralSizes)
{
    Bytes ico = IcoFile({IconBitmap(16, 8), IconBitmap(32, 4), IconBitmap(48, 32), IconBitmap(32, 32)},
                        {16, 32, 48, 32});
    pack::IconInfo info;
    Bytes image = pack::ExtractIcon(ico, "test.ico", &info);
    EXPECT_EQ(image, IconBitmap(32, 32));
    EXPECT_EQ(info.width, 32);
    EXPECT_EQ(info.bitCount, 32);
}

TEST(Icons, WithoutA32x32ImageTheNearestLargerOneIsPicked)
{
    Bytes ico = IcoFile({IconBitmap(16, 8), IconBitmap(48, 8), IconBitmap(64, 32)}, {16, 48, 64});
    EXPECT_EQ(pack::ExtractIcon(ico, "test.ico"), IconBitmap(48, 8));
}

TEST(Icons, ABitmapIsPreferredToAPngOfTheSameSize)
{
    Bytes ico = IcoFile({PngImage(32), IconBitmap(32, 32)}, {32, 32});
    EXPECT_EQ(pack::ExtractIcon(ico, "test.ico"), IconBitmap(32, 32));
    Bytes pngOnly = IcoFile({PngImage(32)}, {32});
    pack::IconInfo info;
    EXPECT_EQ(pack::ExtractIcon(pngOnly, "test.ico", &info), PngImage(32));
    EXPECT_TRUE(info.png);
}

TEST(Icons, WhatIsNotAnIconIsRefused)
{
    EXPECT_THROW(pack::ExtractIcon(Bytes{'G', 'I', 'F', '8', '9', 'a', 0, 0}, "x"), pack::PackError);
    EXPECT_THROW(pack::ExtractIcon(Bytes(), "x"), pack::PackError);
    Bytes cut = IcoFile({IconBitmap(32, 32)}, {32});
    cut.resize(cut.size() - 10);
    EXPECT_THROW(pack::ExtractIcon(cut, "x"), pack::PackError);
    Bytes shortImage = IconBitmap(32, 32);
    shortImage.resize(shortImage.size() - 1);  // the mask's last byte is missing
    EXPECT_THROW(pack::ExtractIcon(IcoFile({shortImage}, {32}), "x"), pack::PackError);
}

}  // namespace
