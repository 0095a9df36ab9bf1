// brevant-pack: the configuration block's layout, the image's layout and its
// placement rules, a ZIP that ordinary tools accept, names and code pages,
// icons, --describe, and clear errors with no output left behind.
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

// A folder with a stub and a small payload, ready for the command line.
class PackFolder : public TempDir {
public:
    PackFolder()
    {
        stub = Write("stub.exe", FakeStub(8192));
        Write("app/readme.txt", std::string(2000, 'r'));
        Write("app/bin/tool.dat", std::string("\x01\x02\x03", 3));
        std::filesystem::create_directories(*this / "app/empty");
        output = *this / "out.exe";
    }
    Result Run(std::vector<std::string> args) const
    {
        std::vector<std::string> full = {"-o", output, "--stub", stub};
        full.insert(full.end(), args.begin(), args.end());
        return Pack(full);
    }
    bool OutputExists() const { return std::filesystem::exists(output); }
    // Nothing but the inputs: no output and no temporary file beside it.
    bool OnlyInputsLeft() const
    {
        for (const std::string &name : List())
            if (name != "stub.exe" && name != "app" && name.compare(0, 5, "input") != 0)
                return false;
        return true;
    }
    std::string stub, output;
};

// The entries of an image's central directory: name -> (method, local offset).
struct CentralEntry {
    std::string name;
    uint16_t flags, method, time, date;
    uint32_t crc, compressed, size, local, external;
};
std::vector<CentralEntry> CentralDirectory(const Bytes &image)
{
    size_t end = image.size() - 22;
    EXPECT_EQ(Get32(image, end), 0x06054B50u);
    uint32_t count = Get16(image, end + 10), at = Get32(image, end + 16);
    std::vector<CentralEntry> entries;
    for (uint32_t i = 0; i < count; i++) {
        EXPECT_EQ(Get32(image, at), 0x02014B50u);
        CentralEntry e;
        e.flags = Get16(image, at + 8);
        e.method = Get16(image, at + 10);
        e.time = Get16(image, at + 12);
        e.date = Get16(image, at + 14);
        e.crc = Get32(image, at + 16);
        e.compressed = Get32(image, at + 20);
        e.size = Get32(image, at + 24);
        uint16_t nameLength = Get16(image, at + 28), extra = Get16(image, at + 30), comment = Get16(image, at + 32);
        e.external = Get32(image, at + 38);
        e.local = Get32(image, at + 42);
        e.name.assign(image.begin() + at + 46, image.begin() + at + 46 + nameLength);
        entries.push_back(e);
        at += 46 + nameLength + extra + comment;
    }
    return entries;
}

size_t Find(const Bytes &bytes, const std::string &what)
{
    Bytes pattern(what.begin(), what.end());  // as unsigned bytes
    auto at = std::search(bytes.begin(), bytes.end(), pattern.begin(), pattern.end());
    return at == bytes.end() ? std::string::npos : (size_t)(at - bytes.begin());
}

// ---- The configuration block ----------------------------------------------------------

TEST(ConfigBlock, FixedPartThenTerminatedStringsThenTheIcon)
{
    pack::ConfigSettings settings;
    settings.flags = SFX_EXTRACTOR_UI | SFX_CTL3D;
    settings.destKind = DEST_IMAGE_DIR;
    const char *texts[] = {"s", "i", "a", "d", "f", "r", "w"};
    for (int i = 0; i < 7; i++)
        settings.texts[i] = texts[i];
    settings.icon = {9, 8, 7};
    Bytes block = pack::BuildConfigBlock(settings);
    ASSERT_EQ(block.size(), 40u + 7 * 2 + 3);
    EXPECT_EQ(Get32(block, 0), (uint32_t)(SFX_EXTRACTOR_UI | SFX_CTL3D));
    EXPECT_EQ(Get32(block, 4), (uint32_t)DEST_IMAGE_DIR);
    for (int slot = 0; slot < 7; slot++) {
        uint32_t at = Get32(block, 8 + 4 * slot);
        EXPECT_EQ(at, 40u + 2 * slot);
        EXPECT_EQ(block[at], (uint8_t)texts[slot][0]);
        EXPECT_EQ(block[at + 1], 0);
    }
    EXPECT_EQ(Get32(block, 36), 54u);
    EXPECT_EQ(Bytes(block.begin() + 54, block.end()), (Bytes{9, 8, 7}));
}

TEST(ConfigBlock, PaddingGoesBetweenTheStringsAndTheIcon)
{
    pack::ConfigSettings settings;
    settings.icon = {1};
    Bytes plain = pack::BuildConfigBlock(settings);
    Bytes padded = pack::BuildConfigBlock(settings, 5);
    EXPECT_EQ(padded.size(), plain.size() + 5);
    EXPECT_EQ(Get32(padded, 36), Get32(plain, 36) + 5);
    EXPECT_EQ(padded.back(), 1);
    EXPECT_NE(Crc(plain), Crc(padded));
}

TEST(ConfigBlock, ATextWithAZeroByteIsRefused)
{
    pack::ConfigSettings settings;
    settings.texts[CFG_RUN_COMMAND] = std::string("a\0b", 3);
    EXPECT_THROW(pack::BuildConfigBlock(settings), pack::PackError);
}

// ---- The image ----------------------------------------------------------------------

pack::ImagePlan SmallPlan()
{
    pack::ImagePlan plan;
    plan.stub = FakeStub(5000);
    plan.config.texts[CFG_DESCRIPTION] = "A small archive";
    std::ostringstream log;
    plan.entries.push_back(pack::MakeEntry("dir/", Bytes(), 0x58210000, 12, log));
    plan.entries.push_back(pack::MakeEntry("dir/a.txt", Bytes(3000, 'a'), 0x58210000, 12, log));
    plan.entries.push_back(pack::MakeEntry("b.bin", Bytes{1, 2, 3}, 0x58210000, 12, log));
    return plan;
}

