// Which program the follow-up command starts: the file in the destination
// before any other, a bare name else from the system's folders, and never
// the configured name left for the platform to search.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "extract/extract.h"
#include "host_testing.h"

namespace fs = std::filesystem;

namespace {

class ProgramLineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char name[] = "/tmp/brevant-program-XXXXXX";
        root_ = mkdtemp(name);
        fs::create_directories(root_ / "C" / "dest" / "bin");
        HostDriveRoot = root_.string();
        HostSystemPrograms.clear();
    }
    void TearDown() override
    {
        HostSystemPrograms.clear();
        HostDriveRoot.clear();
        fs::remove_all(root_);
    }
    // A file below C:\dest (a UTF-8 name with '/' for folders).
    void Put(const std::string &name) { std::ofstream(root_ / "C" / "dest" / fs::u8path(name)) << "x"; }
    // The line that would start command run in C:\dest; "(none)" for none.
    std::string Line(const std::string &command)
    {
        char16_t *line = ProgramLine(HostUtf16(command).c_str(), u"C:\\dest");
        std::string text = line ? HostUtf8(line) : "(none)";
        HeapFreeBlock(line);
        return text;
    }
    fs::path root_;
};

TEST_F(ProgramLineTest, TheDestinationsFileRunsByItsFullPathWithTheArgumentsKept)
{
    Put("setup.exe");
    Put("notepad.exe");
    HostSystemPrograms["notepad.exe"] = "C:\\Windows\\system32\\notepad.exe";
    EXPECT_EQ(Line("setup.exe"), "\"C:\\dest\\setup.exe\"");
    EXPECT_EQ(Line("  setup.exe /q  /log x"), "\"C:\\dest\\setup.exe\" /q  /log x");
    EXPECT_EQ(Line("\"setup.exe\" /q"), "\"C:\\dest\\setup.exe\" /q");
    // The archive's own program wins over the system's of the same name.
    EXPECT_EQ(Line("notepad.exe readme.txt"), "\"C:\\dest\\notepad.exe\" readme.txt");
}

TEST_F(ProgramLineTest, ABareNameNotInTheDestinationComesFromTheSystemsFolders)
{
    HostSystemPrograms["notepad.exe"] = "C:\\Windows\\system32\\notepad.exe";
    EXPECT_EQ(Line("notepad.exe readme.txt"), "\"C:\\Windows\\system32\\notepad.exe\" readme.txt");
    EXPECT_EQ(Line("\"notepad\" readme.txt"), "\"C:\\Windows\\system32\\notepad.exe\" readme.txt");
    EXPECT_EQ(Line("tool.exe"), "(none)");
    EXPECT_EQ(Line(""), "(none)");
}

TEST_F(ProgramLineTest, ANameWithAFolderIsLookedForInTheDestinationOnly)
{
    Put("bin/tool.exe");
    HostSystemPrograms["tool.exe"] = "C:\\Windows\\tool.exe";
    EXPECT_EQ(Line("bin\\tool.exe -v"), "\"C:\\dest\\bin\\tool.exe\" -v");
    EXPECT_EQ(Line("other\\tool.exe"), "(none)");
    EXPECT_EQ(Line(".\\tool.exe"), "(none)");
}

TEST_F(ProgramLineTest, NamesWithBlanksQuotedOrNotAsThePlatformReadsThem)
{
    Put("my tool.exe");
    EXPECT_EQ(Line("\"my tool.exe\" a b"), "\"C:\\dest\\my tool.exe\" a b");
    EXPECT_EQ(Line("my tool.exe a b"), "\"C:\\dest\\my tool.exe\" a b");
    // The shorter name wins where both are there, as with the platform.
    Put("my.exe");
    EXPECT_EQ(Line("my tool.exe a b"), "\"C:\\dest\\my.exe\" tool.exe a b");
}

TEST_F(ProgramLineTest, ANameWithoutExtensionIsAnExe)
{
    Put("tool.exe");
    EXPECT_EQ(Line("tool x"), "\"C:\\dest\\tool.exe\" x");
    EXPECT_EQ(Line("\"tool\" x"), "\"C:\\dest\\tool.exe\" x");
}

TEST_F(ProgramLineTest, BatchFilesAndUtf16NamesRunByTheirFullPaths)
{
    Put("setup.cmd");
    Put("\xe3\x83\x84\xe3\x83\xbc\xe3\x83\xab.exe");  // ツール.exe
    EXPECT_EQ(Line("setup.cmd /s"), "\"C:\\dest\\setup.cmd\" /s");
    EXPECT_EQ(Line("\xe3\x83\x84\xe3\x83\xbc\xe3\x83\xab.exe \xc3\xa9"),
              "\"C:\\dest\\\xe3\x83\x84\xe3\x83\xbc\xe3\x83\xab.exe\" \xc3\xa9");
}

TEST_F(ProgramLineTest, ACommandLongerThanAPathKeepsItsArgumentsWhole)
{
    Put("setup.exe");
    std::string arguments(600, 'a');
    EXPECT_EQ(Line("setup.exe " + arguments), "\"C:\\dest\\setup.exe\" " + arguments);
    // A name longer than any path names nothing, here or in the system.
    std::string name(300, 'n');
    HostSystemPrograms[name + ".exe"] = "C:\\Windows\\" + name + ".exe";
    EXPECT_EQ(Line(name + " x"), "(none)");
    EXPECT_EQ(Line("\"" + name + "\""), "(none)");
}

TEST_F(ProgramLineTest, AFolderOfTheProgramsNameIsNoProgram)
{
    fs::create_directories(root_ / "C" / "dest" / "setup.exe");
    EXPECT_EQ(Line("setup.exe"), "(none)");
}

}  // namespace
