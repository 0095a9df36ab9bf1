// brevant-pack run as a program, as a publisher runs it: what happens to the
// output and to temporary files, seen from outside the process.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>

#include <algorithm>

#include "pack_test_util.h"

using namespace packtest;

namespace {

std::string Quoted(const std::string &text) { return "'" + text + "'"; }

// The packer with args; its output (stdout and stderr) and exit code.
int RunPack(const std::vector<std::string> &args, std::string *output)
{
    std::string command = BREVANT_PACK;
    for (const std::string &arg : args)
        command += " " + Quoted(arg);
    return Shell(command, output);
}

std::string ReadText(const std::string &path)
{
    Bytes bytes = pack::ReadWholeFile(path);
    return std::string(bytes.begin(), bytes.end());
}

TEST(PackCommand, AnOutputNamedAsAnInputIsRefusedNamingIt)
{
    TempDir dir;
    std::string stub = dir.Write("stub.exe", FakeStub());
    std::string app = dir.Write("app.exe", "the publisher's own program");
    std::string readme = dir.Write("readme.txt", "read me");
    std::string output;
    EXPECT_EQ(RunPack({"-o", app, "--stub", stub, app, readme}, &output), 1);
    EXPECT_NE(output.find(app + ": is both an input and the output"), std::string::npos) << output;
    EXPECT_EQ(ReadText(app), "the publisher's own program");
    EXPECT_EQ(dir.List().size(), 3u) << "no temporary file left";
}

// In code page 932 the yen sign has no character of its own: it would
// become the backslash byte, and this name a path two folders up.
TEST(PackCommand, AYenSignInCodePage932IsRefusedNamingTheFileAndTheCharacter)
{
    TempDir dir;
    std::string stub = dir.Write("stub.exe", FakeStub());
    std::string evil = dir.Write("in/..\xC2\xA5..\xC2\xA5" "evil.txt", "out of the destination");
    std::string output;
    EXPECT_EQ(RunPack({"-o", dir / "setup.exe", "--stub", stub, "--codepage", "932", "--flat", dir / "in"},
                      &output), 1);
    EXPECT_NE(output.find(evil + ": code page 932 has no U+00A5 '\xC2\xA5'"), std::string::npos) << output;
    EXPECT_FALSE(std::filesystem::exists(dir / "setup.exe"));
}

// Exit codes: 0 packed, 1 an input refused, 2 the command line, 3 reading
// or writing failed (here a file that holds more than its size says).
TEST(PackCommand, ExitCodesTellRefusalsUsageAndIoFailuresApart)
{
    TempDir dir;
    std::string stub = dir.Write("stub.exe", FakeStub());
    std::string good = dir.Write("good.txt", "fine");
    std::string output;
    EXPECT_EQ(RunPack({"-o", dir / "a.exe", "--stub", stub, good}, &output), 0) << output;
    EXPECT_EQ(RunPack({"-o", dir / "b.exe", "--stub", stub, dir / "missing.txt"}, &output), 1) << output;
    EXPECT_EQ(RunPack({"-o", dir / "b.exe", "--stub", stub, "--no-such-option", good}, &output), 2) << output;
    EXPECT_EQ(RunPack({}, &output), 2) << output;
    EXPECT_EQ(RunPack({"-o", dir / "b.exe", "--stub", stub, "/proc/version"}, &output), 3) << output;
    EXPECT_NE(output.find("/proc/version: changed while being packed"), std::string::npos) << output;
    EXPECT_FALSE(std::filesystem::exists(dir / "b.exe"));
}

// Options from a response file, one a line (blank ones and a byte-order
// mark skipped); a text that begins with "@" is
// written "@@"; a text option's @FILE is read as the text (without its
// byte-order mark).
TEST(PackCommand, OptionsComeFromResponseFiles)
{
    TempDir dir;
    std::string stub = dir.Write("stub.exe", FakeStub());
    std::string about = dir.Write("about.txt", "\xEF\xBB\xBF" "About from a file\n");
    // A UTF-8 byte-order mark and a line of spaces are no arguments.
    std::string options = dir.Write("options.rsp", "\xEF\xBB\xBF--extractor\r\n\n  \t\n--description\n@@home\n--about\n@" +
                                                       about + "\n");
    std::string input = dir.Write("in/readme.txt", "read me");
    std::string output;
    ASSERT_EQ(RunPack({"-o", dir / "a.exe", "--stub", stub, "@" + options, input}, &output), 0) << output;
    ASSERT_EQ(RunPack({"--describe", dir / "a.exe"}, &output), 0) << output;
    for (const char *expected : {"form:          extractor", "description:   \"@home\"", "about:         \"About from a file\""})
        EXPECT_NE(output.find(expected), std::string::npos) << expected << "\n" << output;
}

// --describe speaks UTF-8: names from their Unicode Path field, texts
// converted with --codepage (without it, bytes beyond ASCII as \xNN); with
// --json, one object for scripts.
TEST(PackCommand, DescribePrintsUtf8AndJson)
{
    TempDir dir;
    std::string stub = dir.Write("stub.exe", FakeStub());
    dir.Write("in/\xE6\x97\xA5\xE6\x9C\xAC.txt", "nihon");
    std::string output;
    ASSERT_EQ(RunPack({"-o", dir / "a.exe", "--stub", stub, "--codepage", "932", "--description",
                       "\xE8\xAA\xAC\xE6\x98\x8E", dir / "in"}, &output), 0) << output;
    ASSERT_EQ(RunPack({"--describe", dir / "a.exe"}, &output), 0) << output;
    EXPECT_NE(output.find("in/\xE6\x97\xA5\xE6\x9C\xAC.txt"), std::string::npos) << output;
    EXPECT_NE(output.find("\"\\x90\\xE0\\x96\\xBE\""), std::string::npos) << output;
    ASSERT_EQ(RunPack({"--describe", dir / "a.exe", "--codepage", "932"}, &output), 0) << output;
    EXPECT_NE(output.find("description:   \"\xE8\xAA\xAC\xE6\x98\x8E\""), std::string::npos) << output;

    std::string check = "import json, sys\n"
                        "d = json.load(sys.stdin)\n"
                        "assert d['checks'] and d['problems'] == 0, d\n"
                        "assert [e['name'] for e in d['entries']] == ['in/', 'in/\\u65e5\\u672c.txt'], d\n"
                        "assert all(e['ok'] for e in d['entries']), d\n"
                        "assert d['entries'][1]['size'] == 5, d\n"
                        "assert d['configuration']['description'] == '\\u8aac\\u660e', d\n"
                        "assert d['configuration']['destination'] == 'unique-temp', d\n";
    std::string script = dir.Write("check.py", check);
    EXPECT_EQ(Shell(std::string(BREVANT_PACK) + " --describe " + Quoted(dir / "a.exe") +
                        " --codepage 932 --json | python3 " + Quoted(script), &output), 0) << output;

    // A damaged entry and a damaged configuration: still one JSON object each.
    Bytes image = pack::ReadWholeFile(dir / "a.exe");
    Bytes entry = image;
    const char nihon[] = "nihon";  // the second entry's stored data
    entry[std::search(image.begin(), image.end(), nihon, nihon + 5) - image.begin()] ^= 0x20;
    dir.Write("entry.exe", entry);
    Bytes config = image;
    config[4096 + 4] ^= 1;  // the configuration's CRC-32
    dir.Write("config.exe", config);
    std::string damaged = dir.Write("damaged.py", "import json, sys\n"
                                                  "d = json.load(sys.stdin)\n"
                                                  "assert not d['checks'] and d['problems'] == 1, d\n"
                                                  "assert 'stub_stops' in d or not d['entries'][1]['ok'], d\n");
    for (const char *bad : {"entry.exe", "config.exe"})
        EXPECT_EQ(Shell(std::string(BREVANT_PACK) + " --describe " + Quoted(dir / bad) + " --json | python3 " +
                            Quoted(damaged), &output), 0) << bad << "\n" << output;
}

// Each of the three signals, sent while the packer works, ends it with no
// temporary file left, neither beside the output nor in TMPDIR.
TEST(PackCommand, AnInterruptedPackLeavesNoTemporaryFiles)
{
    TempDir dir;
    std::string stub = dir.Write("stub.exe", FakeStub());
    Bytes text;
    uint32_t x = 5;
    while (text.size() < 24u << 20) {
        x = x * 1103515245 + 12345;
        text.push_back((uint8_t)"the quick brown fox jumps over a lazy dog\n"[(x >> 16) % 42]);
    }
    std::string input = dir.Write("in/big.txt", text);
    std::string out = dir / "out", scratch = dir / "scratch";
    mkdir(out.c_str(), 0777);
    mkdir(scratch.c_str(), 0777);
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            setenv("TMPDIR", scratch.c_str(), 1);
            freopen("/dev/null", "w", stdout);
            freopen("/dev/null", "w", stderr);
            std::string image = out + "/setup.exe";
            execl(BREVANT_PACK, BREVANT_PACK, "-o", image.c_str(), "--stub", stub.c_str(), input.c_str(),
                  (char *)nullptr);
            _exit(127);
        }
        // Wait until a temporary file exists, then interrupt.
        bool started = false;
        for (int i = 0; i < 2000 && !started; i++) {
            started = !std::filesystem::is_empty(out) || !std::filesystem::is_empty(scratch);
            if (!started) {
                struct timespec pause = {0, 5 * 1000 * 1000};
                nanosleep(&pause, nullptr);
            }
        }
        kill(child, signal);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(started) << "no temporary file appeared";
        ASSERT_TRUE(WIFSIGNALED(status)) << "the pack ended before the signal";
        EXPECT_EQ(WTERMSIG(status), signal);
        EXPECT_TRUE(std::filesystem::is_empty(out)) << strsignal(signal);
        EXPECT_TRUE(std::filesystem::is_empty(scratch)) << strsignal(signal);
    }
}

}  // namespace

