// The unique temporary folder of an elevated run: made with the protected
// descriptor and held until the clean-up, which empties it while it is
// still held; no unprotected folder when that fails. Unelevated runs make
// the plain folder they always made.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <fstream>

#include "extract/extract.h"
#include "messages/messages.h"
#include "host_testing.h"

namespace fs = std::filesystem;

namespace {

class OwnFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        char name[] = "/tmp/brevant-own-XXXXXX";
        root_ = mkdtemp(name);
        fs::create_directories(root_ / "C" / "temp");
        HostDriveRoot = root_.string();
        HostTempFolder = "C:\\temp\\";
        HostThrowOnExit();
        HostResetBoxes();
        HostMadeFolders.clear();
        HostHeldFolders.clear();
        HostHeldDescriptor = nullptr;
        HostElevated = true;
        HostHeldFolderFails = false;
        MainWindow = nullptr;
        MessageCaption = u"";
    }
    void TearDown() override
    {
        ReleaseHeldFolder();
        HostElevated = false;
        HostHeldFolderFails = false;
        HostDriveRoot.clear();
        fs::remove_all(root_);
    }
    fs::path Temp() const { return root_ / "C" / "temp"; }
    fs::path root_;
};

TEST_F(OwnFolder, AnElevatedRunHoldsItsFolderUntilTheCleanUpEmptiesIt)
{
    fs::create_directory(Temp() / "PH00001");
    char16_t buffer[PATH_CHARS];
    ASSERT_TRUE(MakeUniqueTempDir(buffer));
    EXPECT_EQ(HostUtf8(buffer), "C:\\temp\\PH00002");
    EXPECT_EQ(HostHeldDescriptor, OwnFolderDescriptor);
    ASSERT_EQ(HostHeldFolders.size(), 1u);
    fs::create_directories(Temp() / "PH00002" / "sub");
    std::ofstream(Temp() / "PH00002" / "sub" / "setup.exe") << "x";
    // Held: nobody removes it, this program included.
    EXPECT_FALSE(RemoveFolder(u"C:\\temp\\PH00002"));
    DeleteTree(buffer);
    EXPECT_FALSE(fs::exists(Temp() / "PH00002"));
}

TEST_F(OwnFolder, AnElevatedRunWithoutAProtectedFolderStopsWithOneBox)
{
    HostHeldFolderFails = true;
    char16_t buffer[PATH_CHARS];
    unsigned code = 0;
    try {
        MakeUniqueTempDir(buffer);
    } catch (const HostExit &e) {
        code = e.code;
    }
    EXPECT_EQ(code, 1u);
    ASSERT_EQ(HostBoxes.size(), 1u);
    EXPECT_EQ(HostBoxes[0].text,
              "Couldn't create a protected folder. Nothing was installed.");
    // Every name was tried the protected way, and none the plain way.
    EXPECT_EQ(HostMadeFolders.size(), 99u);
    EXPECT_TRUE(fs::is_empty(Temp()));
}

TEST_F(OwnFolder, AnUnelevatedRunMakesThePlainFolder)
{
    HostElevated = false;
    char16_t buffer[PATH_CHARS];
    ASSERT_TRUE(MakeUniqueTempDir(buffer));
    EXPECT_EQ(HostUtf8(buffer), "C:\\temp\\PH00001");
    EXPECT_TRUE(HostHeldFolders.empty());
    EXPECT_EQ(HostHeldDescriptor, nullptr);
}

// The descriptor read field by field, as the platform reads a
// SECURITY_DESCRIPTOR_RELATIVE with its ACL and ACCESS_ALLOWED_ACEs.
uint16_t Word(size_t at) { return (uint16_t)(OwnFolderDescriptor[at] | OwnFolderDescriptor[at + 1] << 8); }
uint32_t Long(size_t at) { return Word(at) | (uint32_t)Word(at + 2) << 16; }

// The SID at at as "S-1-A-S1-S2..."; its length in *size.
std::string Sid(size_t at, size_t *size)
{
    const uint8_t *sid = OwnFolderDescriptor + at;
    uint64_t authority = 0;
    for (int i = 2; i < 8; i++)
        authority = authority << 8 | sid[i];
    std::string text = "S-" + std::to_string(sid[0]) + "-" + std::to_string(authority);
    for (int i = 0; i < sid[1]; i++)
        text += "-" + std::to_string(Long(at + 8 + 4 * i));
    *size = 8 + 4 * (size_t)sid[1];
    return text;
}

TEST(OwnFolderDescriptorBytes, AProtectedDaclOfFullAccessForSystemAndAdministratorsInherited)
{
    EXPECT_EQ(OwnFolderDescriptor[0], 1);  // revision
    const uint16_t control = Word(2);
    EXPECT_EQ(control, 0x0004 | 0x1000 | 0x8000);  // DACL present, protected, self-relative
    EXPECT_EQ(Long(4), 0u);                         // no owner: the token's default
    EXPECT_EQ(Long(8), 0u);                         // no group
    EXPECT_EQ(Long(12), 0u);                        // no SACL
    const size_t acl = Long(16);
    ASSERT_EQ(acl, 20u);
    EXPECT_EQ(OwnFolderDescriptor[acl], 2);  // ACL_REVISION
    ASSERT_EQ(acl + Word(acl + 2), sizeof OwnFolderDescriptor);
    ASSERT_EQ(Word(acl + 4), 2);  // entries
    size_t at = acl + 8;
    for (const char *expected : {"S-1-5-18", "S-1-5-32-544"}) {
        ASSERT_LT(at + 8, sizeof OwnFolderDescriptor);
        EXPECT_EQ(OwnFolderDescriptor[at], 0);         // ACCESS_ALLOWED_ACE_TYPE
        EXPECT_EQ(OwnFolderDescriptor[at + 1], 0x03);  // object and container inherit
        EXPECT_EQ(Long(at + 4), 0x001F01FFu);          // FILE_ALL_ACCESS
        size_t sidSize;
        EXPECT_EQ(Sid(at + 8, &sidSize), expected);
        EXPECT_EQ(Word(at + 2), 8 + sidSize);
        at += Word(at + 2);
    }
    EXPECT_EQ(at, sizeof OwnFolderDescriptor);
}

}  // namespace
