// The packer's names and texts: UTF-8 by default (bit 11 on every entry, flag
// 0x20 on the configuration, read back by the stub's own loader), their
// lengths in UTF-16 units.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "archive/config.h"
#include "inflate/inflate.h"
#include "pack_test_util.h"
#include "host_testing.h"

using namespace packtest;
namespace fs = std::filesystem;

namespace {

struct Header {
    std::string name;
    uint16_t flags, localFlags, extra, localExtra;
};

// Every entry of an image as its central and its local header give it.
std::vector<Header> Headers(const Bytes &image)
{
    size_t end = EndRecord(image);
    uint32_t count = Get16(image, end + 10), at = Get32(image, end + 16);
    std::vector<Header> headers;
    for (uint32_t i = 0; i < count; i++) {
        uint16_t nameLength = Get16(image, at + 28), extra = Get16(image, at + 30);
        uint32_t local = Get32(image, at + 42);
        headers.push_back({std::string(image.begin() + at + 46, image.begin() + at + 46 + nameLength),
                           Get16(image, at + 8), Get16(image, local + 6), extra, Get16(image, local + 28)});
        at += 46 + nameLength + extra + Get16(image, at + 32);
    }
    return headers;
}

// The configuration as the stub's start-up loads it.
struct StubConfig {
    explicit StubConfig(const std::string &image)
    {
        static uint8_t window[WINDOW_SIZE], input[INPUT_SIZE];
        OutputWindow = window;
        InputBuffer = input;
        MakeCrcTable();
        FileHandle file = OpenReadShared(image.c_str());
        EXPECT_EQ(ReadConfig(file), CONFIG_OK);
        CloseFile(file);
    }
    ~StubConfig()
    {
        HeapFreeBlock(SfxConfig);
        SfxConfig = nullptr;
    }
};

std::string Repeat(const std::string &text, int count)
{
    std::string out;
    while (count-- > 0)
        out += text;
    return out;
}

const std::string kGo = "\xE8\xAA\x9E";  // U+8A9E, three bytes, one unit
const std::string kParty = "\xF0\x9F\x8E\x89";  // U+1F389, four bytes, two units

TEST(Utf8Names, EveryEntryHasBit11AndTheTextsTheFlag)
{
    TempDir dir;
    std::string stub = dir.Write("stub.exe", FakeStub(8192)), out = dir / "out.exe";
    std::string japanese = "\xE6\x97\xA5\xE6\x9C\xAC" + kGo + "/", resume = "R\xC3\xA9sum\xC3\xA9.txt";
    std::string longest = Repeat(kGo, 65) + "/" + Repeat(kGo, 65);  // 391 bytes, 131 units
    std::vector<std::string> names = {
        japanese, japanese + "\xE8\xAA\xAC\xE6\x98\x8E.txt", "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xAC.txt", resume,
        kParty + " party.txt",
        "\xEF\xBC\xA3\xEF\xBC\xAF\xEF\xBC\xAE.txt",  // fullwidth CON: no device
        "\xE2\x80\xAE" "txt.exe",                    // U+202E: a name like any other
        Repeat(kGo, 65) + "/", longest};
    std::sort(names.begin(), names.end());
    for (const std::string &name : names)
        if (name.back() != '/')
            dir.Write("in/" + name, name);
    std::string description = "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xAC " + kGo + " " + kParty;
    std::string about = dir.Write("about.txt", "\xC3\x9C" "ber\n");
    Result packed = Pack({"-o", out, "--stub", stub, "--flat", "--description", description, "--about", "@" + about,
                          dir / "in"});
    ASSERT_EQ(packed.code, 0) << packed.err;

    Bytes image = pack::ReadWholeFile(out);
    std::vector<std::string> found;
    for (const Header &h : Headers(image)) {
        found.push_back(h.name);
        EXPECT_EQ(h.flags + h.localFlags, 2 * ZIP_FLAG_UTF8) << h.name;
        // Beyond ASCII, the name's Unicode Path field (9 bytes and the
        // name), for unzip, which reads a Windows-made name in the OEM code
        // page whatever bit 11 says.
        bool ascii = std::all_of(h.name.begin(), h.name.end(), [](char c) { return (uint8_t)c < 0x80; });
        EXPECT_EQ(h.extra, ascii ? 0 : 9 + h.name.size()) << h.name;
        EXPECT_EQ(h.localExtra, h.extra) << h.name;
    }
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, names);

