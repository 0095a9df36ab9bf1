// What the packer checks and leaves out for a publisher: the --run program
// against the archive, --exclude, icons made to fit, and the small rules of
// the command line (times, versions, @FILE, refusals, the archive comment).
#include <gtest/gtest.h>

#include <sstream>

#include <zlib.h>

#include "pack_test_util.h"

using namespace packtest;

namespace {

std::vector<pack::InputItem> Items(std::vector<std::string> names)
{
    std::vector<pack::InputItem> items;
    for (const std::string &name : names) {
        pack::InputItem item;
        item.utf8 = name;
        item.folder = name.back() == '/';
        items.push_back(item);
    }
    return items;
}

std::string RunWarning(const std::string &command, const std::vector<pack::InputItem> &items)
{
    std::ostringstream err;
    pack::CheckRunProgram(command, items, err);
    return err.str();
}

// ---- --run -----------------------------------------------------------------------

TEST(RunCheck, AnEntryOfTheArchiveIsTakenWhateverItsCaseQuotesOrMissingExe)
{
    auto items = Items({"app/", "app/Setup.exe", "app/My Tool.exe"});
    EXPECT_EQ(RunWarning("app\\setup.exe /S", items), "");
    EXPECT_EQ(RunWarning("\"app\\My Tool.exe\" --quiet", items), "");
    EXPECT_EQ(RunWarning("app/SETUP", items), "");
    EXPECT_EQ(RunWarning("%SystemRoot%\\system32\\cmd.exe /c x", items), "") << "a system program by its path";
    EXPECT_EQ(RunWarning("C:\\Tools\\x.exe", items), "");
}

TEST(RunCheck, AProgramPackedBelowItsFolderIsAWarningNamingTheEntry)
{
    auto items = Items({"app/", "app/setup.exe"});
    std::string warning = RunWarning("setup.exe /S", items);
    EXPECT_NE(warning.find("warning: --run: setup.exe is no entry of the archive; the archive holds app/setup.exe: "
                           "give --run app\\setup.exe"),
              std::string::npos)
        << warning;
    warning = RunWarning("notepad.exe", items);
    EXPECT_NE(warning.find("notepad.exe is no entry of the archive; it runs only if Windows finds it elsewhere"),
              std::string::npos)
        << warning;
}

TEST(RunCheck, AFolderPathThatNamesNoEntryIsRefused)
{
    try {
        RunWarning("app\\setup.exe", Items({"setup.exe"}));  // packed with --flat
        ADD_FAILURE() << "not refused";
    } catch (const pack::PackError &error) {
        EXPECT_STREQ(error.what(), "--run: app/setup.exe is no entry of the archive; the archive holds setup.exe: "
                                   "give --run setup.exe");
    }
    EXPECT_THROW(RunWarning("bin/tool.exe", Items({"app/", "app/setup.exe"})), pack::PackError);
}

// ---- --exclude -------------------------------------------------------------------

TEST(Exclude, PatternsMatchNamesAtAnyDepthPathsFromTheTopAndFoldersByTheirSlash)
{
    using pack::Excluded;
    EXPECT_TRUE(Excluded({"*.pdb"}, "app/bin/x.pdb", false));
    EXPECT_FALSE(Excluded({"*.pdb"}, "app/x.pdbx", false));
    EXPECT_TRUE(Excluded({".git/"}, "app/.git", true));
    EXPECT_FALSE(Excluded({".git/"}, "app/.git", false)) << "a file named .git is no folder";
    EXPECT_TRUE(Excluded({"app/*.txt"}, "app/a.txt", false));
    EXPECT_FALSE(Excluded({"app/*.txt"}, "app/sub/a.txt", false)) << "* stays within a name";
    EXPECT_FALSE(Excluded({"app/*.txt"}, "other/app/a.txt", false)) << "a path matches from the top";
    EXPECT_TRUE(Excluded({"app/**/*.txt"}, "app/a.txt", false)) << "**/ as no folder at all";
    EXPECT_TRUE(Excluded({"app/**/*.txt"}, "app/a/b/c.txt", false));
    EXPECT_TRUE(Excluded({"app/**"}, "app/a/b", false));
    EXPECT_TRUE(Excluded({"a?c"}, "x/abc", false));
    EXPECT_FALSE(Excluded({"app?x"}, "app/x", false)) << "? is no folder separator";
    EXPECT_TRUE(Excluded({"docs\\*.md"}, "docs/a.md", false)) << "a backslash as a Windows path writes it";
    EXPECT_TRUE(Excluded({"/build/"}, "build", true));
    EXPECT_FALSE(Excluded({"/build/"}, "app/build", true));
}

TEST(Exclude, WhatIsLeftOutIsNeitherWalkedNorChecked)
{
    TempDir dir;
    dir.Write("app/setup.exe", "program");
    dir.Write("app/docs/README", "one");
    dir.Write("app/docs/readme", "the same name to Windows");
    std::filesystem::create_symlink("/etc/hostname", dir / "app/outside");
    dir.Write("app/x.pdb", "symbols");
    pack::TextEncoder encoder;
    EXPECT_THROW(pack::CollectInputs({dir / "app"}, false, encoder), pack::PackError);
    std::vector<std::string> leftOut;
    auto items = pack::CollectInputs({dir / "app"}, false, encoder, "", false, {"docs/", "outside", "*.pdb"},
                                     &leftOut);
    std::vector<std::string> names;
    for (const auto &item : items)
        names.push_back(item.utf8);
    EXPECT_EQ(names, (std::vector<std::string>{"app/", "app/setup.exe"}));
    EXPECT_EQ(leftOut, (std::vector<std::string>{"app/docs/", "app/outside", "app/x.pdb"}));
}

TEST(Exclude, VerboseListsWhatWasLeftOut)
{
    PackFolder dir;
    dir.Write("app/cache/x.bin", "x");
    Result result = Pack({"-o", dir / "a.exe", "--stub", dir.stub, "-v", "--exclude", "cache/", dir / "app"});
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_NE(result.out.find("  left out app/cache/\n"), std::string::npos) << result.out;
}

// ---- Small things ----------------------------------------------------------------

TEST(SmallThings, ATimeBefore1980IsTheFirstDosTimeWithOneNote)
{
    bool early = false;
    EXPECT_EQ(pack::ParseTime("1", "SOURCE_DATE_EPOCH", &early), (time_t)315532800);
    EXPECT_TRUE(early);
    EXPECT_EQ(pack::ParseTime("1970-06-01", "--mtime", &early), (time_t)315532800);
    EXPECT_TRUE(early);
    EXPECT_EQ(pack::ParseTime("315532800", "--mtime", &early), (time_t)315532800);
    EXPECT_FALSE(early);
    EXPECT_THROW(pack::ParseTime("2108-01-01", "--mtime"), pack::PackError);

    PackFolder dir;
    Result result = Pack({"-o", dir / "a.exe", "--stub", dir.stub, "--mtime", "1", dir / "app"});
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.err, "brevant-pack: note: --mtime 1 is before 1980; every entry gets 1980-01-01 00:00, the "
                          "earliest time a ZIP entry holds\n");
}

