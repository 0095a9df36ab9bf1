// The extraction loop and the destination folder routines on the host
// platform: images of hand-made local entries, extracted below a scratch
// drive root, with the prompts answered by the test.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "archive/names.h"
#include "extract/extract.h"
#include "inflate/inflate.h"
#include "messages/messages.h"
#include "host_testing.h"
#include "inflate_support.h"
#include "test_image.h"

namespace fs = std::filesystem;

namespace {

struct Entry {
    std::string name;
    std::string content;
    uint16_t method = 8;
    uint16_t date = (uint16_t)((2019 - 1980) << 9 | 7 << 5 | 14);  // 14 July 2019
    uint16_t time = (uint16_t)(10 << 11 | 30 << 5 | 8);           // 10:30:16
    bool badCrc = false;
    uint32_t claimedSize = 0;  // the uncompressed size stored; 0: the real one
    uint32_t claimedCompressed = 0;  // the compressed size stored; 0: the real one
    uint16_t flags = 0;              // the general-purpose flags (ZIP_FLAG_UTF8)
};

std::vector<uint8_t> Deflate(const std::string &data)
{
    return inflate_test::ZlibDeflate(std::vector<uint8_t>(data.begin(), data.end()), 9, 15,
                                     Z_DEFAULT_STRATEGY);
}

// A stub's worth of filler, then the local entries.
std::vector<uint8_t> Locals(const std::vector<Entry> &entries)
{
    std::vector<uint8_t> out(512, 'x');
    for (const Entry &e : entries) {
        std::vector<uint8_t> data(e.content.begin(), e.content.end());
        if (e.method == 8)
            data = Deflate(e.content);
        uint32_t crc = (uint32_t)crc32(0, (const Bytef *)e.content.data(), (uInt)e.content.size());
        Put32(out, 0x04034B50);
        Put16(out, 20);
        Put16(out, e.flags);
        Put16(out, e.method);
        Put16(out, e.time);
        Put16(out, e.date);
        Put32(out, e.badCrc ? crc ^ 1 : crc);
        Put32(out, e.claimedCompressed ? e.claimedCompressed : (uint32_t)data.size());
        Put32(out, e.claimedSize ? e.claimedSize : (uint32_t)e.content.size());
        Put16(out, (uint16_t)e.name.size());
        Put16(out, 0);
        out.insert(out.end(), e.name.begin(), e.name.end());
        out.insert(out.end(), data.begin(), data.end());
    }
    return out;
}

// The local entries, their central directory and the end record.
std::vector<uint8_t> Image(const std::vector<Entry> &entries)
{
    std::vector<uint8_t> out = Locals(entries);
    AppendDirectory(out, 512);
    return out;
}

// Stored bytes as the host's code page reads them (Latin-1, or its
// stand-in for 932 with HostDoubleByte), in UTF-8: how prompts and files
// on the host show a name without bit 11.
std::string AsShown(const std::string &bytes)
{
    std::vector<char16_t> wide(bytes.size() + 1);
    DecodeStored(bytes.c_str(), (uint32_t)bytes.size(), false, false, wide.data());
    return HostUtf8(wide.data());
}

std::string ReadFile(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every path below root, relative to it, '/'-separated, folders with a '/'.
std::vector<std::string> Tree(const fs::path &root)
{
    std::vector<std::string> names;
    for (auto &item : fs::recursive_directory_iterator(root)) {
        std::string name = fs::relative(item.path(), root).string();
        if (item.is_directory() && !item.is_symlink())
            name += "/";
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

class Extract : public ::testing::Test {
protected:
    void SetUp() override
    {
        char name[] = "/tmp/brevant-extract-XXXXXX";
        root_ = mkdtemp(name);
        fs::create_directories(root_ / "C" / "dest");
        fs::create_directories(root_ / "C" / "temp");
        HostDriveRoot = root_.string();
        HostTempFolder = "C:\\temp\\";
        HostDoubleByte = false;
        HostThrowOnExit();
        HostResetBoxes();
        OutputWindow = window_;
        InputBuffer = input_;
        MakeCrcTable();
        InternalErrorText = LoadResString(IDS_INTERNAL_ERROR);
        MainWindow = nullptr;
        MessageCaption = u"";
    }
    void TearDown() override
    {
        chdir("/");
        HostDriveRoot.clear();
        HostDoubleByte = false;
        HostWritesUntilFailure = -1;
        fs::remove_all(root_);
    }

    // Checks and extracts the image into destination, as start-up and the
    // dialog do; the buffer as ExtractAll left it.
    std::string Run(const std::vector<Entry> &entries, const char *destination = "C:\\dest",
                    int overwrite = 0)
    {
        TempImage image(Image(entries));
        SetPath(destination);
        CheckImageArchive();
        ExtractAll(path_, overwrite);
        return HostUtf8(path_);
    }
    // The same for an image's bytes, into C:\dest made afresh, replacing
    // without asking; the exit code, 0 when the run returned.
    int RunImage(const std::vector<uint8_t> &image)
    {
        fs::remove_all(Dest());
        fs::create_directories(Dest());
        HostResetBoxes();
        TempImage file(image);
        SetPath("C:\\dest");
        try {
            CheckImageArchive();
            ExtractAll(path_, 1);
        } catch (const HostExit &e) {
            return (int)e.code;
        }
        return 0;
    }
    // The destination buffer holding a UTF-8 path.
    void SetPath(const std::string &path)
    {
        std::u16string wide = HostUtf16(path);
        memcpy(path_, wide.c_str(), (wide.size() + 1) * 2);
    }
    fs::path Dest() const { return root_ / "C" / "dest"; }
    std::vector<std::string> BoxTexts() const
    {
        std::vector<std::string> texts;
        for (const HostBox &box : HostBoxes)
            texts.push_back(box.text);
        return texts;
    }

    fs::path root_;
    char16_t path_[PATH_CHARS];
    // Static: the decoder keeps pointing at them after the test, as later
    // tests in the same process may rely on.
    static inline uint8_t window_[WINDOW_SIZE];
    static inline uint8_t input_[INPUT_SIZE];
};

TEST_F(Extract, WritesTheTreeAndLeavesTheDestinationWithItsBackslash)
{
    std::string big(200000, 0);
    for (size_t i = 0; i < big.size(); i++)
        big[i] = (char)("abcdefgh"[i % 8] + (i / 1000) % 7);
    std::string left = Run({{"docs/", "", 0},
                            {"a/b/c.txt", "deep"},
                            {"a/b/d.txt", "next"},   // its folders made already
                            {"a/e/f.txt", "other"},  // a folder as long as the last
                            {"stored.bin", "plain bytes", 0},
                            {"big.dat", big},
                            {"empty", "", 0},
                            {"skipped.xz", "never", 14}});
    EXPECT_EQ(left, "C:\\dest\\");
    EXPECT_EQ(Tree(Dest()), (std::vector<std::string>{"a/", "a/b/", "a/b/c.txt", "a/b/d.txt",
                                                      "a/e/", "a/e/f.txt", "big.dat", "docs/",
                                                      "empty", "stored.bin"}));
    EXPECT_EQ(ReadFile(Dest() / "a/b/c.txt"), "deep");
    EXPECT_EQ(ReadFile(Dest() / "stored.bin"), "plain bytes");
    EXPECT_EQ(ReadFile(Dest() / "big.dat"), big);
    // The one entry that could not be decoded is named; the run is partial.
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Couldn't verify skipped.xz."});
    EXPECT_TRUE(ExtractionIncomplete);
    EXPECT_EQ(ProgressDone, big.size() + 4 + 4 + 5 + 11);
    EXPECT_EQ(ProgressTotal, big.size() + 4 + 4 + 5 + 11 + 5);
    EXPECT_EQ(CurrentName, nullptr);

    Run({{"again.txt", "whole"}}, "C:\\dest", 1);
    EXPECT_FALSE(ExtractionIncomplete);
}

// The archive with the directory of another: the local entries of locals,
// then the records and end record of directory, whose end record is made to
// say where its directory now lies.
std::vector<uint8_t> WithDirectoryOf(const std::vector<uint8_t> &locals,
                                     const std::vector<uint8_t> &directory)
{
    size_t localEnd = Get32At(locals, locals.size() - 6);
    size_t from = Get32At(directory, directory.size() - 6);
    std::vector<uint8_t> out(locals.begin(), locals.begin() + localEnd);
    out.insert(out.end(), directory.begin() + from, directory.end());
    size_t offset = out.size() - 6;
    out.resize(offset);
    Put32(out, (uint32_t)localEnd);
    Put16(out, 0);
    return out;
}

void Poke16(std::vector<uint8_t> &image, size_t at, uint16_t v)
{
    image[at] = (uint8_t)v;
    image[at + 1] = (uint8_t)(v >> 8);
}

void Poke32(std::vector<uint8_t> &image, size_t at, uint32_t v)
{
    Poke16(image, at, (uint16_t)v);
    Poke16(image, at + 2, (uint16_t)(v >> 16));
}

// The archive is checked whole against its central directory before
// anything is created: every kind of damage, a download cut anywhere, and
// what the directory does not vouch for end the run with exit code 1 and
// nothing written.
TEST_F(Extract, AnArchiveThatDisagreesWithItsDirectoryWritesNothing)
{
    const std::vector<Entry> three = {{"first", "1"}, {"second", "22"}, {"third", "333", 0}};
    const std::vector<uint8_t> whole = Image(three);
    const size_t second = 512 + 30 + 5 + Deflate("1").size();
    const size_t end = whole.size() - 22;  // the end record
    const size_t directory = Get32At(whole, end + 16);
    const size_t secondRecord = directory + 46 + 5;
    auto changed = [&](std::function<void(std::vector<uint8_t> &)> change) {
        std::vector<uint8_t> image = whole;
        change(image);
        return image;
    };
    auto cut = [&](size_t size) { return std::vector<uint8_t>(whole.begin(), whole.begin() + size); };

    // Data that holds "PK\1\2", the local sizes and CRC-32 cut to the bytes
    // before it: the walk would take the rest for the directory.
    std::string held = std::string("kept") + "PK\1\2" + std::string(40, 'd');
    std::vector<uint8_t> fakeEnd = Image({{"held.bin", held, 0}, {"after", "a"}});
    Poke32(fakeEnd, 512 + 14, (uint32_t)crc32(0, (const Bytef *)"kept", 4));
    Poke32(fakeEnd, 512 + 18, 4);
    Poke32(fakeEnd, 512 + 22, 4);
    Entry described{"described", "with a data descriptor"};
    described.flags = 8;
    Entry huge{"huge.bin", "only this", 0};  // both sizes far beyond the image
    huge.claimedCompressed = 0xFFFFFFFFu;
    huge.claimedSize = 0x20000000u;
    std::vector<uint8_t> twoEnds = whole;
    twoEnds.insert(twoEnds.end(), whole.end() - 22, whole.end());
    std::vector<uint8_t> between = whole;  // bytes between the directory and the end record
    between.insert(between.begin() + (long)end, 5, 'b');
    Poke32(between, between.size() - 10, (uint32_t)(end - directory + 5));

    struct Case {
        const char *what;
        std::vector<uint8_t> image;
    };
    std::vector<Case> cases = {
        {"a local signature made the directory's", changed([&](auto &i) { i[second + 2] = 1, i[second + 3] = 2; })},
        {"a local signature made the end record's", changed([&](auto &i) { i[second + 2] = 5, i[second + 3] = 6; })},
        {"data that holds the directory's signature", fakeEnd},
        {"a byte of a local name", changed([&](auto &i) { i[512 + 30] ^= 1; })},
        {"bit 11 in a local header", changed([&](auto &i) { i[second + 7] ^= 8; })},
        {"the method in a local header", changed([&](auto &i) { i[512 + 8] = 0; })},
        {"the CRC-32 in a record", changed([&](auto &i) { i[secondRecord + 16] ^= 1; })},
        {"the compressed size in a local header", changed([&](auto &i) { i[512 + 18] += 3; })},
        {"the size in a record", changed([&](auto &i) { i[secondRecord + 24] ^= 1; })},
        {"a record's offset", changed([&](auto &i) { i[secondRecord + 42] ^= 1; })},
        {"a record whose local entry is gone", WithDirectoryOf(Image({three[0], three[1]}), whole)},
        {"a local entry that no record lists", WithDirectoryOf(whole, Image({three[0], three[1]}))},
        {"a name over 250 bytes", Image({{"first", "1"}, {std::string(251, 'n'), "2"}})},
        {"a data descriptor", Image({{"plain", "p"}, described})},
        {"a ZIP64 size", Image({huge})},
        {"a ZIP64 disk", changed([&](auto &i) { Poke16(i, end + 6, 0xFFFF); })},
        {"a count of 0xFFFF", changed([&](auto &i) { Poke16(i, end + 8, 0xFFFF), Poke16(i, end + 10, 0xFFFF); })},
        {"a count of 0", changed([&](auto &i) { Poke16(i, end + 8, 0), Poke16(i, end + 10, 0); })},
        {"a directory offset inside the configuration", changed([&](auto &i) { Poke32(i, end + 16, 100); })},
        {"a record's signature", changed([&](auto &i) { i[secondRecord + 3] = 9; })},
        {"bytes between the directory and the end record", between},
        {"the end record's signature", changed([&](auto &i) { i[end + 3] = 7; })},
        {"a comment that runs past the end", changed([&](auto &i) { i[end + 20] = 1; })},
        {"1,000 bytes after the end record", [&] { auto i = whole; i.resize(i.size() + 1000, 'g'); return i; }()},
        {"a second end record behind the first", twoEnds},
        {"cut before the end record", cut(end)},
        {"cut inside the end record", cut(end + 12)},
        {"cut inside the directory", cut(directory + 20)},
        {"cut before the directory", cut(directory)},
        {"cut inside a header", cut(second + 17)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(RunImage(c.image), 1);
        EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Error reading from archive."});
        EXPECT_EQ(Tree(Dest()), std::vector<std::string>{});
    }
    EXPECT_EQ(RunImage(whole), 0);
    EXPECT_EQ(Tree(Dest()), (std::vector<std::string>{"first", "second", "third"}));
}

// What the directory vouches for extracts: offsets counted from the
// archive's own start, a comment (holding an end record's bytes), an end
// record inside an entry's data.
TEST_F(Extract, ArchivesThatAgreeWithTheirDirectoryExtract)
{
    const std::vector<Entry> two = {{"one.txt", "1"}, {"two.txt", "22", 0}};
    std::vector<uint8_t> fromItsStart = Locals(two);
    AppendDirectory(fromItsStart, 512, 512);
    std::vector<uint8_t> commented = Image(two);
    std::vector<uint8_t> comment = {'P', 'K', 5, 6};
    comment.resize(22, 0);
    comment.insert(comment.end(), {'e', 'n', 'd'});
    commented.insert(commented.end(), comment.begin(), comment.end());
    Poke16(commented, commented.size() - comment.size() - 2, (uint16_t)comment.size());
    std::vector<uint8_t> inner = Image({{"inner", "i", 0}});
    std::vector<uint8_t> nested =
        Image({{"inner.zip", std::string(inner.begin() + 512, inner.end()), 0}, {"last", "l"}});

    for (const auto &image : {fromItsStart, commented}) {
        EXPECT_EQ(RunImage(image), 0);
        EXPECT_EQ(Tree(Dest()), (std::vector<std::string>{"one.txt", "two.txt"}));
        EXPECT_EQ(ReadFile(Dest() / "two.txt"), "22");
    }
    EXPECT_EQ(RunImage(nested), 0);
    EXPECT_EQ(Tree(Dest()), (std::vector<std::string>{"inner.zip", "last"}));
    EXPECT_TRUE(HostBoxes.empty());
}

// A signed image: the archive ends where the certificate table begins,
// after signing's padding of up to 7 bytes; a table that lies outside the
// file is none.
TEST_F(Extract, ASignedImagesArchiveEndsAtItsCertificateTable)
{
    // MZ, the PE header at 64, SizeOfHeaders 512, 16 data directories.
    std::vector<uint8_t> pe(512, 0);
    pe[0] = 'M', pe[1] = 'Z', pe[0x3C] = 64;
    pe[64] = 'P', pe[65] = 'E';
    Poke16(pe, 88, 0x10B);
    Poke32(pe, 64 + 84, 512);
    Poke32(pe, 88 + 92, 16);
    auto image = [&](size_t padding, uint32_t table) {
        std::vector<uint8_t> out = Image({{"signed.txt", "sealed"}});
        std::copy(pe.begin(), pe.end(), out.begin());
        out.resize(out.size() + padding, 0);
        Poke32(out, 88 + 96 + 32, table ? table : (uint32_t)out.size());
        Poke32(out, 88 + 96 + 36, 100);
        out.resize(out.size() + 100, 0x30);  // the certificate table
        return out;
    };
    for (size_t padding : {0, 3, 7}) {
        SCOPED_TRACE(padding);
        EXPECT_EQ(RunImage(image(padding, 0)), 0);
        EXPECT_EQ(ReadFile(Dest() / "signed.txt"), "sealed");
    }
    EXPECT_EQ(RunImage(image(8, 0)), 1);  // more than signing adds
    std::vector<uint8_t> unsigned_ = Image({{"plain.txt", "p"}});
    std::copy(pe.begin(), pe.end(), unsigned_.begin());
    Poke32(unsigned_, 88 + 96 + 32, 0x04034B50);  // "PK\3\4", far beyond the file
    Poke32(unsigned_, 88 + 96 + 36, 1024);
    EXPECT_EQ(RunImage(unsigned_), 0);
    EXPECT_EQ(RunImage(image(0, 0x7FFFFFFF)), 1);  // the table's bytes then follow the end record
    EXPECT_EQ(Tree(Dest()), std::vector<std::string>{});
}

// Stamped after the data is written, so that the write does not move the
// time again; converted from local time.
TEST_F(Extract, StampsNewFilesWithTheEntrysLocalTime)
{
    setenv("TZ", "America/New_York", 1);
    tzset();
    Run({{"stamped.txt", std::string(100000, 's')}});
    struct tm local = {};
    local.tm_year = 2019 - 1900;
    local.tm_mon = 6;
    local.tm_mday = 14;
    local.tm_hour = 10;
    local.tm_min = 30;
    local.tm_sec = 16;
    local.tm_isdst = -1;
    time_t expected = mktime(&local);
    struct stat info;
    ASSERT_EQ(stat((Dest() / "stamped.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtime, expected);
    EXPECT_EQ(expected, 1563114616);  // 14:30:16 UTC: four hours of daylight time
    unsetenv("TZ");
    tzset();
}

TEST_F(Extract, AsksBeforeReplacingAndKeepsWhatTheUserKeeps)
{
    std::ofstream(Dest() / "keep.txt") << "old";
    std::ofstream(Dest() / "swap.txt") << "old";
    HostBoxAnswers = {IDNO, IDYES};
    Run({{"keep.txt", "new"}, {"swap.txt", "new"}});
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"keep.txt exists. Replace?",
                                                    "swap.txt exists. Replace?"}));
    EXPECT_EQ(ReadFile(Dest() / "keep.txt"), "old");
    EXPECT_EQ(ReadFile(Dest() / "swap.txt"), "new");

    HostResetBoxes();
    Run({{"keep.txt", "newer"}}, "C:\\dest", 1);
    EXPECT_TRUE(HostBoxes.empty());
    EXPECT_EQ(ReadFile(Dest() / "keep.txt"), "newer");

    HostBoxAnswers = {IDCANCEL};
    EXPECT_THROW(Run({{"keep.txt", "x"}, {"after.txt", "x"}}), HostExit);
    EXPECT_FALSE(fs::exists(Dest() / "after.txt"));
}

TEST_F(Extract, ReportsBadEntriesAndGoesOn)
{
    Entry badCrc{"crc.txt", "content"};
    badCrc.badCrc = true;
    Entry garbage{"garbage.bin", "stored bytes labelled deflated", 0};
    // A stored entry that claims a gigabyte but holds five bytes.
    Entry claims{"claims.bin", "small", 0};
    claims.claimedSize = 1u << 30;
    std::vector<uint8_t> image = Locals({badCrc, garbage, claims, {"next.txt", "x"}});
    // Relabel the second entry's method: its stored bytes go to the inflater.
    size_t second = 512 + 30 + badCrc.name.size() + Deflate(badCrc.content).size();
    image[second + 8] = 8;
    AppendDirectory(image, 512);
    EXPECT_EQ(RunImage(image), 0);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Couldn't verify crc.txt.",
                                                    "Couldn't verify garbage.bin.",
                                                    "Couldn't verify claims.bin."}));
    EXPECT_EQ(fs::file_size(Dest() / "claims.bin"), 5u);
    EXPECT_EQ(ReadFile(Dest() / "next.txt"), "x");
}

// Every cut and every damaged header byte of a small archive, local or
// central: a cut archive and a run that ends with a fatal report write
// nothing, and a run that ends without one and without a failed entry has
// written every entry whole.
TEST_F(Extract, NoCutOrDamagedHeaderPassesForACompleteRun)
{
    const std::vector<Entry> entries = {
        {"one.txt", std::string(3000, '1')}, {"sub/two.bin", "stored bytes", 0}, {"three", "3"}};
    const std::vector<uint8_t> whole = Image(entries);
    const size_t directory = Get32At(whole, whole.size() - 6);
    for (size_t cut = 512; cut < whole.size(); cut++) {
        ASSERT_EQ(RunImage(std::vector<uint8_t>(whole.begin(), whole.begin() + cut)), 1) << cut;
        ASSERT_EQ(Tree(Dest()), std::vector<std::string>{}) << cut;
    }
    std::vector<size_t> damaged;
    for (size_t at = 512; at < directory;) {
        for (size_t field = 4; field < 30; field++)  // every header byte but the signature
            damaged.push_back(at + field);
        uint32_t nameLength = whole[at + 26] | whole[at + 27] << 8;
        at += 30 + nameLength + Get32At(whole, at + 18);
    }
    for (size_t at = directory; at < whole.size(); at++)
        damaged.push_back(at);
    int complete = 0;
    for (size_t at : damaged) {
        std::vector<uint8_t> image = whole;
        image[at] ^= 0x5A;
        if (RunImage(image) != 0) {
            ASSERT_EQ(Tree(Dest()), std::vector<std::string>{}) << at;
            continue;
        }
        if (ExtractionIncomplete)
            continue;
        complete++;
        for (const Entry &e : entries)
            ASSERT_EQ(ReadFile(Dest() / e.name), e.content) << e.name << ", byte " << at;
    }
    EXPECT_GT(complete, 0);  // the damaged times, for one, still extract everything
}

// A file whose data did not reach the disk is no good entry: a full disk is
// named as such, with the choice to go on or stop.
TEST_F(Extract, ReportsAFailedWriteAsAFullDisk)
{
    HostWritesUntilFailure = 0;
    Run({{"unwritten.txt", "lost on a full disk"}, {"next.txt", "x"}});
    const std::string full = ". The disk may be full. Click OK to continue, or Cancel to exit immediately.";
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Couldn't write unwritten.txt" + full,
                                                    "Couldn't write next.txt" + full}));
    EXPECT_EQ(HostBoxes[0].type, (unsigned)(MB_OKCANCEL | MB_ICONWARNING));
    EXPECT_TRUE(ExtractionIncomplete);

    HostResetBoxes();
    HostBoxAnswers = {IDCANCEL};
    EXPECT_THROW(Run({{"unwritten.txt", "x"}, {"after.txt", "x"}}), HostExit);
    EXPECT_FALSE(fs::exists(Dest() / "after.txt"));
}