TEST(Image, HeaderFollowsTheStubAndEntriesFollowTheStream)
{
    pack::ImagePlan plan = SmallPlan();
    pack::BuiltImage built = pack::BuildImage(plan);
    const Bytes &image = built.bytes;
    EXPECT_EQ(Bytes(image.begin(), image.begin() + 5000), plan.stub);
    EXPECT_EQ(built.configOffset, 5000u);
    EXPECT_EQ(std::string(image.begin() + 5000, image.begin() + 5004), "JAVA");
    Bytes block = pack::BuildConfigBlock(plan.config, built.configPadding);
    EXPECT_EQ(Get32(image, 5004), Crc(block));
    EXPECT_EQ(Get32(image, 5008), block.size());
    EXPECT_EQ(built.firstEntryOffset, 5012 + built.configStreamSize);
    EXPECT_EQ(Find(image, "PK\3\4"), built.firstEntryOffset);
    EXPECT_EQ(Find(image, "JAVA"), 5000u);
}

TEST(Image, CentralDirectoryOffsetsCountFromTheStartOfTheImage)
{
    pack::BuiltImage built = pack::BuildImage(SmallPlan());
    auto entries = CentralDirectory(built.bytes);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].local, built.firstEntryOffset);
    for (const CentralEntry &e : entries) {
        EXPECT_EQ(Get32(built.bytes, e.local), 0x04034B50u);
        EXPECT_EQ(Get16(built.bytes, e.local + 6), 0) << "no data descriptor";
        EXPECT_EQ(Get32(built.bytes, e.local + 14), e.crc);
        EXPECT_EQ(Get32(built.bytes, e.local + 18), e.compressed);
        EXPECT_EQ(Get32(built.bytes, e.local + 22), e.size);
    }
    EXPECT_EQ(entries[0].name, "dir/");
    EXPECT_EQ(entries[0].external, 0x10u);
    EXPECT_EQ(entries[1].method, 8) << "3000 equal bytes shrink";
    EXPECT_EQ(entries[2].method, 0) << "three bytes do not";
    EXPECT_EQ(Get32(built.bytes, built.bytes.size() - 6), built.centralOffset);
}

TEST(Image, EntriesThatDoNotShrinkAreStoredAndOthersDeflated)
{
    std::ostringstream log;
    Bytes noise(5000);
    uint32_t x = 1;
    for (auto &b : noise)
        b = (uint8_t)((x = x * 1103515245 + 12345) >> 24);
    EXPECT_EQ(pack::MakeEntry("n", noise, 0, 12, log).method, 0);
    EXPECT_EQ(pack::MakeEntry("t", Bytes(5000, 't'), 0, 12, log).method, 8);
    EXPECT_EQ(pack::MakeEntry("t", Bytes(5000, 't'), 0, 0, log).method, 0) << "level 0 stores";
    EXPECT_EQ(pack::MakeEntry("e", Bytes(), 0, 12, log).method, 0);
    EXPECT_TRUE(log.str().empty());
}

TEST(Image, EveryDeflatedStreamIsAcceptedByTheStubsDecoder)
{
    Bytes text;
    for (int i = 0; i < 20000; i++)
        text.push_back((uint8_t)"abcdefgh\n"[i * 7 % 9]);
    for (int level : {1, 6, 12})
        EXPECT_TRUE(pack::StubDecodes(pack::Deflate(text, {Coder::Libdeflate, level}), text));
    EXPECT_TRUE(pack::StubDecodes(pack::Deflate(text, {Coder::Zlib, 9}), text));
    EXPECT_TRUE(pack::StubDecodes(pack::Deflate(text, {Coder::Stored, 0}), text));
    Bytes wrong = text;
    wrong[100] ^= 1;
    EXPECT_FALSE(pack::StubDecodes(pack::Deflate(text, {Coder::Libdeflate, 12}), wrong));
    Bytes cut = pack::Deflate(text, {Coder::Libdeflate, 12});
    cut.resize(cut.size() / 2);
    EXPECT_FALSE(pack::StubDecodes(cut, text));
}

// Pieces compressed on their own and joined, every number of unused bits at
// a join among them, read as one stream by zlib and by the stub's decoder.
TEST(Image, StreamsJoinedAtByteBoundariesDecodeAsOne)
{
    Bytes whole, joined;
    uint32_t x = 9;
    for (int part = 0; part < 48; part++) {
        Bytes piece(100 + part * 37 % 900);
        for (auto &b : piece)
            b = (uint8_t)(part % 3 ? "abcab"[(x = x * 1103515245 + 12345) >> 29 & 3] : (x = x * 1103515245 + 12345) >> 24);
        bool last = part == 47;
        Bytes stream = part % 5 == 4 ? pack::DeflateStored(piece, last) : pack::Deflate(piece, {Coder::Libdeflate, 1 + part % 12});
        if (!last && part % 5 != 4)
            pack::MakeNonFinal(stream);
        whole.insert(whole.end(), piece.begin(), piece.end());
        joined.insert(joined.end(), stream.begin(), stream.end());
    }
    Bytes out(whole.size());
    uLongf length = out.size();
    z_stream z{};
    ASSERT_EQ(inflateInit2(&z, -15), Z_OK);
    z.next_in = joined.data();
    z.avail_in = (uInt)joined.size();
    z.next_out = out.data();
    z.avail_out = (uInt)length;
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
    EXPECT_EQ(z.avail_in, 0u) << "the joined stream ends where its last piece does";
    inflateEnd(&z);
    EXPECT_EQ(out, whole);
    EXPECT_TRUE(pack::StubDecodes(joined, whole));
}

TEST(Image, ASignatureInTheCompressedBlockIsAvoided)
{
    pack::ImagePlan plan = SmallPlan();
    plan.config.texts[CFG_DESCRIPTION] = std::string("xx PK\3\4 xx", 10);
    plan.configEncodings = {{Coder::Stored, 0}, {Coder::Libdeflate, 12}};
    pack::BuiltImage built = pack::BuildImage(plan);
    EXPECT_EQ(built.configEncoding.coder, Coder::Libdeflate);
    EXPECT_EQ(Find(built.bytes, "PK\3\4"), built.firstEntryOffset);
}

