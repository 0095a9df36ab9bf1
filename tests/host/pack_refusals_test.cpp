// brevant-pack refusing what it must not take: inputs missing among others,
// files swapped or rewritten after the walk, icons and versions that are not
// what they claim, code pages the stub does not read in, output names that
// Windows would not create as themselves. Nothing is written then.
#include <gtest/gtest.h>

#include <fstream>

#include "pack_test_util.h"

using namespace packtest;

namespace {

// A stub and two inputs; the command line around them.
struct Bed : TempDir {
    Bed() { Write("in/a.txt", std::string(3000, 'a')), Write("in/b.txt", "bee"); }
    Result Run(std::vector<std::string> args, const std::string &stub = "") const
    {
        std::string stubPath = stub.empty() ? Write("stub.exe", FakeStub()) : stub;
        args.insert(args.begin(), {"-o", *this / "x.exe", "--stub", stubPath});
        return Pack(args);
    }
    bool NothingWritten() const
    {
        std::vector<std::string> names = List();
        return std::all_of(names.begin(), names.end(),
                           [](const std::string &n) { return n == "in" || n == "stub.exe"; });
    }
};

void ExpectRefused(const Result &result, int code, const std::string &message, const Bed &bed)
{
    EXPECT_EQ(result.code, code) << message;
    EXPECT_NE(result.err.find(message), std::string::npos) << message << "\n" << result.err.substr(0, 400);
    EXPECT_TRUE(bed.NothingWritten()) << message;
}

TEST(Refusals, MissingInputsAmongExistingOnesAreReportedTogether)
{
    Bed bed;
    Result result = bed.Run({bed / "missing", bed / "in", bed / "gone", bed / "in/a.txt"});
    ExpectRefused(result, 1, bed / "missing: No such file", bed);
    ExpectRefused(result, 1, bed / "gone: No such file or directory\nbrevant-pack: 2 refusals", bed);
}

// What a call refuses with: its message and kind, or nothing.
std::pair<std::string, pack::Failure> RefusalOf(const std::function<void()> &call)
{
    try {
        call();
    } catch (const pack::PackError &error) {
        return {error.what(), error.failure};
    }
    return {"", pack::Failure{}};
}

// The file read must be the file the walk listed, unchanged until read to
// its end: not a link to a file outside the inputs put in its place,
// another file of the same name, size and time, one written again, or one
// whose last piece is rewritten while the first is read.
TEST(Refusals, AFileSwappedOrRewrittenAfterTheWalkIsNotPacked)
{
    namespace fs = std::filesystem;
    auto later = [](const std::string &path) {
        fs::last_write_time(path, fs::last_write_time(path) + std::chrono::hours(1));
    };
    std::function<void(const Bed &, const std::string &)> swaps[] = {
        [](const Bed &bed, const std::string &a) {
            fs::remove(a);
            fs::create_symlink(bed.Write("secret", std::string(3000, 's')), a);
        },
        [](const Bed &bed, const std::string &a) {
            std::string other = bed.Write("other", std::string(3000, 'o'));
            fs::last_write_time(other, fs::last_write_time(a));
            fs::rename(other, a);
        },
        [&](const Bed &, const std::string &a) { later(a); }, nullptr};
    for (const auto &swap : swaps) {
        Bed bed;
        std::string a = bed / "in/a.txt";
        if (!swap)
            bed.Write("in/a.txt", std::string(pack::kChunkSize + 100, 'g'));  // read in two pieces
        pack::TextEncoder encoder;
        auto items = pack::CollectInputs({bed / "in"}, false, encoder);
        pack::OutputImage output(bed / "x.exe", false);
        pack::ImageWriter writer(output, FakeStub());
        if (swap)
            swap(bed, a);
        writer.onBytes = [&](uint64_t) {
            std::fstream(a, std::ios::in | std::ios::out | std::ios::binary).seekp(pack::kChunkSize) << "changed";
            later(a);
        };
        std::ostringstream log;
        auto [message, failure] = RefusalOf([&] {
            for (const pack::InputItem &item : items)
                writer.Add(item, 1, log);
        });
        EXPECT_EQ(message.find(a + ": changed while being packed"), 0u) << message;
        EXPECT_EQ(failure, pack::Failure::Io);
    }
}

TEST(Refusals, IconsThatAreNotWhatTheyClaimAreRefused)
{
    Bytes bitmap = IconBitmap(32, 32), trailing = IcoFile({bitmap}, {32});
    trailing.insert(trailing.end(), {'j', 'u', 'n', 'k'});
    std::pair<Bytes, const char *> cases[] = {
        {IcoFile({bitmap}, {0}), "x.ico: icon image 1 is 32x32, but the icon's directory says 256x256"},
        {IcoFile({IconBitmap(16, 8), bitmap}, {16, 48}),
         "x.ico: icon image 2 is 32x32, but the icon's directory says 48x48"},
        {trailing, "x.ico: 4 bytes after the last icon image"}};
    for (const auto &[ico, message] : cases)
        EXPECT_EQ(RefusalOf([&] { pack::ExtractIcon(ico, "x.ico"); }).first.find(message), 0u) << message;
    // An empty file is no "no icon", as --icon or as the --exe-icon that overrides it.
    Bed bed;
    std::string empty = bed.Write("empty.ico", ""), icon = bed.Write("icon.ico", IcoFile({bitmap}, {32}));
    for (const char *option : {"--icon", "--exe-icon"})
        EXPECT_NE(bed.Run({"--icon", icon, option, empty, bed / "in"}).err.find(empty + ": not an icon file"),
                  std::string::npos) << option;
    EXPECT_FALSE(std::filesystem::exists(bed / "x.exe"));
}

// A version is four numbers, never an empty text; a version resource or a
// configuration that does not fit is refused naming the option whose text
// makes it so.
TEST(Refusals, VersionAndSizeMessagesNameTheFieldAtFault)
{
    std::string stub = std::string(BREVANT_BIN_DIR) + "/brevant-stub.exe";
    ASSERT_TRUE(std::filesystem::exists(stub)) << stub << ": build the Windows trees";
    std::string noise;
    for (uint32_t x = 1; noise.size() < 40000; x = x * 1103515245 + 12345)
        noise += (char)('a' + (x >> 16) % 26);
    std::pair<std::vector<std::string>, const char *> cases[] = {
        {{"--about", noise}, "--about (40000 bytes): the stub and the configuration take"},
        {{"--file-version", ""}, "--file-version takes one to four numbers from 0 to 65535"},
        {{"--file-version", "1.2.3.4", "--product-version", ""}, "--product-version takes one to four"},
        {{"--file-version", std::string(39993, '0') + "1.2.3.4"},
         "--file-version (40000 characters): the version resource would take"},
        {{"--file-version", std::string(9993, '0') + "1.2.3.4"},
         "--file-version (10000 characters): the version resource's texts push"},
        {{"--product", "P", "--copyright", std::string(14000, 'c')},
         "--copyright (14000 characters): the version resource's"}};
    for (auto &[args, message] : cases) {
        Bed bed;
        args.push_back(bed / "in");
        int code = strstr(message, "takes") ? 2 : 1;
        ExpectRefused(bed.Run(args, stub), code, std::string("brevant-pack: ") + message, bed);
    }
}

// Names and texts are written in a Windows ANSI code page, the one the stub
// reads them in, from one table, whatever iconv or Windows also converts.
TEST(Refusals, OnlyWindowsAnsiCodePagesAreTaken)
{
    for (int codepage : {37, 437, 850, 10000, 20127, 20932, 28591, 65000, 65001}) {
        Bed bed;
        ExpectRefused(bed.Run({"--codepage", std::to_string(codepage), bed / "in"}), 2,
                      "--codepage: " + std::to_string(codepage) + " is not a Windows ANSI code page (874, 932,", bed);
    }
    for (int codepage : {874, 932, 936, 949, 950, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258})
        EXPECT_NO_THROW(pack::TextEncoder encoder(codepage)) << codepage;
}

// The output's name is one Windows creates as itself, on every system; an
// output that names a folder is refused alike, however it is written.
TEST(Refusals, AnOutputWindowsWouldNotCreateAsItselfIsRefused)
{
    const char *device = "is a device name on Windows", *trimmed = "ends in a dot or a space",
               *stream = "holds ':', which names a data stream", *folder = "names a folder, not a file";
    std::pair<const char *, const char *> cases[] = {
        {"nul", device}, {"CON", device}, {"COM1.exe", device}, {"CONOUT$", device}, {"lpt\xC2\xB3.exe", device},
        {"out.exe.", trimmed}, {"out.exe ", trimmed}, {"in/a.txt::$DATA", stream}, {"out.exe:x", stream},
        {"out?.exe", "holds a character that Windows"}, {"in/", folder}, {"in/..", folder},
        {"in", "is a folder; name a file to write"}};
    for (const auto &[name, message] : cases) {
        Bed bed;
        ExpectRefused(bed.Run({"-o", bed / name, "--force", bed / "in/b.txt"}), 1, message, bed);
    }
    Bed bed;
    EXPECT_EQ(bed.Run({"-o", bed / "null.exe", bed / "in/b.txt"}).code, 0) << "NUL is a device, null.exe is not";
}

}  // namespace