// Names that would land outside the destination, open a device or be
// created under another name are refused with the create-failure prompt;
// nothing is written for them.
TEST_F(Extract, RefusesNamesThatWindowsWouldNotCreateAsThemselves)
{
    std::vector<std::string> escapes = {
        "../up.txt",   "..\\up.txt",   "a/../../up.txt", "/root.txt", "\\root.txt", "C:up.txt",
        "ads.txt:hid", "a/.. /up.txt", "a\\...\\up.txt", "nul.txt",   "COM1",       "aux.c",
        "x/Con",       "CON .txt",     "conin$",         "CONOUT$.log", "lpt9.a.b",  "COM\xB9",
        "LPT\xB3.txt", "dot.",         "dirdot./x",      "space ",    "a/./b"};
    std::vector<Entry> entries;
    for (const std::string &name : escapes)
        entries.push_back({name, "escaped"});
    for (const char *name : {"a..b.txt", ".profile", "console.txt", "COM10", "nul_", "LPT0"})
        entries.push_back({name, "ordinary"});
    Run(entries);
    std::vector<std::string> expected;
    for (const std::string &name : escapes)
        expected.push_back("Couldn't create " + AsShown(name) +
                           ". Click OK to continue, or Cancel to exit immediately.");
    EXPECT_EQ(BoxTexts(), expected);
    EXPECT_EQ(Tree(Dest()), (std::vector<std::string>{".profile", "COM10", "LPT0", "a..b.txt",
                                                      "console.txt", "nul_"}));
    EXPECT_EQ(Tree(root_ / "C").size(), 8u);  // dest/, temp/ and the six
    EXPECT_TRUE(ExtractionIncomplete);
}