TEST(SmallThings, VersionsOfOneToFourPartsHaveTheMissingPartsZero)
{
    uint16_t parts[4];
    pack::ParseVersion("1.2.3", "--file-version", parts);
    EXPECT_EQ(std::vector<uint16_t>(parts, parts + 4), (std::vector<uint16_t>{1, 2, 3, 0}));
    pack::ParseVersion("7", "--file-version", parts);
    EXPECT_EQ(std::vector<uint16_t>(parts, parts + 4), (std::vector<uint16_t>{7, 0, 0, 0}));
    pack::ParseVersion("1.2.3.4", "--file-version", parts);
    EXPECT_EQ(parts[3], 4);
}

TEST(SmallThings, AResponseFileTakesAnOptionWithItsValueCommentsAndBlankLines)
{
    PackFolder dir;
    std::string file = dir.Write("options.txt", "# build options\n\n--level 0\n  \n--run  setup.exe /S \n-o " +
                                                    (dir / "a.exe") + "\n");
    Result result = Pack({"@" + file, "--stub", dir.stub, "--flat", dir / "app"});
    EXPECT_EQ(result.code, 0) << result.err;
    Result described = Pack({"--describe", dir / "a.exe"});
    EXPECT_NE(described.out.find("run:           \"setup.exe /S\""), std::string::npos) << described.out;
    EXPECT_EQ(described.out.find("deflated"), std::string::npos) << "--level 0 stores\n" << described.out;
}