// Four bytes that, appended to data, make its CRC-32 equal target: the CRC
// register's last four steps run backwards.
Bytes ForgeCrc(const Bytes &data, uint32_t target)
{
    uint32_t table[256];
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t c = i;
        for (int k = 0; k < 8; k++)
            c = c & 1 ? c >> 1 ^ 0xEDB88320 : c >> 1;
        table[i] = c;
    }
    uint32_t reg = ~target;
    for (int step = 0; step < 4; step++) {
        uint32_t index = 0;
        while (table[index] >> 24 != reg >> 24)
            index++;
        reg = (reg ^ table[index]) << 8 | index;
    }
    uint32_t word = reg ^ ~Crc(data);
    return Bytes{(uint8_t)word, (uint8_t)(word >> 8), (uint8_t)(word >> 16), (uint8_t)(word >> 24)};
}

TEST(Image, ASignatureInTheHeadersCrcIsAvoidedByPadding)
{
    pack::ImagePlan plan = SmallPlan();
    Bytes icon = {'i', 'c', 'o', 'n'};
    plan.config.icon = icon;
    Bytes forged = ForgeCrc(pack::BuildConfigBlock(plan.config), 0x04034B50);  // "PK\3\4"
    plan.config.icon.insert(plan.config.icon.end(), forged.begin(), forged.end());
    ASSERT_EQ(Crc(pack::BuildConfigBlock(plan.config)), 0x04034B50u);

    pack::BuiltImage built = pack::BuildImage(plan);
    EXPECT_GT(built.configPadding, 0u);
    EXPECT_EQ(Find(built.bytes, "PK\3\4"), built.firstEntryOffset);
}

TEST(Image, AStubHoldingASignatureIsRefused)
{
    for (const char *signature : {"JAVA", "PK\3\4"}) {
        pack::ImagePlan plan = SmallPlan();
        std::copy(signature, signature + 4, plan.stub.begin() + 3000);
        EXPECT_THROW(pack::BuildImage(plan), pack::PackError) << signature;
    }
    pack::ImagePlan plan = SmallPlan();
    plan.stub[0] = 'X';
    EXPECT_THROW(pack::BuildImage(plan), pack::PackError);
}

TEST(Image, TheFirstEntryMustBeginWithinTheScanLimit)
{
    pack::ImagePlan plan = SmallPlan();
    plan.stub = FakeStub(59000);
    plan.config.texts[CFG_DESCRIPTION] = "short";
    EXPECT_NO_THROW(pack::BuildImage(plan));
    Bytes noise(2000);
    uint32_t x = 7;
    for (auto &b : noise)
        b = (uint8_t)((x = x * 1103515245 + 12345) >> 24);
    plan.config.icon = noise;
    try {
        pack::BuildImage(plan);
        FAIL() << "an image whose first entry lies past 59,996 was built";
    } catch (const pack::PackError &error) {
        EXPECT_NE(std::string(error.what()).find("59996"), std::string::npos) << error.what();
    }
}

TEST(Image, AStubLongerThan59996BytesIsRefused)
{
    pack::ImagePlan plan = SmallPlan();
    plan.stub = FakeStub(59997);
    EXPECT_THROW(pack::BuildImage(plan), pack::PackError);
}

TEST(Image, NamesOver250BytesAndEmptyArchivesAreRefused)
{
    pack::ImagePlan plan = SmallPlan();
    std::ostringstream log;
    plan.entries.push_back(pack::MakeEntry(std::string(251, 'n'), Bytes{1}, 0, 12, log));
    EXPECT_THROW(pack::BuildImage(plan), pack::PackError);
    plan.entries.clear();
    EXPECT_THROW(pack::BuildImage(plan), pack::PackError);
}

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
                            "2024-02-30", "2023-02-29", "2024-04-31", "0", "315532799", "1979-12-31T23:59:59",
                            "2108-01-01", "4354819200"})
        EXPECT_THROW(pack::ParseTime(bad, "--mtime"), pack::PackError) << bad;
    for (const char *good : {"2024-02-29", "1980-01-01", "315532800", "2107-12-31T23:59:59", "4354819199"})
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
        {"a\xC2\xA5" "b.txt", "\"\xC2\xA5\" (U+00A5)"},
        {"over\xE2\x80\xBE" "line", "\"\xE2\x80\xBE\" (U+203E)"},
        {"em\xE2\x80\x94" "dash", "\"\xE2\x80\x94\" (U+2014); it would become \"\xE2\x80\x95\" (U+2015)"},
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

// ---- The command line ------------------------------------------------------------------------

// The block's flag bits and destination kinds as the image format numbers
// them, read back by the stub's own loader. Texts are UTF-8 (0x20) unless a
// code page is given.
TEST(Command, OptionsBecomeTheFormatsFlagBitsAndDestinationKinds)
{
    struct Case {
        std::vector<std::string> options;
        uint32_t flags, destKind;
    } cases[] = {
        {{"--autostart"}, 0x21, 3},       {{"--ctl3d"}, 0x22, 3},
        {{"--overwrite"}, 0x24, 3},       {{"--delete-after"}, 0x28, 3},
        {{"--extractor"}, 0x30, 2},       {{"--dest", "temp"}, 0x20, 1},
        {{"--dest", "image-dir"}, 0x20, 2},  {{"--dest", "unique-temp"}, 0x20, 3},
        {{"--dest", "fixed:D:\\x"}, 0x20, 4}, {{"--codepage", "1252", "--autostart"}, 0x01, 3},
    };
    static uint8_t window[WINDOW_SIZE], input[INPUT_SIZE];
    OutputWindow = window;
    InputBuffer = input;
    MakeCrcTable();
    for (const Case &c : cases) {
        PackFolder folder;
        std::vector<std::string> args = c.options;
        args.push_back(folder / "app");
        ASSERT_EQ(folder.Run(args).code, 0) << c.options[0];
        ImageFile = OpenReadShared(folder.output.c_str());
        LoadConfig();
        EXPECT_EQ(SfxConfig->Flags, c.flags) << c.options.back();
        EXPECT_EQ(SfxConfig->DestKind, c.destKind) << c.options.back();
        HeapFreeBlock(SfxConfig);
        SfxConfig = nullptr;
        CloseFile(ImageFile);
        ImageFile = INVALID_FILE;
    }
}

