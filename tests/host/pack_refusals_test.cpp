// brevant-pack refusing what it must not take: inputs missing among others,
// files swapped or rewritten after the walk, icons and versions that are not
// what they claim, code pages the stub does not read in, output names
// Windows would not create as themselves. Each refusal names what is at
// fault and leaves nothing written.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "pack_test_util.h"

using namespace packtest;

namespace {

// A folder with a stub and two files, and the command line around them.
struct Bed : TempDir {
    Bed()
    {
        stub = Write("stub.exe", FakeStub(8192));
        Write("in/a.txt", std::string(3000, 'a'));
        Write("in/b.txt", "bee");
    }
    Result Run(std::vector<std::string> args) const
    {
        std::vector<std::string> full = {"--stub", stub};
        full.insert(full.end(), args.begin(), args.end());
        return Pack(full);
    }
    // Nothing was written beside the inputs: no output, no temporary file.
    bool NothingWritten() const
    {
        std::vector<std::string> names = List();
        std::sort(names.begin(), names.end());
        return names == std::vector<std::string>{"in", "stub.exe"};
    }
    std::string stub;
};

// A missing input before an existing one: each missing one refused, together.
TEST(Refusals, MissingInputsAmongExistingOnesAreReportedTogether)
{
    Bed bed;
    Result result = bed.Run({"-o", bed / "x.exe", bed / "missing", bed / "in", bed / "gone", bed / "in/a.txt"});
    EXPECT_EQ(result.code, 1) << result.err;
    for (const std::string &line : {bed / "missing: No such file", bed / "gone: No such file",
                                    std::string("2 refusals; nothing was written")})
        EXPECT_NE(result.err.find(line), std::string::npos) << line << "\n" << result.err;
    EXPECT_TRUE(bed.NothingWritten());
}

// The walk's files must be the ones read: a file replaced by a link to a
// file outside the inputs (of the same size), a file rewritten after the
// walk, and one rewritten while it is read (the part not yet read, the size
// kept) are refused as changed, an I/O failure (exit 3).
TEST(Refusals, AFileSwappedOrRewrittenAfterTheWalkIsNotPacked)
{
    auto expectChanged = [](const Bed &bed, const std::vector<pack::InputItem> &items, int level,
                            const std::function<void()> &meanwhile) {
        pack::OutputImage output(bed / "x.exe", false);
        pack::ImageWriter writer(output, FakeStub());
        bool once = false;
        writer.onBytes = [&](uint64_t) {
            if (!once && meanwhile)
                meanwhile();
            once = true;
        };
        std::ostringstream log;
        try {
            for (const pack::InputItem &item : items)
                writer.Add(item, level, log);
            ADD_FAILURE() << "a file that changed was packed";
        } catch (const pack::PackError &error) {
            EXPECT_NE(std::string(error.what()).find(": changed while being packed"), std::string::npos)
                << error.what();
            EXPECT_EQ(error.failure, pack::Failure::Io);
        }
    };
    pack::TextEncoder encoder;
    {
        Bed bed;
        std::string secret = bed.Write("secret.txt", std::string(3000, 's'));
        auto items = pack::CollectInputs({bed / "in"}, false, encoder);
        ASSERT_EQ(unlink((bed / "in/a.txt").c_str()), 0);
        ASSERT_EQ(symlink(secret.c_str(), (bed / "in/a.txt").c_str()), 0);
        expectChanged(bed, items, 12, nullptr);
    }
    {
        Bed bed;
        auto items = pack::CollectInputs({bed / "in"}, false, encoder);
        // Another file of the same name, size and write time.
        std::string other = bed.Write("other.txt", std::string(3000, 'o'));
        struct stat was;
        ASSERT_EQ(stat((bed / "in/a.txt").c_str(), &was), 0);
        struct timespec times[2] = {was.st_atim, was.st_mtim};
        ASSERT_EQ(utimensat(AT_FDCWD, other.c_str(), times, 0), 0);
        ASSERT_EQ(rename(other.c_str(), (bed / "in/a.txt").c_str()), 0);
        expectChanged(bed, items, 12, nullptr);
    }
    {
        Bed bed;
        auto items = pack::CollectInputs({bed / "in"}, false, encoder);
        struct timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, (bed / "in/a.txt").c_str(), times, 0), 0);  // the same bytes written again
        expectChanged(bed, items, 12, nullptr);
    }
    {
        // Read in pieces: the last piece rewritten once the first is done.
        Bed bed;
        std::string big = bed / "in/big.bin";
        bed.Write("in/big.bin", std::string(pack::kChunkSize + 100, 'g'));
        auto items = pack::CollectInputs({big}, false, encoder);
        expectChanged(bed, items, 1, [&] {
            std::fstream file(big, std::ios::in | std::ios::out | std::ios::binary);
            file.seekp((std::streamoff)pack::kChunkSize);
            file << "changed";
            file.close();
            struct timespec times[2] = {{0, UTIME_OMIT}, {2000000000, 0}};
            utimensat(AT_FDCWD, big.c_str(), times, 0);
        });
    }
}