    StubConfig config(out);
    EXPECT_EQ(SfxConfig->Flags & SFX_UTF8_TEXTS, (uint32_t)SFX_UTF8_TEXTS);
    EXPECT_EQ(HostUtf8(ConfigText(CFG_DESCRIPTION)), description);
    EXPECT_EQ(HostUtf8(ConfigText(CFG_ABOUT_TEXT)), "\xC3\x9C" "ber");

    // --describe shows both as they are; a name with bit 11 that is no
    // UTF-8 with its bytes escaped.
    Result described = Pack({"--describe", out});
    for (const std::string &expected : {std::string("utf8-texts"), "\"" + description + "\"", longest, "\"" + kParty + " party.txt\""})
        EXPECT_NE(described.out.find(expected), std::string::npos) << expected << "\n" << described.out;
    auto at = std::search(image.begin(), image.end(), resume.begin(), resume.end(),
                          [](uint8_t a, char b) { return a == (uint8_t)b; });
    ASSERT_NE(at, image.end());
    at[2] = 0xFF;  // the first is the local header's
    described = Pack({"--describe", dir.Write("broken.exe", image)});
    EXPECT_NE(described.out.find("R\\xC3\\xFFsum\\xC3\\xA9.txt"), std::string::npos) << described.out;
}

// A UTF-8 name is as long as its UTF-16 units, and what the stub's own check
// refuses is refused.
TEST(Utf8Names, LengthsAreCountedInUtf16UnitsAndTheStubsCheckHolds)
{
    EXPECT_NO_THROW(pack::CheckName(Repeat(kParty, 125), "p")) << "250 units in 500 bytes";
    EXPECT_NO_THROW(pack::CheckName(Repeat(kGo, 250), "g")) << "250 units in 750 bytes";
    try {
        pack::CheckName(Repeat(kParty, 126), "p");
        ADD_FAILURE() << "252 units accepted";
    } catch (const pack::PackError &error) {
        EXPECT_EQ(std::string(error.what()), "p: archive name is 252 UTF-16 units long; the stub takes at most 250");
    }
    // A root: no rule of the walk's own catches it, the stub's does.
    EXPECT_THROW(pack::CheckName("/etc/passwd", "/etc/passwd"), pack::PackError);
}

// The path buffers hold 259 UTF-16 units: the fixed folder with its
// backslash and the names behind it; the run command.
TEST(Utf8Names, PathLimitsAreCountedInUtf16Units)
{
    TempDir dir;
    std::string stub = dir.Write("stub.exe", FakeStub(8192)), out = dir / "out.exe";
    std::string fixed = "fixed:C:\\" + Repeat(kGo, 85);  // 89 units with its backslash, 258 bytes
    dir.Write("app/" + Repeat(kGo, 83) + "/" + Repeat(kGo, 82), "89 + 170 units: fits");
    EXPECT_EQ(Pack({"-o", out, "--stub", stub, "--dest", fixed, dir / "app"}).code, 0);
    fs::remove(out);
    std::string over = "app/" + Repeat(kGo, 83) + "/" + Repeat(kGo, 83);
    dir.Write(over, "a unit more");
    Result refused = Pack({"-o", out, "--stub", stub, "--dest", fixed, dir / "app"});
    EXPECT_NE(refused.err.find(over + " would be extracted to a path of 260 UTF-16 units"), std::string::npos)
        << refused.err;
    fs::remove_all(dir / "app");
    dir.Write("app/a", "a");
    EXPECT_EQ(Pack({"-o", out, "--stub", stub, "--run", Repeat(kGo, 259), dir / "app"}).code, 0) << "777 bytes";
    fs::remove(out);
    refused = Pack({"-o", out, "--stub", stub, "--run", Repeat(kGo, 260), dir / "app"});
    EXPECT_NE(refused.err.find("--run: the command is 260 UTF-16 units"), std::string::npos) << refused.err;
}

}  // namespace