TEST(Command, AFolderIsPackedBelowItsOwnNameWithFolderEntries)
{
    PackFolder folder;
    ASSERT_EQ(folder.Run({folder / "app"}).code, 0);
    auto entries = CentralDirectory(pack::ReadWholeFile(folder.output));
    std::vector<std::string> names;
    for (auto &e : entries)
        names.push_back(e.name);
    EXPECT_EQ(names, (std::vector<std::string>{"app/", "app/bin/", "app/bin/tool.dat", "app/empty/",
                                               "app/readme.txt"}));
}

TEST(Command, WithFlatAFoldersContentsGoToTheTop)
{
    PackFolder folder;
    ASSERT_EQ(folder.Run({"--flat", folder / "app"}).code, 0);
    auto entries = CentralDirectory(pack::ReadWholeFile(folder.output));
    std::vector<std::string> names;
    for (auto &e : entries)
        names.push_back(e.name);
    EXPECT_EQ(names, (std::vector<std::string>{"bin/", "bin/tool.dat", "empty/", "readme.txt"}));
}

TEST(Command, UnzipAndSevenZipAcceptTheImageWithoutWarnings)
{
    PackFolder folder;
    folder.Write("app/big.txt", std::string(100000, 'b'));
    ASSERT_EQ(folder.Run({folder / "app"}).code, 0);
    std::string output;
    EXPECT_EQ(Shell("unzip -t '" + folder.output + "'", &output), 0) << output;
    EXPECT_NE(output.find("No errors detected"), std::string::npos) << output;
    EXPECT_EQ(output.find("warning"), std::string::npos) << output;
    // The fake stub is no real PE file, so 7-Zip is told the type.
    EXPECT_EQ(Shell("7z t -tzip '" + folder.output + "'", &output), 0) << output;
    EXPECT_NE(output.find("Everything is Ok"), std::string::npos) << output;
    EXPECT_EQ(output.find("WARNING"), std::string::npos) << output;
    EXPECT_EQ(output.find("Warnings"), std::string::npos) << output;
}

// Written straight into the output, an image is byte for byte the one laid
// out in memory from the same entries.
TEST(Command, TheStreamedImageIsTheImageBuiltInMemory)
{
    PackFolder folder;
    folder.Write("app/text.txt", std::string(70000, 't') + "end");
    ASSERT_EQ(folder.Run({"--mtime", "2020-01-02T03:04:06", folder / "app"}).code, 0);
    pack::ImagePlan plan;
    plan.stub = pack::ReadWholeFile(folder.stub);
    uint32_t when = pack::DosDateTime(pack::ParseTime("2020-01-02T03:04:06", "x"), true);
    std::ostringstream log;
    for (const char *name : {"app/", "app/bin/", "app/bin/tool.dat", "app/empty/", "app/readme.txt", "app/text.txt"}) {
        Bytes content;
        if (std::string(name).back() != '/')
            content = pack::ReadWholeFile(folder / name);
        plan.entries.push_back(pack::MakeEntry(name, content, when, 12, log));
        plan.entries.back().flags = ZIP_FLAG_UTF8;
    }
    plan.config.flags = SFX_UTF8_TEXTS;
    EXPECT_EQ(pack::ReadWholeFile(folder.output), pack::BuildImage(plan).bytes);
}

// Files larger than one piece: deflated in pieces joined into one stream,
// stored when nothing shrinks; the stub's decoder and unzip read them all.
TEST(Command, FilesLargerThanAPieceArePackedInPieces)
{
    PackFolder folder;
    Bytes text(pack::kChunkSize * 2 + 12345), noise(pack::kChunkSize + 1), mixed;
    uint32_t x = 17;
    for (auto &b : text)
        b = (uint8_t)"the pieces of a large file\n"[(x = x * 1103515245 + 12345) >> 16 & 15];
    for (auto &b : noise)
        b = (uint8_t)((x = x * 1103515245 + 12345) >> 24);
    mixed = noise;
    mixed.insert(mixed.end(), text.begin(), text.begin() + 100000);  // a piece that shrinks after one that does not
    folder.Write("app/text.txt", text);
    folder.Write("app/noise.bin", noise);
    folder.Write("app/mixed.bin", mixed);
    ASSERT_EQ(folder.Run({"--level", "1", folder / "app"}).code, 0);
    for (const CentralEntry &e : CentralDirectory(pack::ReadWholeFile(folder.output))) {
        if (e.name == "app/noise.bin")
            EXPECT_EQ(e.method, 0) << "does not shrink: stored";
        if (e.name == "app/text.txt" || e.name == "app/mixed.bin")
            EXPECT_EQ(e.method, 8) << e.name;
    }
    Result described = Pack({"--describe", folder.output});
    EXPECT_EQ(described.code, 0) << described.out;
    std::string output;
    EXPECT_EQ(Shell("unzip -tq '" + folder.output + "'", &output), 0) << output;
    // Stored whole at level 0: its CRC-32 is that of every piece.
    std::filesystem::remove(folder.output);
    Result stored = folder.Run({"--level", "0", folder / "app/text.txt"});
    ASSERT_EQ(stored.code, 0) << stored.err;
    EXPECT_EQ(Shell("unzip -tq '" + folder.output + "'", &output), 0) << output;
}

TEST(Command, DescribeReadsBackEveryField)
{
    PackFolder folder;
    std::string about = folder.Write("about.txt", "About this\nsetup\n\n");
    std::string ico = folder.Write("icon.ico", IcoFile({IconBitmap(16, 8), IconBitmap(32, 8)}, {16, 32}));
    Result packed = folder.Run({"--extractor", "--autostart", "--overwrite", "--delete-after", "--ctl3d",
                                "--dest", "fixed:C:\\Apps\\Demo", "--start-message", "Hello",
                                "--init-message", "Init", "--about", "@" + about, "--description", "Desc",
                                "--run", "setup.exe /q", "--wait-file", "setup.log", "--icon", ico,
                                folder / "app"});
    ASSERT_EQ(packed.code, 0) << packed.err;
    EXPECT_NE(packed.err.find("--delete-after"), std::string::npos) << "a warning: kind 4 deletes nothing";
    Result described = Pack({"--describe", folder.output});
    EXPECT_EQ(described.code, 0) << described.out << described.err;
    for (const char *expected :
         {"extractor", "autostart ctl3d overwrite delete-after extractor", "fixed (4)", "\"Hello\"", "\"Init\"",
          "\"About this\\nsetup\"", "\"Desc\"", "\"C:\\\\Apps\\\\Demo\"", "\"setup.exe /q\"", "\"setup.log\"",
          "32x32, 8 bits", "app/bin/tool.dat", "app/empty/", "5 entries", "the image checks"})
        EXPECT_NE(described.out.find(expected), std::string::npos) << expected << "\n" << described.out;
}