TEST(SmallThings, ARefusalNamesTheCharacterAndEndsWithTheCount)
{
    PackFolder dir;
    dir.Write("in/a:b.txt", "colon");
    Result result = Pack({"-o", dir / "a.exe", "--stub", dir.stub, "--flat", dir / "in"});
    EXPECT_EQ(result.code, 1);
    EXPECT_NE(result.err.find("a:b.txt: the name holds U+003A ':', which Windows does not allow"), std::string::npos)
        << result.err;
    EXPECT_EQ(result.err.substr(result.err.rfind("brevant-pack:")), "brevant-pack: 1 refusal; nothing was written\n");
    result = Pack({"-o", dir / "a.exe", "--stub", dir.stub + ".missing", dir / "app"});
    EXPECT_EQ(result.code, 1);
    EXPECT_EQ(result.err.substr(result.err.rfind("brevant-pack:")), "brevant-pack: 1 refusal; nothing was written\n");
}

TEST(SmallThings, DescribeTakesJsonBeforeTheImageAndSaysWhatIsNoImageOfOurs)
{
    PackFolder dir;
    ASSERT_EQ(Pack({"-o", dir / "a.exe", "--stub", dir.stub, dir / "app"}).code, 0);
    Result described = Pack({"--describe", "--json", dir / "a.exe"});
    EXPECT_EQ(described.code, 0) << described.err;
    EXPECT_NE(described.out.find("\"brevant_image\": true"), std::string::npos) << described.out;
    EXPECT_NE(described.out.find("\"icon\": null"), std::string::npos) << described.out;
    described = Pack({"--describe", dir / "a.exe"});
    EXPECT_NE(described.out.find("  icon:          none\n"), std::string::npos) << described.out;

    // No stub and no configuration before the entries: a ZIP of another tool.
    Bytes bytes = pack::ReadWholeFile(dir / "a.exe");
    const char local[] = "PK\3\4";
    std::fill(bytes.begin(), std::search(bytes.begin(), bytes.end(), local, local + 4), 0);
    std::string zip = dir.Write("plain.zip", bytes);
    described = Pack({"--describe", zip});
    EXPECT_EQ(described.code, 1);
    EXPECT_NE(described.out.find("not a brevant image"), std::string::npos) << described.out;
}

TEST(SmallThings, TheArchiveCommentNamesThePackerAndTheStub)
{
    PackFolder dir;
    ASSERT_EQ(Pack({"-o", dir / "a.exe", "--stub", dir.stub, dir / "app"}).code, 0);
    Bytes stub = pack::ReadWholeFile(dir.stub);
    char expected[96];
    snprintf(expected, sizeof expected, "brevant-pack %s; stub %zu bytes, CRC-32 %08X", BREVANT_VERSION_TEXT,
             stub.size(), (unsigned)crc32(0, stub.data(), (uInt)stub.size()));
    std::string comment;
    ASSERT_TRUE(pack::ReadArchiveComment(dir / "a.exe", &comment));
    EXPECT_EQ(comment, expected);
    Result described = Pack({"--describe", dir / "a.exe"});
    EXPECT_EQ(described.code, 0) << described.out;
    EXPECT_NE(described.out.find("archive comment: \"" + std::string(expected) + "\""), std::string::npos)
        << described.out;
}

// ---- Icons -----------------------------------------------------------------------