// An icon file is an .ico as written: an empty file is no "no icon", a
// directory's size is the image's own, nothing follows the last image.
TEST(Refusals, IconsThatAreNotWhatTheyClaimAreRefused)
{
    Bytes bitmap = IconBitmap(32, 32);
    Bytes claims256 = IcoFile({bitmap}, {0});
    Bytes claims48 = IcoFile({IconBitmap(16, 8), bitmap}, {16, 48});
    Bytes trailing = IcoFile({bitmap}, {32});
    trailing.insert(trailing.end(), {'j', 'u', 'n', 'k'});
    for (auto [ico, message] : {std::pair<Bytes, const char *>{claims256, "x.ico: icon image 1 is 32x32, but the icon's directory says 256x256"},
                                {claims48, "x.ico: icon image 2 is 32x32, but the icon's directory says 48x48"},
                                {trailing, "x.ico: 4 bytes after the last icon image"}}) {
        try {
            pack::ExtractIcon(ico, "x.ico");
            ADD_FAILURE() << message;
        } catch (const pack::PackError &error) {
            EXPECT_EQ(std::string(error.what()).find(message), 0u) << error.what();
        }
    }
    EXPECT_NO_THROW(pack::ExtractIcon(IcoFile({bitmap}, {32}), "x.ico"));

    Bed bed;
    std::string empty = bed.Write("empty.ico", ""), icon = bed.Write("icon.ico", IcoFile({bitmap}, {32}));
    for (const char *option : {"--icon", "--exe-icon"}) {
        Result result = bed.Run({"-o", bed / "x.exe", "--icon", icon, option, empty, bed / "in"});
        EXPECT_EQ(result.code, 1) << option;
        EXPECT_NE(result.err.find(empty + ": not an icon file"), std::string::npos) << option << "\n" << result.err;
    }
    unlink(empty.c_str());
    unlink(icon.c_str());
    EXPECT_TRUE(bed.NothingWritten());
}

// A version is four numbers, never an empty text; a version resource too
// large is refused naming the option whose text makes it so.
TEST(Refusals, VersionMessagesNameTheFieldAtFault)
{
    std::string stub = std::string(BREVANT_BIN_DIR) + "/brevant-stub.exe";
    ASSERT_TRUE(std::filesystem::exists(stub)) << stub << ": build the Windows trees";
    Bed bed;
    struct {
        std::vector<std::string> args;
        const char *message;
        int code;
    } cases[] = {
        {{"--file-version", ""}, "brevant-pack: --file-version takes four numbers from 0 to 65535", 2},
        {{"--file-version", "1.2.3.4", "--product-version", ""}, "brevant-pack: --product-version takes four", 2},
        {{"--file-version", std::string(39993, '0') + "1.2.3.4"},
         "brevant-pack: --file-version (40000 characters): the version resource would take", 1},
        {{"--file-version", std::string(9993, '0') + "1.2.3.4"},
         "brevant-pack: --file-version (10000 characters): the version resource's texts push", 1},
        {{"--product", "P", "--copyright", std::string(11000, 'c')},
         "brevant-pack: --copyright (11000 characters): the version resource's texts push", 1},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args = {"-o", bed / "x.exe", "--stub", stub};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back(bed / "in");
        Result result = Pack(args);
        EXPECT_EQ(result.code, c.code) << c.message;
        EXPECT_EQ(result.err.find(c.message), 0u) << result.err.substr(0, 300);
    }
    EXPECT_TRUE(bed.NothingWritten());
}

// Names and texts are written in a Windows ANSI code page, the one the
// stub reads them in, from one table, whatever iconv also knows.
TEST(Refusals, OnlyWindowsAnsiCodePagesAreTaken)
{
    for (int codepage : {37, 437, 850, 10000, 20127, 20932, 28591, 65000, 65001}) {
        try {
            pack::TextEncoder encoder(codepage);
            ADD_FAILURE() << codepage << " taken";
        } catch (const pack::PackError &error) {
            EXPECT_EQ(error.failure, pack::Failure::Usage);
            EXPECT_EQ(std::string(error.what()).find("--codepage: " + std::to_string(codepage) +
                                                     " is not a Windows ANSI code page (874, 932,"),
                      0u) << error.what();
        }
    }
    for (int codepage : {874, 932, 936, 949, 950, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258})
        EXPECT_NO_THROW(pack::TextEncoder encoder(codepage)) << codepage;
}

// The output is a Windows program: its name must be one Windows creates as
// itself, on every system; an output that names a folder, however written,
// is refused alike.
TEST(Refusals, AnOutputWindowsWouldNotCreateAsItselfIsRefused)
{
    Bed bed;
    std::filesystem::create_directories(bed / "in/sub");
    struct {
        const char *name, *message;
    } cases[] = {
        {"nul", "is a device name on Windows"},        {"CON", "is a device name on Windows"},
        {"COM1.exe", "is a device name on Windows"},   {"CONOUT$", "is a device name on Windows"},
        {"lpt\xC2\xB3.exe", "is a device name on Windows"}, {"out.exe.", "ends in a dot or a space"},
        {"out.exe ", "ends in a dot or a space"},      {"in/a.txt::$DATA", "holds ':', which names a data stream"},
        {"out.exe:x", "holds ':', which names a data stream"}, {"out?.exe", "holds a character that Windows"},
        {"in/", "names a folder, not a file"},         {"in/..", "names a folder, not a file"},
        {"in/sub", "is a folder; name a file to write"},
    };
    for (const auto &c : cases) {
        std::string output = bed / c.name;
        Result result = bed.Run({"-o", output, "--force", bed / "in/b.txt"});
        EXPECT_EQ(result.code, 1) << c.name;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << c.name << "\n" << result.err;
    }
    std::filesystem::remove(bed / "in/sub");
    EXPECT_TRUE(bed.NothingWritten());
    EXPECT_EQ(bed.Run({"-o", bed / "null.exe", bed / "in/b.txt"}).code, 0) << "NUL is a device, null.exe is not";
}

}  // namespace
