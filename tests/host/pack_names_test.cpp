// The packer's names and texts as the stub reads them: UTF-8 by default
// (bit 11 on every entry, flag 0x20 on the configuration), converted into a
// code page with --codepage as before; read back, and extracted, by the
// stub's own routines.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "archive/config.h"
#include "archive/names.h"
#include "extract/extract.h"
#include "inflate/inflate.h"
#include "messages/messages.h"
#include "pack_test_util.h"
#include "platform/host/host_testing.h"

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
    size_t end = image.size() - 22;
    uint32_t count = Get16(image, end + 10), at = Get32(image, end + 16);
    std::vector<Header> headers;
    for (uint32_t i = 0; i < count; i++) {
        uint16_t nameLength = Get16(image, at + 28), extra = Get16(image, at + 30), comment = Get16(image, at + 32);
        uint32_t local = Get32(image, at + 42);
        headers.push_back({std::string(image.begin() + at + 46, image.begin() + at + 46 + nameLength),
                           Get16(image, at + 8), Get16(image, local + 6), extra, Get16(image, local + 28)});
        at += 46 + nameLength + extra + comment;
    }
    return headers;
}

// The stub's start-up and extraction on the host, below a scratch drive
// root: an image is loaded with LoadConfig and extracted into C:\dest.
class StubRun : public TempDir {
public:
    StubRun()
    {
        fs::create_directories(*this / "C/dest");
        fs::create_directories(*this / "C/temp");
        HostDriveRoot = path();
        HostTempFolder = "C:\\temp\\";
        HostDoubleByte = false;  // Latin-1 stands in for the system's code page
        HostThrowOnExit();
        HostResetBoxes();
        OutputWindow = window_;
        InputBuffer = input_;
        MakeCrcTable();
        InternalErrorText = LoadResString(IDS_INTERNAL_ERROR);
        MainWindow = nullptr;
        MessageCaption = u"";
    }
    ~StubRun()
    {
        if (SfxConfig)
            HeapFreeBlock(SfxConfig);
        SfxConfig = nullptr;
        if (ImageFile != INVALID_FILE)
            CloseFile(ImageFile);
        ImageFile = INVALID_FILE;
        HostDriveRoot.clear();
    }
    void Load(const std::string &image)
    {
        ImageFile = OpenReadShared(image.c_str());
        LoadConfig();
    }
    // Every path below C:\dest, '/'-separated, folders with a '/'.
    std::vector<std::string> Extract()
    {
        std::u16string destination = u"C:\\dest";
        char16_t path[PATH_CHARS] = {};
        std::copy(destination.begin(), destination.end(), path);
        ExtractAll(path, 0);
        std::vector<std::string> names;
        fs::path root = *this / "C/dest";
        for (auto &item : fs::recursive_directory_iterator(root))
            names.push_back(fs::relative(item.path(), root).string() + (item.is_directory() ? "/" : ""));
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    static inline uint8_t window_[WINDOW_SIZE];
    static inline uint8_t input_[INPUT_SIZE];
};

const char kDescription[] = "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC "  // Greek
                            "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E "                              // Japanese
                            "\xF0\x9F\x8E\x89";                                                  // an emoji

TEST(Utf8Names, EveryEntryHasBit11AndTheStubExtractsItsExactName)
{
    TempDir dir;
    std::string stub = dir.Write("stub.exe", FakeStub(8192)), out = dir / "out.exe";
    std::string cjk;
    for (int i = 0; i < 65; i++)
        cjk += "\xE8\xAA\x9E";
    std::string longest = cjk + "/" + cjk;  // 391 bytes, 131 UTF-16 units
    std::vector<std::string> names = {
        "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x83\x95\xE3\x82\xA9\xE3\x83\xAB\xE3\x83\x80/",  // a folder
        "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x83\x95\xE3\x82\xA9\xE3\x83\xAB\xE3\x83\x80/"
        "\xE8\xAA\xAC\xE6\x98\x8E\xE6\x9B\xB8.txt",
        "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC.txt",
        "R\xC3\xA9sum\xC3\xA9.txt",
        "\xF0\x9F\x8E\x89 party.txt",
        "\xEF\xBC\xA3\xEF\xBC\xAF\xEF\xBC\xAE.txt",  // fullwidth CON: no device
        "\xE2\x80\xAE" "txt.exe",                    // U+202E: a name like any other
        "plain.txt",
        cjk + "/",
        longest};
    for (const std::string &name : names)
        if (name.back() != '/')
            dir.Write("in/" + name, name);
    std::string about = dir.Write("about.txt", "\xC3\x9C" "ber\n");
    Result packed = Pack({"-o", out, "--stub", stub, "--flat", "--description", kDescription, "--about", "@" + about,
                          dir / "in"});
    ASSERT_EQ(packed.code, 0) << packed.err;

    Bytes image = pack::ReadWholeFile(out);
    std::vector<std::string> found;
    for (const Header &h : Headers(image)) {
        found.push_back(h.name);
        EXPECT_EQ(h.flags, ZIP_FLAG_UTF8) << h.name;
        EXPECT_EQ(h.localFlags, ZIP_FLAG_UTF8) << h.name;
        EXPECT_EQ(h.extra + h.localExtra, 0) << h.name << ": no Unicode Path field beside bit 11";
    }
    std::sort(names.begin(), names.end());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, names);