TEST(Command, DescribeReportsADamagedImage)
{
    PackFolder folder;
    ASSERT_EQ(folder.Run({folder / "app"}).code, 0);
    Bytes image = pack::ReadWholeFile(folder.output);
    image[Find(image, "JAVA") + 4] ^= 1;
    std::string bad = folder.Write("input-bad.exe", image);
    Result described = Pack({"--describe", bad});
    EXPECT_EQ(described.code, 1);
    EXPECT_NE(described.out.find("Internal error. Bad download?"), std::string::npos) << described.out;

    image = pack::ReadWholeFile(folder.output);
    size_t entry = Find(image, "app/readme.txt") + 14;  // the first entry with data
    image[entry + 5] ^= 0xFF;
    bad = folder.Write("input-bad2.exe", image);
    described = Pack({"--describe", bad});
    EXPECT_EQ(described.code, 1);
    EXPECT_NE(described.out.find("BAD"), std::string::npos) << described.out;
}

void ExpectFailure(const PackFolder &folder, const Result &result, const std::string &message, int code = 1)
{
    EXPECT_EQ(result.code, code) << message;
    EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
    EXPECT_FALSE(folder.OutputExists());
    EXPECT_TRUE(folder.OnlyInputsLeft());
}

// What the stub refuses before it writes anything, --describe refuses too:
// an archive that disagrees with its central directory, cut or damaged
// anywhere, with bytes behind it, or of 4 GiB and more.
TEST(Command, DescribeRefusesWhatTheStubRefuses)
{
    PackFolder folder;
    ASSERT_EQ(folder.Run({folder / "app"}).code, 0);
    const Bytes whole = pack::ReadWholeFile(folder.output);
    Bytes renamed = whole, cut(whole.begin(), whole.end() - 10), behind = whole;
    renamed[Find(whole, "app/readme.txt") + 4] ^= 1;  // in the local header only
    behind.resize(behind.size() + 1000, 'g');
    std::string huge = folder.Write("huge.exe", whole);
    ASSERT_EQ(truncate(huge.c_str(), (off_t)whole.size() + (4ll << 30)), 0);  // 4 GiB of zeros behind
    struct Case {
        std::string image, refusal;
    } cases[] = {
        {folder.Write("renamed.exe", renamed), "record 5 of the central directory disagrees"},
        {folder.Write("cut.exe", cut), "no end record ends the archive"},
        {folder.Write("behind.exe", behind), "no end record ends the archive"},
        {huge, "no end record ends the archive"},
    };
    for (const Case &c : cases) {
        Result described = Pack({"--describe", c.image});
        EXPECT_EQ(described.code, 1) << c.image;
        EXPECT_NE(described.out.find("refused: " + c.refusal), std::string::npos) << described.out;
        EXPECT_NE(described.out.find("\"Error reading from archive.\" before writing anything"), std::string::npos);
    }
    Result json = Pack({"--describe", cases[0].image, "--json"});
    EXPECT_NE(json.out.find("\"refusals\": [\"record 5 of"), std::string::npos) << json.out;
    json = Pack({"--describe", folder.output, "--json"});
    EXPECT_EQ(json.code, 0) << json.out;
    EXPECT_NE(json.out.find("\"refusals\": [],"), std::string::npos) << json.out;
}

// The packer reads its own output back with the stub's check before the
// output takes its name.
TEST(Command, TheWrittenArchiveIsCheckedAsTheStubChecksIt)
{
    PackFolder folder;
    ASSERT_EQ(folder.Run({folder / "app"}).code, 0);
    EXPECT_NO_THROW(pack::CheckWrittenArchive(folder.output));
    Bytes image = pack::ReadWholeFile(folder.output);
    image.push_back(0);
    std::string bad = folder.Write("bad.exe", image);
    try {
        pack::CheckWrittenArchive(bad);
        ADD_FAILURE() << "no refusal";
    } catch (const pack::PackError &error) {
        EXPECT_EQ(std::string(error.what()), bad + ": the stub would refuse the archive written: no end record "
                                                  "ends the archive (missing, cut, a comment that runs past the "
                                                  "end, bytes behind it, or an image of 4 GiB or more)");
    }
}

TEST(Command, QuietPrintsNothingAndVerboseAnEntryALine)
{
    PackFolder folder;
    Result quiet = folder.Run({"-q", folder / "app"});
    ASSERT_EQ(quiet.code, 0) << quiet.err;
    EXPECT_EQ(quiet.out + quiet.err, "");
    std::filesystem::remove(folder.output);
    Result verbose = folder.Run({"-v", folder / "app"});
    ASSERT_EQ(verbose.code, 0) << verbose.err;
    EXPECT_NE(verbose.out.find("deflated 2000 -> "), std::string::npos) << verbose.out;
    EXPECT_NE(verbose.out.find("app/readme.txt  (libdeflate)"), std::string::npos) << verbose.out;
    EXPECT_NE(verbose.out.find("stored   3 -> 3  app/bin/tool.dat"), std::string::npos) << verbose.out;
}

TEST(Command, ALongNameIsAnErrorNamingTheFile)
{
    PackFolder folder;
    std::string deep = "app/" + std::string(120, 'd') + "/" + std::string(130, 'f');
    folder.Write(deep, "x");
    ExpectFailure(folder, folder.Run({folder / "app"}), std::string(130, 'f'));
}

