// brevant-pack run as a program, as a publisher runs it: what happens to the
// output and to temporary files, seen from outside the process.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>

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
    EXPECT_NE(output.find(evil + ": code page 932 has no \"\xC2\xA5\" (U+00A5)"), std::string::npos) << output;
    EXPECT_FALSE(std::filesystem::exists(dir / "setup.exe"));
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