// Bit 11: the name is UTF-8, created exactly whatever the code page; bytes
// that are not UTF-8 (as a lax decoder would read them, "../" among them)
// refuse the name, shown with U+FFFD for each bad byte.
TEST_F(Extract, Utf8NamesAreCreatedExactlyAndAnythingElseIsRefused)
{
    // 390 bytes in 130 units: within the path (in two parts, each within
    // the host's 255 bytes a name).
    std::string part;
    for (int i = 0; i < 64; i++)
        part += "\xE5\xAD\x97";
    std::string cjk = part + "\xE5\xAD\x97/" + part + "\xE5\xAD\x97";
    const std::vector<std::string> good = {
        "\xE6\x97\xA5\xE6\x9C\xAC/\xE8\xAA\xAC\xE6\x98\x8E.txt",    // Japanese, in a folder
        "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD.txt",              // Greek
        "R\xC3\xA9sum\xC3\xA9.txt", "\xF0\x9F\x98\x80.txt",          // accents, an emoji
        "\xEF\xBC\xA3\xEF\xBC\xAF\xEF\xBC\xAE",                      // fullwidth CON: no device
        "\xE2\x80\xAEtxt.exe", "plain.txt", cjk};
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"\xC0\xAE\xC0\xAE/up.txt", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD/up.txt"},
        {"\xE0\x80\xAE", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"\xED\xA0\x80.txt", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD.txt"},
        {"\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {std::string("nul\0byte.txt", 12), "nul?byte.txt"},
        {"cut\xE6\x97", "cut\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"cr\r\nlf.txt", "cr??lf.txt"}, {"esc\x1B.txt", "esc?.txt"},
        {"made/a<b", "made/a<b"}, {"made/q?.txt", "made/q?.txt"}};
    std::vector<Entry> entries;
    for (const std::string &name : good) {
        entries.push_back({name, "good " + name});
        entries.back().flags = ZIP_FLAG_UTF8;
    }
    for (const auto &[name, shown] : bad) {
        entries.push_back({name, "bad"});
        entries.back().flags = ZIP_FLAG_UTF8;
    }
    Run(entries);
    std::vector<std::string> expected;
    for (const auto &[name, shown] : bad)
        expected.push_back("Couldn't create " + shown +
                           ". Click OK to continue, or Cancel to exit immediately.");
    EXPECT_EQ(BoxTexts(), expected);
    for (const std::string &name : good)
        EXPECT_EQ(ReadFile(Dest() / name), "good " + name) << name;
    EXPECT_EQ(Tree(Dest()).size(), good.size() + 2);  // and two folders
    EXPECT_EQ(Tree(root_ / "C").size(), good.size() + 2 + 2);  // dest/ and temp/
    EXPECT_TRUE(ExtractionIncomplete);
}

// A folder entry is checked like a file, and holds no data; a name that is
// refused leaves none of its folders behind; an empty name names nothing; a
// file cannot be where this run made a folder, nor a folder where it made a
// file.
TEST_F(Extract, FolderEntriesAndEmptyNamesAreCheckedLikeFiles)
{
    const std::vector<std::string> refused = {"../escdir/", "CON/", "dot./", "LPT\xB3/", "data/",
                                              "x/", "", "made/aux", "C:/x/", "ok", "x/in.txt"};
    Run({{"ok/", "", 0}, {"../escdir/", "", 0}, {"CON/", "", 0}, {"dot./", "", 0},
         {"LPT\xB3/", "", 0}, {"data/", "carried", 0}, {"x", "a file"}, {"x/", "", 0},
         {"", "no name", 0}, {"made/aux", "device"}, {"C:/x/", "", 0}, {"ok/in.txt", "in"},
         {"ok", "a file where a folder is"}, {"x/in.txt", "below a file"}});
    std::vector<std::string> expected;
    for (const std::string &name : refused)
        expected.push_back("Couldn't create " + AsShown(name) +
                           ". Click OK to continue, or Cancel to exit immediately.");
    EXPECT_EQ(BoxTexts(), expected);
    EXPECT_EQ(Tree(Dest()), (std::vector<std::string>{"ok/", "ok/in.txt", "x"}));
    EXPECT_EQ(Tree(root_ / "C").size(), 5u);  // dest/, temp/ and the three
    EXPECT_TRUE(ExtractionIncomplete);
}

TEST_F(Extract, RefusesPathsLongerThanTheBuffer)
{
    std::string folder = "C:\\dest\\" + std::string(120, 'd');
    fs::create_directories(Dest() / std::string(120, 'd'));
    std::string fits(259 - folder.size() - 1, 'f');
    std::string tooLong(fits.size() + 1, 'g');
    std::string left = Run({{tooLong, "x"}, {fits, "y"}}, folder.c_str());
    EXPECT_EQ(left, folder + "\\");
    ASSERT_EQ(HostBoxes.size(), 1u);
    EXPECT_EQ(HostBoxes[0].text.substr(0, 16 + tooLong.size()), "Couldn't create " + tooLong);
    EXPECT_EQ(ReadFile(Dest() / std::string(120, 'd') / fits), "y");

    // A destination of 259 characters has no room for its backslash.
    HostResetBoxes();
    std::string full = "C:\\" + std::string(256, 'z');
    Run({{"x", "x"}}, full.c_str());
    EXPECT_EQ(HostBoxes.size(), 1u);
}

// Code page 932: the second byte of U+8868 (0x95 0x5C) is the byte of a
// backslash, and must not split the name or hide a "..".
TEST_F(Extract, StepsThroughDoubleByteNamesByCharacter)
{
    HostDoubleByte = true;
    const std::string hyo = "\x95\x5C", so = "\x83\x5C";
    static std::vector<std::string> shown;
    shown.clear();
    ProgressRefreshHook = [] {
        if (CurrentName && (shown.empty() || shown.back() != HostUtf8(CurrentName)))
            shown.push_back(HostUtf8(CurrentName));
    };
    // A lone lead byte at the end, or one before a byte that cannot follow
    // it ('/'), forms no character: refused, and shown with a '?' for it.
    Run({{hyo + "/" + so + ".txt", "kanji"}, {so + "..b", "dots"}, {"end\x83", "lone"},
         {"a\x83/../x", "misplaced"}});
    ProgressRefreshHook = nullptr;
    EXPECT_EQ(shown, (std::vector<std::string>{AsShown(so + ".txt"), AsShown(so + "..b"), "end?", "x"}));
    const std::string failed = ". Click OK to continue, or Cancel to exit immediately.";
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Couldn't create end?" + failed,
                                                    "Couldn't create a?/../x" + failed}));
    EXPECT_EQ(ReadFile(Dest() / AsShown(hyo) / AsShown(so + ".txt")), "kanji");
    EXPECT_EQ(ReadFile(Dest() / AsShown(so + "..b")), "dots");
    EXPECT_EQ(Tree(Dest()), (std::vector<std::string>{AsShown(so + "..b"), AsShown(hyo) + "/",
                                                      AsShown(hyo + "/" + so + ".txt")}));
    HostResetBoxes();

    // A destination ending in such a character still gets its backslash.
    fs::create_directories(Dest() / "\xE8\xA1\xA8");
    std::string dest = "C:\\dest\\\xE8\xA1\xA8";
    EXPECT_EQ(Run({{"in.txt", "x"}}, dest.c_str()), dest + "\\");
    EXPECT_EQ(ReadFile(Dest() / "\xE8\xA1\xA8" / "in.txt"), "x");
}

