// brevant-pack: DOS dates from local time, the names Windows creates as
// themselves, code pages, and the limits known from the walk alone.
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

// ---- Dates, names, code pages -----------------------------------------------------------

class LocalTime : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char *tz = getenv("TZ");
        saved_ = tz ? tz : "";
        had_ = tz != nullptr;
    }
    void TearDown() override
    {
        if (had_)
            setenv("TZ", saved_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    void Zone(const char *tz)
    {
        setenv("TZ", tz, 1);
        tzset();
    }
    std::string saved_;
    bool had_ = false;
};

TEST_F(LocalTime, DosDateAndTimeComeFromTheLocalTime)
{
    Zone("UTC0");
    // 2024-03-15 13:45:30 UTC
    time_t when = 1710510330;
    uint32_t dos = pack::DosDateTime(when);
    EXPECT_EQ(dos >> 16, (uint32_t)((2024 - 1980) << 9 | 3 << 5 | 15));
    EXPECT_EQ(dos & 0xFFFF, (uint32_t)(13 << 11 | 45 << 5 | 15));
    Zone("JST-9");
    dos = pack::DosDateTime(when);
    EXPECT_EQ(dos & 0xFFFF, (uint32_t)(22 << 11 | 45 << 5 | 15));
}

TEST_F(LocalTime, DatesBefore1980AreClampedToTheFirstDosDay)
{
    Zone("UTC0");
    EXPECT_EQ(pack::DosDateTime(0), (uint32_t)(1 << 5 | 1) << 16);
}

TEST_F(LocalTime, TheArchiveCarriesTheFilesModificationTimes)
{
    Zone("UTC0");
    PackFolder folder;
    std::string file = folder.Write("input.txt", "dated");
    struct timespec times[2] = {{1710510330, 0}, {1710510330, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    ASSERT_EQ(folder.Run({file}).code, 0);
    auto entries = CentralDirectory(pack::ReadWholeFile(folder.output));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "input.txt");
    EXPECT_EQ(entries[0].date, (uint16_t)((2024 - 1980) << 9 | 3 << 5 | 15));
    EXPECT_EQ(entries[0].time, (uint16_t)(13 << 11 | 45 << 5 | 15));
}

// SOURCE_DATE_EPOCH fixes every entry's time in UTC: the same tree packed
// in two time zones, its files touched in between, gives the same bytes.
TEST_F(LocalTime, WithSourceDateEpochTwoPacksInDifferentZonesAreIdentical)
{
    PackFolder folder;
    setenv("SOURCE_DATE_EPOCH", "1710510330", 1);
    Zone("UTC0");
    Result first = Pack({"-o", folder / "first.exe", "--stub", folder.stub, folder / "app"});
    struct timespec times[2] = {{1600000000, 0}, {1600000000, 0}};
    utimensat(AT_FDCWD, (folder / "app/readme.txt").c_str(), times, 0);
    Zone("JST-9");
    Result second = Pack({"-o", folder / "second.exe", "--stub", folder.stub, folder / "app"});
    unsetenv("SOURCE_DATE_EPOCH");
    ASSERT_EQ(first.code, 0) << first.err;
    ASSERT_EQ(second.code, 0) << second.err;
    Bytes image = pack::ReadWholeFile(folder / "first.exe");
    EXPECT_EQ(image, pack::ReadWholeFile(folder / "second.exe"));
    for (const CentralEntry &e : CentralDirectory(image)) {
        EXPECT_EQ(e.date, (uint16_t)((2024 - 1980) << 9 | 3 << 5 | 15)) << e.name;
        EXPECT_EQ(e.time, (uint16_t)(13 << 11 | 45 << 5 | 15)) << e.name;
    }
}

TEST_F(LocalTime, MtimeGivesEveryEntryItsTimeBeforeSourceDateEpoch)
{
    PackFolder folder;
    setenv("SOURCE_DATE_EPOCH", "1710510330", 1);
    Zone("PST8");
    Result result = folder.Run({"--mtime", "2001-02-03T04:05:06", folder / "app"});
    unsetenv("SOURCE_DATE_EPOCH");
    ASSERT_EQ(result.code, 0) << result.err;
    for (const CentralEntry &e : CentralDirectory(pack::ReadWholeFile(folder.output))) {
        EXPECT_EQ(e.date, (uint16_t)((2001 - 1980) << 9 | 2 << 5 | 3)) << e.name;
        EXPECT_EQ(e.time, (uint16_t)(4 << 11 | 5 << 5 | 3)) << e.name;
    }
    EXPECT_EQ(pack::ParseTime("981173106", "x"), pack::ParseTime("2001-02-03 04:05:06", "x"));
    EXPECT_EQ(pack::ParseTime("2001-02-03", "x"), pack::ParseTime("2001-02-03T00:00", "x"));
    for (const char *bad : {"", "yesterday", "2001-13-01", "2001-02-03T04", "2001-02-03T04:05:06Z", "-5",
                            "2024-02-30", "2023-02-29", "2024-04-31", "2108-01-01", "4354819200"})
        EXPECT_THROW(pack::ParseTime(bad, "--mtime"), pack::PackError) << bad;
    for (const char *good : {"2024-02-29", "1980-01-01", "315532800", "2107-12-31T23:59:59", "4354819199", "0",
                             "315532799", "1979-12-31T23:59:59"})
        EXPECT_NO_THROW(pack::ParseTime(good, "--mtime")) << good;
}

TEST(Names, TheLimitIs250Bytes)
{
    EXPECT_NO_THROW(pack::CheckName(std::string(250, 'a'), std::string(250, 'a')));
    EXPECT_THROW(pack::CheckName(std::string(251, 'a'), std::string(251, 'a')), pack::PackError);
}

TEST(Names, CharactersWindowsRefusesAreRefused)
{
    for (std::string name : {"a:b", "a\\b", "a*b", "a?b", "a|b", "a<b", "a\"b", "a\tb"})
        EXPECT_THROW(pack::CheckName(name, name), pack::PackError) << name;
}

TEST(Names, DeviceNamesAreRefusedInAnyCaseWithOrWithoutAnExtension)
{
    for (std::string name : {"CON", "aux.txt", "NUL.txt", "com1", "LPT9.log", "CONIN$", "conout$.x", "CON/",
                             "dir/Prn.tar.gz", "Con /x", "dir/nul",
                             "COM\xC2\xB9", "lpt\xC2\xB3.txt", "dir/LPT\xC2\xB2/"})
        EXPECT_THROW(pack::CheckName(name, name), pack::PackError) << name;
    for (std::string name : {"CONSOLE", "com10", "COM.txt", "nul_", "xcon", "dir/lpt", "con-fig/", "com0",
                             "COM\xC2\xB9\xC2\xB9", "COM\xE2\x81\xB4"})
        EXPECT_NO_THROW(pack::CheckName(name, name)) << name;
}

TEST(Names, ANameEndingInADotOrASpaceIsRefused)
{
    for (std::string name : {"trail.", "trail ", "dir./x", "dir /x", "a/b./"})
        EXPECT_THROW(pack::CheckName(name, name), pack::PackError) << name;
    for (std::string name : {"a.b", "dir/", ".hidden", "..a", "a .b"})
        EXPECT_NO_THROW(pack::CheckName(name, name)) << name;
}

TEST(Names, DotComponentsAreRefused)
{
    for (std::string name : {".", "..", "a/../b", "./a", "a/./", "../"})
        EXPECT_THROW(pack::CheckName(name, name), pack::PackError) << name;
}

TEST(Names, A5CByteIsRefusedOutsideADoubleByteCharacterOnly)
{
    pack::TextEncoder japanese(932);
    EXPECT_THROW(pack::CheckName("..\x5C..\x5C" "evil.txt", "..\xC2\xA5..\xC2\xA5" "evil.txt", japanese),
                 pack::PackError);
    EXPECT_THROW(pack::CheckName("\x95\x5C\x5C" "a", "\xE8\xA1\xA8\xC2\xA5" "a", japanese), pack::PackError);
    // U+8868 and U+30BD end in 0x5C: the trail byte of their characters.
    EXPECT_NO_THROW(pack::CheckName("\x95\x5C/\x83\x5C.txt", "\xE8\xA1\xA8/\xE3\x82\xBD.txt", japanese));
}

TEST(Names, CaseIsFoldedAsWindowsFoldsIt)
{
    EXPECT_EQ(pack::FoldCase("\xC3\xA9.txt"), pack::FoldCase("\xC3\x89.TXT"));  // e acute
    EXPECT_EQ(pack::FoldCase("\xCE\xB1"), "\xCE\x91");                           // alpha
    EXPECT_EQ(pack::FoldCase("\xD0\xB6"), "\xD0\x96");                           // zhe
    EXPECT_EQ(pack::FoldCase("\xF0\x90\x90\xA8"), "\xF0\x90\x90\xA8") << "outside the BMP: kept";
}

TEST(CodePages, ACharacterThatWouldReadBackAsAnotherIsRefusedNamingIt)
{
    pack::TextEncoder japanese(932);
    struct Case {
        const char *utf8, *expected;
    } cases[] = {
        {"a\xC2\xA5" "b.txt", "U+00A5 '\xC2\xA5'"},
        {"over\xE2\x80\xBE" "line", "U+203E '\xE2\x80\xBE'"},
        {"em\xE2\x80\x94" "dash", "U+2014 '\xE2\x80\x94'; it would become U+2015 '\xE2\x80\x95'"},
    };
    for (const Case &c : cases) {
        try {
            japanese.EncodeName(c.utf8, std::string("docs/") + c.utf8);
            ADD_FAILURE() << c.utf8;
        } catch (const pack::PackError &error) {
            std::string text = error.what();
            EXPECT_NE(text.find(std::string("docs/") + c.utf8), std::string::npos) << text;
            EXPECT_NE(text.find(c.expected), std::string::npos) << text;
        }
    }
    EXPECT_EQ(japanese.EncodeName("\xE8\xA1\xA8\xE3\x82\xBD", "x"), "\x95\x5C\x83\x5C");
}

TEST(CodePages, WithoutACodePageUtf8PassesAsItIsAndNothingElse)
{
    pack::TextEncoder utf8;
    EXPECT_EQ(utf8.Encode("plain.txt", "x"), "plain.txt");
    EXPECT_EQ(utf8.EncodeName("caf\xC3\xA9 \xF0\x9F\x8E\x89.txt", "x"), "caf\xC3\xA9 \xF0\x9F\x8E\x89.txt");
    // Latin-1 bytes, an overlong "/", an encoded surrogate, beyond U+10FFFF.
    for (std::string bad : {"caf\xE9.txt", "a\xC0\xAF" "b", "\xED\xA0\x80", "\xF4\x90\x80\x80"}) {
        try {
            utf8.EncodeName(bad, "dir/" + bad);
            ADD_FAILURE() << bad;
        } catch (const pack::PackError &error) {
            EXPECT_EQ(std::string(error.what()), "dir/" + bad + ": not UTF-8");
        }
    }
}

TEST(CodePages, Utf8NamesAreConvertedToTheCodePage)
{
    pack::TextEncoder western(1252);
    EXPECT_EQ(western.Encode("caf\xC3\xA9 \xE2\x82\xAC", "x"), "caf\xE9 \x80");
    pack::TextEncoder japanese(932);
    EXPECT_EQ(japanese.Encode("\xE6\x97\xA5\xE6\x9C\xAC.txt", "x"), "\x93\xFA\x96\x7B.txt");
}

TEST(CodePages, ANameTheCodePageCannotHoldIsAnErrorNamingTheFile)
{
    pack::TextEncoder western(1252);
    try {
        western.Encode("\xE6\x97\xA5.txt", "docs/\xE6\x97\xA5.txt");
        FAIL();
    } catch (const pack::PackError &error) {
        EXPECT_NE(std::string(error.what()).find("docs/\xE6\x97\xA5.txt"), std::string::npos);
    }
    EXPECT_THROW(pack::TextEncoder(99999), pack::PackError);
}

TEST(CodePages, ConvertedNamesKeepTheirUtf8FormForZipTools)
{
    PackFolder folder;
    folder.Write("app/\xE6\x97\xA5\xE6\x9C\xAC.txt", "nihon");
    Result result = folder.Run({"--codepage", "932", folder / "app"});
    ASSERT_EQ(result.code, 0) << result.err;
    Bytes image = pack::ReadWholeFile(folder.output);
    auto entries = CentralDirectory(image);
    bool found = false;
    for (auto &e : entries) {
        found |= e.name == "app/\x93\xFA\x96\x7B.txt";
        EXPECT_EQ(e.flags, 0) << "no bit 11 on a converted name";
    }
    EXPECT_TRUE(found);
    EXPECT_NE(Find(image, "app/\xE6\x97\xA5\xE6\x9C\xAC.txt"), std::string::npos) << "Unicode Path field";
    std::string output;
    EXPECT_EQ(Shell("unzip -Z1 '" + folder.output + "'", &output), 0);
    EXPECT_NE(output.find("\xE6\x97\xA5\xE6\x9C\xAC.txt"), std::string::npos) << output;
}

// ---- Limits known from the walk -------------------------------------------------

// At level 0 the image's size is known from the walk alone.
TEST(Inputs, AStoredImageOver4GiBIsRefusedFromTheWalkAlone)
{
    std::vector<pack::InputItem> items(2);
    items[0].name = items[0].utf8 = "a";
    items[1].name = items[1].utf8 = "b";
    items[0].size = 0xFFFFFFFFu - 8192 - 22 - 2 * (30 + 46 + 1);
    EXPECT_NO_THROW(pack::CheckStoredSize(8192, {items[0]}));
    EXPECT_THROW(pack::CheckStoredSize(8192, items), pack::PackError);
    EXPECT_EQ(pack::FailureOf(ENOENT), pack::Failure::Refused);
    EXPECT_EQ(pack::FailureOf(EACCES), pack::Failure::Io);
}

// Two sparse files of 2.5 GiB: the walk's sizes alone refuse them.
TEST(Inputs, ATotalOver4GiBIsRefusedFromTheWalkAlone)
{
    TempDir dir;
    for (const char *name : {"big/a.bin", "big/b.bin"}) {
        std::string path = dir.Write(name, "");
        ASSERT_EQ(truncate(path.c_str(), 5ll << 29), 0);
    }
    pack::TextEncoder encoder;
    auto items = pack::CollectInputs({dir / "big"}, true, encoder);
    try {
        pack::CheckInputs(items);
        FAIL() << "5 GiB of entries accepted";
    } catch (const pack::PackError &error) {
        EXPECT_NE(std::string(error.what()).find("add up to 5368709120 bytes"), std::string::npos) << error.what();
    }
}

TEST(Inputs, AtLeastOneAndAtMost65535EntriesAreAccepted)
{
    std::vector<pack::InputItem> items(65535);
    EXPECT_NO_THROW(pack::CheckInputs(items));
    items.emplace_back();
    EXPECT_THROW(pack::CheckInputs(items), pack::PackError);
    EXPECT_THROW(pack::CheckInputs({}), pack::PackError);
}

TEST(Inputs, AFileWhoseSizeChangedSinceTheWalkIsAnErrorNamingIt)
{
    for (const char *now : {"shorter now", std::string(3000, 'l').c_str()}) {
        for (const char *level : {"12", "0"}) {
            PackFolder folder;
            pack::TextEncoder encoder;
            auto items = pack::CollectInputs({folder / "app"}, false, encoder);
            folder.Write("app/readme.txt", now);
            pack::OutputImage output(folder.output, false);
            pack::ImageWriter writer(output, FakeStub());
            std::ostringstream log;
            try {
                for (const pack::InputItem &item : items)
                    writer.Add(item, atoi(level), log);
                ADD_FAILURE() << "a file that changed was packed";
            } catch (const pack::PackError &error) {
                EXPECT_NE(std::string(error.what()).find(folder / "app/readme.txt" + ": changed while being packed"),
                          std::string::npos) << error.what();
            }
        }
    }
}

}  // namespace