TEST(Command, ANameThatIsNotUtf8WithoutACodePageIsAnError)
{
    PackFolder folder;
    folder.Write("app/na\xEFve.txt", "x");
    ExpectFailure(folder, folder.Run({folder / "app"}), "app/na\\xEFve.txt: not UTF-8");
}

TEST(Command, ABadIconIsAnError)
{
    PackFolder folder;
    std::string ico = folder.Write("input.ico", "not an icon at all");
    ExpectFailure(folder, folder.Run({"--icon", ico, folder / "app"}), "input.ico");
}

TEST(Command, AConfigurationTooLargeForTheScanLimitIsAnError)
{
    PackFolder folder;
    Bytes noise(120000);
    uint32_t x = 3;
    for (auto &b : noise)
        b = (uint8_t)'A' + ((x = x * 1103515245 + 12345) >> 24) % 26;
    std::string text = folder.Write("input.txt", noise);
    ExpectFailure(folder, folder.Run({"--description", "@" + text, folder / "app"}), "59996");
}

TEST(Command, AMissingInputIsAnError)
{
    PackFolder folder;
    ExpectFailure(folder, folder.Run({folder / "app", folder / "nowhere"}), "nowhere");
}

TEST(Command, AMissingStubIsAnErrorNamingIt)
{
    PackFolder folder;
    Result result = Pack({"-o", folder.output, "--stub", folder / "no-stub.exe", folder / "app"});
    ExpectFailure(folder, result, "no-stub.exe");
}

TEST(Command, BadOptionsAreErrors)
{
    PackFolder folder;
    // Exit code 2: the command line itself; 1: a value the stub can't take.
    ExpectFailure(folder, folder.Run({"--level", "13", folder / "app"}), "--level", 2);
    ExpectFailure(folder, folder.Run({"--dest", "elsewhere", folder / "app"}), "--dest", 2);
    ExpectFailure(folder, folder.Run({"--dest", "fixed:C:\\" + std::string(257, 'p'), folder / "app"}), "259");
    ExpectFailure(folder, folder.Run({"--frobnicate", folder / "app"}), "--frobnicate", 2);
    ExpectFailure(folder, folder.Run({"--about"}), "--about needs a value", 2);
    ExpectFailure(folder, folder.Run({"--codepage", "65001", folder / "app"}), "65001", 2);
    ExpectFailure(folder, folder.Run({"--mtime", "2024-02-30", folder / "app"}), "not a day", 2);
    ExpectFailure(folder, Pack({"--version", "extra"}), "--version takes nothing else", 2);
    ExpectFailure(folder, folder.Run({}), "no inputs", 2);
    ExpectFailure(folder, Pack({"--stub", folder.stub, folder / "app"}), "-o", 2);
}

// The stub joins these into buffers of 260 characters: 259 and a zero.
TEST(Command, TextsTheStubJoinsIntoAPathBufferMustFitIt)
{
    PackFolder folder;
    std::string fixed = "fixed:C:\\" + std::string(200, 'p');  // 203 bytes, 204 with its backslash
    folder.Write("app/" + std::string(51, 'n'), "x");         // app/nnn...: 55 bytes
    EXPECT_EQ(folder.Run({"--dest", fixed, folder / "app"}).code, 0);
    std::filesystem::remove(folder.output);
    folder.Write("app/" + std::string(52, 'm'), "x");
    ExpectFailure(folder, folder.Run({"--dest", fixed, folder / "app"}), "app/" + std::string(52, 'm'));

    PackFolder other;
    EXPECT_EQ(other.Run({"--run", std::string(259, 'r'), "--wait-file", std::string(259, 'w'), other / "app"}).code,
              0);
    std::filesystem::remove(other.output);
    ExpectFailure(other, other.Run({"--run", std::string(40000, 'r'), other / "app"}), "--run");
    ExpectFailure(other, other.Run({"--run", "x", "--wait-file", std::string(260, 'w'), other / "app"}),
                  "--wait-file");
    ExpectFailure(other, other.Run({"--run", "x", "--wait-file", std::string(56, 'w'), "--dest",
                                    "fixed:C:\\" + std::string(200, 'p'), other / "app"}),
                  "--wait-file");
}

// A fixed folder ending in U+8868, whose trail byte is 0x5C in code page 932,
// still gets its backslash before a name.
TEST(Command, AFixedFolderEndingInATrailByte5CStillTakesABackslash)
{
    PackFolder folder;
    std::string fixed = "fixed:C:\\" + std::string(253, 'p') + "\xE8\xA1\xA8";  // 258 bytes in code page 932
    ExpectFailure(folder, folder.Run({"--codepage", "932", "--dest", fixed, "--run", "x", "--wait-file", "w",
                                      folder / "app"}),
                  "260 bytes");
}

TEST(Command, NamesEqualButForCaseAreAnError)
{
    PackFolder folder;
    folder.Write("app/README.TXT", "x");
    ExpectFailure(folder, folder.Run({folder / "app"}), "readme.txt");
}

TEST(Command, NamesEqualButForCaseBeyondAsciiAreAnErrorNamingBoth)
{
    PackFolder folder;
    folder.Write("app/\xC3\x89t\xC3\xA9.txt", "upper");
    folder.Write("app/\xC3\xA9t\xC3\xA9.txt", "lower");
    Result result = folder.Run({"--codepage", "1252", folder / "app"});
    ExpectFailure(folder, result, folder / "app/\xC3\xA9t\xC3\xA9.txt and " + folder / "app/\xC3\x89t\xC3\xA9.txt");
}

TEST(Command, AnEarlierOutputInsideAnInputIsNotPacked)
{
    PackFolder folder;
    std::string inside = folder / "app/setup.exe";
    Result first = Pack({"-o", inside, "--stub", folder.stub, folder / "app"});
    ASSERT_EQ(first.code, 0) << first.err;
    Result second = Pack({"-o", inside, "--stub", folder.stub, "--force", folder / "app"});
    ASSERT_EQ(second.code, 0) << second.err;
    for (auto &e : CentralDirectory(pack::ReadWholeFile(inside)))
        EXPECT_NE(e.name, "app/setup.exe");
}