TEST(MakeDirs, MakesEveryFolderBeforeABackslashAndRestoresThePath)
{
    HostMadeFolders.clear();
    char16_t path[] = u"C:\\x\\y\\file";
    MakeDirs(path);
    EXPECT_EQ(HostUtf8(path), "C:\\x\\y\\file");
    EXPECT_EQ(HostMadeFolders, (std::vector<std::string>{"C:", "C:\\x", "C:\\x\\y"}));
}

class Folders : public Extract {};

TEST_F(Folders, UniqueTempDirTakesTheFirstFreeNumberUpTo99)
{
    for (int n = 1; n <= 4; n++)
        fs::create_directory(root_ / "C" / "temp" / ("PH0000" + std::to_string(n)));
    char16_t buffer[PATH_CHARS];
    ASSERT_TRUE(MakeUniqueTempDir(buffer));
    EXPECT_EQ(HostUtf8(buffer), "C:\\temp\\PH00005");
    EXPECT_TRUE(fs::is_directory(root_ / "C" / "temp" / "PH00005"));

    for (int n = 6; n <= 99; n++) {
        char name[8];
        snprintf(name, sizeof name, "PH%05d", n);
        fs::create_directory(root_ / "C" / "temp" / name);
    }
    EXPECT_FALSE(MakeUniqueTempDir(buffer));
    EXPECT_EQ(HostUtf8(buffer), "C:\\temp\\PH00100");
    EXPECT_FALSE(fs::exists(root_ / "C" / "temp" / "PH00100"));

    HostTempFolder = "C:\\temp";  // no trailing backslash: exactly one is added
    fs::remove(root_ / "C" / "temp" / "PH00042");
    ASSERT_TRUE(MakeUniqueTempDir(buffer));
    EXPECT_EQ(HostUtf8(buffer), "C:\\temp\\PH00042");
}