TEST(PackCommand, ElevatedImagesAreWarnedOffFoldersThatOthersReach)
{
    // The warnings come before the image is written; the test stub, which
    // takes no manifest, then ends the pack.
    PackFolder folder;
    struct Case {
        std::vector<std::string> options;
        const char *warning;  // a word the warning must hold; null: no warning
    } cases[] = {
        {{"--execution-level", "requireAdministrator", "--dest", "temp"}, "--dest temp"},
        {{"--execution-level", "highestAvailable", "--dest", "image-dir", "--run", "setup.exe"},
         "--dest image-dir"},
        {{"--execution-level", "requireAdministrator", "--extractor", "--run", "setup.exe"},
         "--dest image-dir"},
        {{"--execution-level", "requireAdministrator", "--dest", "unique-temp", "--run", "x.exe"},
         nullptr},
        {{"--execution-level", "requireAdministrator", "--dest", "image-dir"}, nullptr},
        {{"--execution-level", "asInvoker", "--dest", "temp"}, nullptr},
        {{"--dest", "image-dir", "--run", "setup.exe"}, nullptr},
    };
    for (const Case &c : cases) {
        std::vector<std::string> args = c.options;
        args.push_back("--force");
        args.push_back(folder / "app");
        Result packed = folder.Run(args);
        if (c.warning) {
            EXPECT_NE(packed.err.find(c.warning), std::string::npos) << packed.err;
            EXPECT_NE(packed.err.find("--dest unique-temp"), std::string::npos) << packed.err;
        } else {
            // --run's program being no entry is a warning of its own.
            EXPECT_EQ(packed.err.find("--dest unique-temp"), std::string::npos) << packed.err;
        }
    }
}

TEST(PackCommand, AnEarlierOutputIsKnownPastAConfigurationSignatureThatDoesNotDecode)
{
    // "JAVA" before the configuration, as a signing tool may write it into
    // the headers: an earlier image is still known, and left out.
    PackFolder folder;
    std::string inside = folder / "app/setup.exe";
    Result first = Pack({"-o", inside, "--stub", folder.stub, folder / "app"});
    ASSERT_EQ(first.code, 0) << first.err;
    Bytes image = pack::ReadWholeFile(inside);
    std::copy_n("JAVA", 4, image.begin() + 100);
    folder.Write("app/setup.exe", image);
    Result second = Pack({"-o", inside, "--stub", folder.stub, "--force", folder / "app"});
    EXPECT_EQ(second.code, 0) << second.err;
}