// The RGBA rows of a PNG as the icon code writes it (8-bit RGBA, not
// interlaced), its filters undone.
Bytes PngPixels(const Bytes &png, uint32_t *width)
{
    Bytes zlib;
    uint32_t height = 0;
    for (size_t at = 8; at + 12 <= png.size();) {
        uint32_t length = (uint32_t)png[at] << 24 | png[at + 1] << 16 | png[at + 2] << 8 | png[at + 3];
        std::string type(png.begin() + (long)at + 4, png.begin() + (long)at + 8);
        if (type == "IHDR") {
            *width = (uint32_t)png[at + 10] << 8 | png[at + 11];
            height = (uint32_t)png[at + 14] << 8 | png[at + 15];
            EXPECT_EQ(png[at + 16], 8);
            EXPECT_EQ(png[at + 17], 6);
        }
        if (type == "IDAT")
            zlib.insert(zlib.end(), png.begin() + (long)at + 8, png.begin() + (long)at + 8 + length);
        at += 12 + length;
    }
    size_t stride = *width * 4;
    Bytes raw((stride + 1) * height);
    uLongf size = raw.size();
    EXPECT_EQ(uncompress(raw.data(), &size, zlib.data(), zlib.size()), Z_OK);
    Bytes out(stride * height);
    for (size_t y = 0; y < height; y++) {
        uint8_t filter = raw[y * (stride + 1)];
        for (size_t i = 0; i < stride; i++) {
            int a = i >= 4 ? out[y * stride + i - 4] : 0, b = y ? out[(y - 1) * stride + i] : 0;
            int c = y && i >= 4 ? out[(y - 1) * stride + i - 4] : 0, p = a + b - c;
            int paeth = abs(p - a) <= abs(p - b) && abs(p - a) <= abs(p - c) ? a : abs(p - b) <= abs(p - c) ? b : c;
            int predicted = filter == 0 ? 0 : filter == 1 ? a : filter == 2 ? b : filter == 3 ? (a + b) / 2 : paeth;
            out[y * stride + i] = (uint8_t)(raw[y * (stride + 1) + 1 + i] + predicted);
        }
    }
    return out;
}

// A 48x48 bitmap in 8 bits a pixel: a palette, a gradient, and a masked
// corner of black pixels.
Bytes PaletteIcon()
{
    Bytes image = IconBitmap(48, 8);
    for (int i = 0; i < 256; i++)
        image[40 + 4 * i] = (uint8_t)i, image[41 + 4 * i] = (uint8_t)(255 - i), image[42 + 4 * i] = 0x80;
    size_t pixels = 40 + 1024, mask = pixels + 48 * 48;
    for (size_t y = 0; y < 48; y++)
        for (size_t x = 0; x < 48; x++)
            image[pixels + y * 48 + x] = (uint8_t)(x * 5 + y);
    image[40] = image[41] = image[42] = 0;  // colour 0 is black
    for (size_t y = 0; y < 8; y++) {
        image[mask + y * 8] = 0xFF;  // the first 8 pixels of the bottom 8 rows: black under the mask
        for (size_t x = 0; x < 8; x++)
            image[pixels + y * 48 + x] = 0;
    }
    return image;
}

TEST(IconsThatFit, ALargeBitmapBecomesAPngOfTheSamePixels)
{
    Bytes bitmap = PaletteIcon();
    Bytes png = pack::SmallerIconImage(bitmap);
    ASSERT_LT(png.size(), bitmap.size());
    pack::IconInfo info;
    ASSERT_TRUE(pack::ReadIconImage(png.data(), png.size(), &info));
    EXPECT_TRUE(info.png);
    uint32_t width = 0;
    Bytes rgba = PngPixels(png, &width);
    ASSERT_EQ(width, 48u);
    for (size_t y = 0; y < 48; y++)
        for (size_t x = 0; x < 48; x++) {
            const uint8_t *p = &rgba[(y * 48 + x) * 4];
            size_t row = 47 - y;  // bitmaps are bottom up
            uint8_t index = bitmap[40 + 1024 + row * 48 + x];
            bool masked = row < 8 && x < 8;
            EXPECT_EQ(p[3], masked ? 0 : 255) << x << "," << y;
            EXPECT_EQ(p[0], bitmap[42 + 4 * index]) << x << "," << y;
            EXPECT_EQ(p[1], bitmap[41 + 4 * index]) << x << "," << y;
            EXPECT_EQ(p[2], bitmap[40 + 4 * index]) << x << "," << y;
        }
}