TEST_F(Folders, DeleteTreeRemovesLinksButNotWhatTheyPointTo)
{
    fs::path tree = root_ / "C" / "temp" / "PH00001";
    fs::create_directories(tree / "one" / "two");
    std::ofstream(tree / "top.txt") << "x";
    std::ofstream(tree / "one" / "two" / "deep.txt") << "x";
    fs::path outside = root_ / "C" / "keep";
    fs::create_directories(outside);
    std::ofstream(outside / "precious.txt") << "x";
    fs::create_directory_symlink(outside, tree / "one" / "link");
    fs::create_symlink(outside / "precious.txt", tree / "filelink");

    char16_t buffer[PATH_CHARS] = u"C:\\temp\\PH00001\\";
    DeleteTree(buffer);
    EXPECT_EQ(HostUtf8(buffer), "C:\\temp\\PH00001");
    EXPECT_FALSE(fs::exists(fs::symlink_status(tree)));
    EXPECT_TRUE(fs::exists(outside / "precious.txt"));
}

TEST_F(Folders, DeleteTreeLeavesAReadOnlyFileAndTheFoldersAboveIt)
{
    fs::path tree = root_ / "C" / "temp" / "t";
    fs::create_directories(tree / "sub");
    std::ofstream(tree / "sub" / "locked.txt") << "x";
    std::ofstream(tree / "sub" / "free.txt") << "x";
    std::ofstream(tree / "other.txt") << "x";
    chmod((tree / "sub" / "locked.txt").c_str(), 0444);
    char16_t buffer[PATH_CHARS] = u"C:\\temp\\t";
    DeleteTree(buffer);
    EXPECT_EQ(Tree(tree), (std::vector<std::string>{"sub/", "sub/locked.txt"}));
}