TEST(Command, AnExistingOutputIsReplacedOnlyWithForce)
{
    PackFolder folder;
    folder.Write("out.exe", "an earlier image");
    chmod(folder.output.c_str(), 0444);
    Result refused = folder.Run({folder / "app"});
    EXPECT_EQ(refused.code, 1);
    EXPECT_NE(refused.err.find(folder.output + ": exists; give --force"), std::string::npos) << refused.err;
    Bytes kept = pack::ReadWholeFile(folder.output);
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "an earlier image");

    Result forced = folder.Run({"--force", folder / "app"});
    ASSERT_EQ(forced.code, 0) << forced.err;
    EXPECT_EQ(Get32(pack::ReadWholeFile(folder.output), 0) & 0xFFFF, 0x5A4Du) << "MZ: the new image";
    EXPECT_EQ(folder.List().size(), 3u) << "stub, app and the image; no temporary file";
}

TEST(Command, AMissingOutputFolderIsRefusedBeforeAnythingIsRead)
{
    PackFolder folder;
    Result result = Pack({"-o", folder / "nowhere/out.exe", "--stub", folder.stub, folder / "app"});
    EXPECT_EQ(result.code, 1);
    EXPECT_NE(result.err.find("the folder " + folder / "nowhere" + " does not exist"), std::string::npos)
        << result.err;
}

// No spelling of an input's file as the output replaces it, with or without
// --force; the refusal names it.
TEST(Command, AnOutputThatIsAFileOfAnInputIsRefusedAndTheFileKept)
{
    PackFolder folder;
    std::string source = folder.Write("app/main.c", "int main;");
    std::filesystem::create_directory_symlink(folder / "app", folder / "input-link");
    for (const std::string &output : {folder / "app/main.c", folder / "app/../app/main.c", folder / "input-link/main.c"})
        for (bool force : {false, true}) {
            std::vector<std::string> args = {"-o", output, "--stub", folder.stub, folder / "app"};
            if (force)
                args.push_back("--force");
            Result result = Pack(args);
            EXPECT_EQ(result.code, 1) << output;
            EXPECT_NE(result.err.find(source + ": is the output (-o " + output + ")"), std::string::npos) << result.err;
            EXPECT_EQ(pack::ReadWholeFile(source), Bytes({'i', 'n', 't', ' ', 'm', 'a', 'i', 'n', ';'}));
        }
    EXPECT_EQ(folder.List().size(), 3u) << "stub, app and the link; no temporary file";
}