    StubRun run;
    run.Load(out);
    EXPECT_EQ(SfxConfig->Flags & SFX_UTF8_TEXTS, (uint32_t)SFX_UTF8_TEXTS);
    EXPECT_EQ(HostUtf8(ConfigText(CFG_DESCRIPTION)), kDescription);
    EXPECT_EQ(HostUtf8(ConfigText(CFG_ABOUT_TEXT)), "\xC3\x9C" "ber");
    EXPECT_EQ(run.Extract(), names);
    EXPECT_TRUE(HostBoxes.empty()) << HostBoxes[0].text;
    EXPECT_FALSE(ExtractionIncomplete);
    for (const std::string &name : names) {
        if (name.back() == '/')
            continue;
        Bytes content = pack::ReadWholeFile(run / "C/dest/" + name);
        EXPECT_EQ(std::string(content.begin(), content.end()), name);
    }

    // --describe shows both as they are, and a name with bit 11 that is no
    // UTF-8 with its bytes escaped.
    Result described = Pack({"--describe", out});
    EXPECT_EQ(described.code, 0) << described.out;
    for (const std::string &expected : {std::string("utf8-texts"), "\"" + std::string(kDescription) + "\"",
                                        std::string("\"\xC3\x9C" "ber\""), std::string("\xF0\x9F\x8E\x89 party.txt"), longest})
        EXPECT_NE(described.out.find(expected), std::string::npos) << expected << "\n" << described.out;
    Bytes resume = {'R', 0xC3, 0xA9, 's', 'u', 'm'};
    size_t at = std::search(image.begin(), image.end(), resume.begin(), resume.end()) - image.begin();
    ASSERT_LT(at, image.size());
    image[at + 2] = 0xFF;  // the first is the local header's
    std::string broken = dir.Write("broken.exe", image);
    described = Pack({"--describe", broken});
    EXPECT_NE(described.out.find("R\\xC3\\xFFsum\\xC3\\xA9.txt"), std::string::npos) << described.out;
}

// --codepage: the names converted (with their UTF-8 in a Unicode Path
// field), no bit 11, and texts without the flag, read in the system's code
// page by the stub.
TEST(Utf8Names, WithACodePageNamesAndTextsAreConvertedAndUnflagged)
{
    TempDir dir;
    std::string stub = dir.Write("stub.exe", FakeStub(8192)), out = dir / "out.exe";
    dir.Write("in/R\xC3\xA9sum\xC3\xA9.txt", "r");
    dir.Write("in/plain.txt", "p");
    Result packed = Pack({"-o", out, "--stub", stub, "--codepage", "1252", "--flat", "--description",
                          "Caf\xC3\xA9", dir / "in"});
    ASSERT_EQ(packed.code, 0) << packed.err;
    for (const Header &h : Headers(pack::ReadWholeFile(out))) {
        EXPECT_EQ(h.flags | h.localFlags, 0) << h.name;
        EXPECT_EQ(h.extra, h.name == "plain.txt" ? 0 : 9 + 12) << h.name;
    }
    StubRun run;
    run.Load(out);
    EXPECT_EQ(SfxConfig->Flags & SFX_UTF8_TEXTS, 0u);
    EXPECT_EQ(HostUtf8(ConfigText(CFG_DESCRIPTION)), "Caf\xC3\xA9");
    EXPECT_EQ(run.Extract(), (std::vector<std::string>{"R\xC3\xA9sum\xC3\xA9.txt", "plain.txt"}));
}

