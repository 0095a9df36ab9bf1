// brevant-pack's command line: a ZIP that ordinary tools accept, --describe,
// and clear errors with no output left behind.
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
        FileHandle image = OpenReadShared(folder.output.c_str());
        ASSERT_EQ(ReadConfig(image), CONFIG_OK) << c.options.back();
        EXPECT_EQ(SfxConfig->Flags, c.flags) << c.options.back();
        EXPECT_EQ(SfxConfig->DestKind, c.destKind) << c.options.back();
        HeapFreeBlock(SfxConfig);
        SfxConfig = nullptr;
        CloseFile(image);
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
    ExpectFailure(folder, folder.Run({"--overwrite=no", folder / "app"}), "--overwrite takes no value", 2);
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
         {std::string("app/CON: \"CON\" is the name of a device"), std::string("app/x:y: the name holds U+003A ':'"),
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

}  // namespace