TEST(Command, ForceReplacesOnlyARegularFile)
{
    PackFolder folder;
    ASSERT_EQ(mkfifo(folder.output.c_str(), 0644), 0);
    Result result = folder.Run({"--force", folder / "app"});
    EXPECT_EQ(result.code, 1);
    EXPECT_NE(result.err.find("is not a regular file"), std::string::npos) << result.err;
    struct stat st;
    ASSERT_EQ(lstat(folder.output.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// The packer's temporary files, anywhere in the inputs, are never packed.
// Beside the output only what the packer can prove is its own goes, and
// only once the new image is in place: a regular file of its exact name, of
// a process that is gone, holding an image's beginning. An earlier
// NAME.tmp-XXXXXX is a user's file, packed as any other.
TEST(Command, TemporaryFilesAreNeverPackedAndOnlyProvenStaleOnesRemoved)
{
    PackFolder folder;
    pid_t gone = fork();
    if (gone == 0)
        _exit(0);
    ASSERT_EQ(waitpid(gone, nullptr, 0), gone);
    std::string output = folder / "app/setup.exe", tag = pack::kTemporaryTag, pid = std::to_string(gone);
    Bytes image = ImageAround(Bytes(100, 'c'));
    std::string stale = folder.Write("app/setup.exe" + tag + pid + "-a1B2c3", image);
    std::vector<std::string> kept = {
        folder.Write("app/setup.exe" + tag + pid + "-b1B2c3", "partial"),        // no image
        folder.Write("app/setup.exe" + tag + "0" + pid + "-c1B2c3", image),      // not a pid as written
        folder.Write("app/setup.exe" + tag + "1-d1B2c3", image),                 // the system's own
        folder.Write("app/setup.exe" + tag + "x" + tag + pid + "-e1B2c3", image),  // not the output's name
        folder.Write("app/other.exe" + tag + pid + "-f1B2c3", image),            // another output's
        folder.Write("app/bin/other.exe" + tag + std::to_string(getpid()) + "-Zz9Yy8", "partial"),  // alive
    };
    std::string backup = folder.Write("app/setup.exe.tmp-backup", image);
    ASSERT_EQ(symlink(stale.c_str(), (folder / "app/setup.exe" + tag + pid + "-g1B2c3").c_str()), 0);
    kept.push_back(folder / "app/setup.exe" + tag + pid + "-g1B2c3");  // a link, even to one of them

    Result refused = Pack({"-o", output, "--stub", folder.stub, folder / "app", folder / "missing"});
    ASSERT_EQ(refused.code, 1) << refused.err;
    EXPECT_TRUE(std::filesystem::exists(stale)) << "a refused run removes nothing";

    Result result = Pack({"-o", output, "--stub", folder.stub, folder / "app"});
    ASSERT_EQ(result.code, 0) << result.err;
    bool backupPacked = false;
    for (const CentralEntry &e : CentralDirectory(pack::ReadWholeFile(output))) {
        EXPECT_EQ(e.name.find(tag), std::string::npos) << e.name;
        backupPacked |= e.name == "app/setup.exe.tmp-backup";
    }
    EXPECT_TRUE(backupPacked);
    EXPECT_FALSE(std::filesystem::exists(stale));
    EXPECT_TRUE(std::filesystem::exists(backup));
    for (const std::string &path : kept)
        EXPECT_TRUE(std::filesystem::is_symlink(path) || std::filesystem::exists(path)) << path;
}

// A link within the inputs is packed as what it leads to (-v says so); one
// leading outside is refused naming both unless --follow-links; dangling
// links and loops are refused as such.
TEST(Command, LinksArePackedAsWhatTheyLeadToWithinTheInputsOnly)
{
    struct Case {
        const char *link, *target, *refusal;  // refusal null: packed
        bool follow;
    } cases[] = {
        {"app/bin/readme", "../readme.txt", nullptr, false},
        {"app/tools", "bin", nullptr, false},
        {"app/passwd", "/etc/passwd", "app/passwd: a link to /etc/passwd, outside the inputs; give --follow-links",
         false},
        {"app/passwd", "/etc/passwd", nullptr, true},
        {"app/gone", "nowhere", "app/gone: a link to nowhere, which does not exist", false},
        {"app/self", "self", "app/self: a link to self, which leads round in a loop", false},
        {"app/bin/up", "..", "app/bin/up: a link that leads back into a folder that contains it", false},
    };
    for (const Case &c : cases) {
        PackFolder folder;
        ASSERT_EQ(symlink(c.target, (folder / c.link).c_str()), 0);
        std::vector<std::string> args = {"-v", folder / "app"};
        if (c.follow)
            args.push_back("--follow-links");
        Result result = folder.Run(args);
        if (c.refusal) {
            ExpectFailure(folder, result, folder / c.refusal);
            continue;
        }
        ASSERT_EQ(result.code, 0) << c.link << "\n" << result.err;
        EXPECT_NE(result.out.find("  (through the link " + folder / c.link + ")"), std::string::npos) << result.out;
        std::string output;
        EXPECT_EQ(Shell("unzip -tq '" + folder.output + "'", &output), 0) << output;
    }
}

// Every refusal of the walk, a line each and the count at the end; beyond
// 50 lines only how many more.
TEST(Command, EveryRefusalIsReportedTogether)
{
    PackFolder folder;
    for (const char *name : {"app/CON", "app/x:y", "app/A/a", "app/a", "app/README.TXT"})
        folder.Write(name, "x");
    Result result = folder.Run({folder / "app", folder / "app"});
    for (const std::string &line :
         {std::string("app/CON: \"CON\" is the name of a device"), std::string("app/x:y: the name holds a character"),
          folder / "app/a and " + folder / "app/A: a file and a folder of the same name",
          folder / "app/readme.txt and " + folder / "app/README.TXT: Windows takes the two names",
          folder / "app: the same input given twice", std::string("5 refusals; nothing was written")})
        EXPECT_NE(result.err.find("brevant-pack: " + line), std::string::npos) << line << "\n" << result.err;
    ExpectFailure(folder, result, "refusals");

    PackFolder many;
    for (int i = 0; i < 60; i++)
        many.Write("app/bad" + std::to_string(i) + ".", "x");
    result = many.Run({many / "app"});
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 52) << result.err;
    EXPECT_NE(result.err.find("... and 10 more\nbrevant-pack: 60 refusals"), std::string::npos) << result.err;
}

// Names in messages as --describe shows them: control characters and bytes
// that are not UTF-8 escaped, everything else as it is.
TEST(Command, MessagesEscapeWhatATerminalWouldTakeAsControls)
{
    struct {
        const char *raw, *shown;
    } cases[] = {{"a\x1B[31mred", "a\\x1B[31mred"}, {"new\nline\t", "new\\nline\\t"},
                 {"caf\xC3\xA9 \xE6\x97\xA5", "caf\xC3\xA9 \xE6\x97\xA5"}, {"bad\xFF\xC3", "bad\\xFF\\xC3"},
                 {"csi\xC2\x9B", "csi\\xC2\\x9B"}, {"over\xC0\xAF", "over\\xC0\\xAF"}, {"sur\xED\xA0\x80", "sur\\xED\\xA0\\x80"}};
    for (auto &c : cases)
        EXPECT_EQ(pack::Printable(c.raw), c.shown) << c.shown;
    PackFolder folder;
    folder.Write("app/a\x1B]0;title\x07", "x");
    Result result = folder.Run({folder / "app"});
    EXPECT_NE(result.err.find("app/a\\x1B]0;title\\x07: the name holds"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find('\x1B'), std::string::npos);

    // The progress line's file name: its end, whole characters, within the columns.
    EXPECT_EQ(pack::FitFromEnd("dir/file.txt", 12), "dir/file.txt");
    EXPECT_EQ(pack::FitFromEnd("dir/file.txt", 8), "...e.txt");
    EXPECT_EQ(pack::FitFromEnd("d/\xE6\x97\xA5\xE6\x9C\xAC", 6), "d/\xE6\x97\xA5\xE6\x9C\xAC") << "two columns each";
    EXPECT_EQ(pack::FitFromEnd("d/\xE6\x97\xA5\xE6\x9C\xAC", 5), "...\xE6\x9C\xAC") << "never half a character";
    EXPECT_EQ(pack::FitFromEnd("anything", 3), "");
}

// Option files, icons and stubs are regular files of at most 16 MiB: a
// folder, a FIFO or a device is refused at once, never read or waited on.
TEST(Command, FilesReadWholeMustBeSmallRegularFiles)
{
    PackFolder folder;
    std::string fifo = folder / "input.fifo", big = folder.Write("input.ico", "");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    ASSERT_EQ(truncate(big.c_str(), (off_t)pack::kSmallFileLimit + 1), 0);
    ExpectFailure(folder, folder.Run({"--icon", folder / "app", folder / "app"}), "not a regular file");
    ExpectFailure(folder, folder.Run({"--icon", fifo, folder / "app"}), "not a regular file");
    ExpectFailure(folder, folder.Run({"--icon", "/dev/zero", folder / "app"}), "not a regular file");
    ExpectFailure(folder, folder.Run({"--icon", big, folder / "app"}), "16777217 bytes; at most 16777216");
    ExpectFailure(folder, folder.Run({"@" + fifo, folder / "app"}), "not a regular file");
    ExpectFailure(folder, folder.Run({"--about", "@" + folder / "app", folder / "app"}), "not a regular file");
    ExpectFailure(folder, folder.Run({"@input-missing", folder / "app"}), "written ./@input-missing");
    ExpectFailure(folder, Pack({"-o", folder.output, "--stub", fifo, folder / "app"}), "not a regular file");
    Result described = Pack({"--describe", folder / "app"});
    EXPECT_EQ(described.code, 1);
    EXPECT_NE(described.err.find("app: not a regular file"), std::string::npos) << described.err;
}

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