TEST(IconsThatFit, WhatAPngCannotSayStaysABitmap)
{
    Bytes inverting = PaletteIcon();
    inverting[40 + 1024 + 48 * 48 + 10 * 8] = 0x80;  // the mask over a pixel that is not black: inverted
    EXPECT_EQ(pack::SmallerIconImage(inverting), inverting);
    Bytes small = IconBitmap(32, 32);
    EXPECT_EQ(pack::SmallerIconImage(small), small) << "16 and 32 pixels stay bitmaps for older Windows";
}

TEST(IconsThatFit, APngIsDeflatedAgainToTheSameRows)
{
    Bytes png = pack::SmallerIconImage(PaletteIcon());
    uint32_t width = 0;
    Bytes rgba = PngPixels(png, &width);
    // The same rows in a stream of zlib's fastest level, which libdeflate
    // beats.
    Bytes rows;
    for (size_t y = 0; y < 48; y++) {
        rows.push_back(0);
        rows.insert(rows.end(), rgba.begin() + (long)(y * 192), rgba.begin() + (long)(y * 192 + 192));
    }
    Bytes fast(compressBound(rows.size()));
    uLongf size = fast.size();
    ASSERT_EQ(compress2(fast.data(), &size, rows.data(), rows.size(), 1), Z_OK);
    fast.resize(size);
    Bytes loose(png.begin(), png.begin() + 33);  // signature and IHDR
    for (int shift = 24; shift >= 0; shift -= 8)
        loose.push_back((uint8_t)(fast.size() >> shift));
    size_t type = loose.size();
    loose.insert(loose.end(), {'I', 'D', 'A', 'T'});
    loose.insert(loose.end(), fast.begin(), fast.end());
    uint32_t crc = (uint32_t)crc32(0, &loose[type], (uInt)(loose.size() - type));
    for (int shift = 24; shift >= 0; shift -= 8)
        loose.push_back((uint8_t)(crc >> shift));
    loose.insert(loose.end(), {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82});
    Bytes again = pack::SmallerIconImage(loose);
    EXPECT_LT(again.size(), loose.size());
    uint32_t againWidth = 0;
    EXPECT_EQ(PngPixels(again, &againWidth), rgba);
}

TEST(IconsThatFit, AnIconTooLargeAsItIsFitsMadeSmaller)
{
    TempDir dir;
    std::string stub = std::string(BREVANT_BIN_DIR) + "/brevant-stub.exe";
    ASSERT_TRUE(std::filesystem::exists(stub)) << stub;
    Bytes big = IconBitmap(128, 32);  // 64 KiB of one colour: no room as a bitmap, little as a PNG
    std::string ico = dir.Write("big.ico", IcoFile({IconBitmap(16, 8), big}, {16, 128}));
    std::string input = dir.Write("a.txt", "a");
    Result result = Pack({"-o", dir / "a.exe", "--stub", stub, "--exe-icon", ico, input});
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_NE(result.err.find("the program's icon made smaller to fit"), std::string::npos) << result.err;
    Result described = Pack({"--describe", dir / "a.exe"});
    EXPECT_NE(described.out.find("program icon:  16x16, 128x128"), std::string::npos) << described.out;
    result = Pack({"-o", dir / "b.exe", "--stub", stub, "--exe-icon", ico, "--exe-icon-max", "16", input});
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.err, "");
    described = Pack({"--describe", dir / "b.exe"});
    EXPECT_NE(described.out.find("program icon:  16x16\n"), std::string::npos) << described.out;
}

}  // namespace