TEST(JoinPath, PutsOneBackslashBetweenAndRefusesWhatDoesNotFit)
{
    char16_t out[PATH_CHARS];
    ASSERT_TRUE(JoinPath(out, u"C:\\dir\\", u"f.txt"));
    EXPECT_EQ(HostUtf8(out), "C:\\dir\\f.txt");
    ASSERT_TRUE(JoinPath(out, u"C:\\dir", u"f.txt"));
    EXPECT_EQ(HostUtf8(out), "C:\\dir\\f.txt");
    std::u16string folder(250, 'd');
    EXPECT_FALSE(JoinPath(out, folder.c_str(), u"0123456789"));
    EXPECT_EQ(out[0], 0);
}

}  // namespace

// The follow-up program, on the host's recording process calls.
class FollowUp : public Extract {
protected:
    void SetUp() override
    {
        Extract::SetUp();
        HostEvents.clear();
        HostStartedCommands.clear();
        HostStartFolders.clear();
        HostWaitResults.clear();
        HostBusyFiles.clear();
        HostStartFails = false;
        for (const char *program : {"setup.exe", "a.exe"})
            std::ofstream(Dest() / program) << "MZ";
    }
    void TearDown() override
    {
        HostStartFails = false;
        HostBusyFiles.clear();
        Extract::TearDown();
    }
    // RunAndWait's exit code, or -1 when it returned.
    int Run(const char *command, const char *waitFile, const char *destination)
    {
        try {
            RunAndWait(HostUtf16(command).c_str(), HostUtf16(waitFile).c_str(),
                       HostUtf16(destination).c_str());
        } catch (const HostExit &e) {
            return (int)e.code;
        }
        return -1;
    }
};