// A UTF-8 name is as long as its UTF-16 units (two for a character beyond
// U+FFFF), and whatever the stub's own check refuses is refused.
TEST(Utf8Names, LengthsAreCountedInUtf16UnitsAndTheStubsCheckHolds)
{
    std::string emoji, cjk;
    for (int i = 0; i < 125; i++)
        emoji += "\xF0\x9F\x8E\x89";
    for (int i = 0; i < 250; i++)
        cjk += "\xE8\xAA\x9E";
    EXPECT_NO_THROW(pack::CheckName(emoji, emoji)) << "250 units in 500 bytes";
    EXPECT_NO_THROW(pack::CheckName(cjk, cjk)) << "250 units in 750 bytes";
    try {
        pack::CheckName(emoji + "\xF0\x9F\x8E\x89", "e");
        ADD_FAILURE() << "252 units accepted";
    } catch (const pack::PackError &error) {
        EXPECT_EQ(std::string(error.what()), "e: archive name is 252 UTF-16 units long; the stub takes at most 250");
    }
    EXPECT_THROW(pack::CheckName(cjk + "a", cjk + "a"), pack::PackError);
    pack::TextEncoder western(1252);
    EXPECT_THROW(pack::CheckName(std::string(251, 'a'), std::string(251, 'a'), western), pack::PackError);
    // A root: no rule of the walk's own catches it, the stub's does.
    EXPECT_THROW(pack::CheckName("/etc/passwd", "/etc/passwd"), pack::PackError);
}

// The path buffers hold 259 UTF-16 units: the fixed folder with its
// backslash and every name behind it, the run command.
TEST(Utf8Names, PathLimitsAreCountedInUtf16Units)
{
    auto characters = [](int count) {
        std::string text;
        for (int i = 0; i < count; i++)
            text += "\xE8\xAA\x9E";
        return text;
    };
    // 88 units, 89 with the backslash, in 258 bytes; the names behind it
    // take 170 units, 501 bytes.
    std::string folder = "C:\\" + characters(85);
    TempDir dir;
    std::string stub = dir.Write("stub.exe", FakeStub(8192)), out = dir / "out.exe";
    dir.Write("app/" + characters(83) + "/" + characters(82), "fits: 89 + 170 units");
    Result fits = Pack({"-o", out, "--stub", stub, "--dest", "fixed:" + folder, dir / "app"});
    EXPECT_EQ(fits.code, 0) << fits.err;
    fs::remove(out);
    std::string over = "app/" + characters(83) + "/" + characters(83);
    dir.Write(over, "one unit more");
    Result refused = Pack({"-o", out, "--stub", stub, "--dest", "fixed:" + folder, dir / "app"});
    EXPECT_EQ(refused.code, 1);
    EXPECT_NE(refused.err.find(over + " would be extracted to a path of 260 UTF-16 units"), std::string::npos)
        << refused.err;
    fs::remove(out);
    fs::remove_all(dir / "app");
    dir.Write("app/a", "a");

    std::string run = characters(259);
    EXPECT_EQ(Pack({"-o", out, "--stub", stub, "--run", run, dir / "app"}).code, 0) << "259 units in 777 bytes";
    fs::remove(out);
    refused = Pack({"-o", out, "--stub", stub, "--run", run + "x", dir / "app"});
    EXPECT_NE(refused.err.find("--run: the command is 260 UTF-16 units"), std::string::npos) << refused.err;
    std::string bad = dir.Write("bad.txt", "caf\xE9");
    refused = Pack({"-o", out, "--stub", stub, "--description", "@" + bad, dir / "app"});
    EXPECT_NE(refused.err.find("--description: not UTF-8"), std::string::npos) << refused.err;
    EXPECT_FALSE(fs::exists(out));
}

}  // namespace