TEST_F(FollowUp, WaitsForTheProgramThenTheFileWithTheDialogClosedToInput)
{
    std::ofstream(Dest() / "lock.txt") << "held";
    // Busy for the pause after the end and two turns of the file wait.
    HostBusyFiles["C:\\dest\\lock.txt"] = 3;
    HostWaitResults = {PROCESS_RUNNING, PROCESS_RUNNING, PROCESS_ENDED};
    EXPECT_EQ(Run("setup.exe /q", "lock.txt", "C:\\dest"), -1);
    EXPECT_EQ(HostStartedCommands, std::vector<std::string>{"\"C:\\dest\\setup.exe\" /q"});
    EXPECT_EQ(HostStartFolders, std::vector<std::string>{"C:\\dest"});
    EXPECT_EQ(HostEvents, (std::vector<std::string>{"disable", "start", "wait", "pump", "wait",
                                                   "pump", "wait", "pause 100", "close",
                                                   "pause 50", "pump", "pause 50", "pump",
                                                   "enable"}));
    EXPECT_TRUE(HostBoxes.empty());
}

TEST_F(FollowUp, AnAbsentOrNoWaitFileIsNotWaitedOn)
{
    EXPECT_EQ(Run("a.exe", "", "C:\\dest"), -1);
    EXPECT_EQ(Run("a.exe", "never-made.txt", "C:\\dest"), -1);
    EXPECT_EQ(HostEvents, (std::vector<std::string>{"disable", "start", "wait", "pause 100",
                                                   "close", "enable", "disable", "start", "wait",
                                                   "pause 100", "close", "enable"}));
}

TEST_F(FollowUp, ADestinationThatCannotBeEnteredRunsNothing)
{
    EXPECT_EQ(Run("a.exe", "", "C:\\no\\such\\folder"), -1);
    EXPECT_TRUE(HostEvents.empty());
}

TEST_F(FollowUp, AProgramThatCannotBeFoundStartedOrWaitedOnEndsTheRun)
{
    EXPECT_EQ(Run("missing.exe", "", "C:\\dest"), 1);
    EXPECT_TRUE(HostStartedCommands.empty());
    HostStartFails = true;
    EXPECT_EQ(Run("a.exe", "", "C:\\dest"), 1);
    HostStartFails = false;
    HostWaitResults = {PROCESS_RUNNING, PROCESS_WAIT_FAILED};
    EXPECT_EQ(Run("a.exe", "", "C:\\dest"), 1);
    ASSERT_EQ(HostBoxes.size(), 3u);
    for (const HostBox &box : HostBoxes) {
        EXPECT_EQ(box.text, "Install Failed. Bad download?");
        EXPECT_EQ(box.type, 0x30u);
    }
}
