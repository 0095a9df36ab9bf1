// The packer's --arch: the stub of the architecture asked for, and a stub of
// another architecture refused by name.
#include <gtest/gtest.h>

#include "pack_test_util.h"

using namespace packtest;

namespace {

// A stub with PE headers for machine (0x014C i386, 0x8664 x64).
Bytes PeStub(uint16_t machine) { return FakePeStub(machine, 8192); }

TEST(Arch, AStubOfAnotherArchitectureIsRefusedByName)
{
    TempDir dir;
    std::string stub = dir.Write("stub32.exe", PeStub(0x014C));
    std::string payload = dir.Write("a.txt", "a");
    Result r = Pack({"-o", dir / "x.exe", "--arch", "x64", "--stub", stub, payload});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("stub32.exe is a stub for x86, not for --arch x64"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "x.exe"));
}

// Without --arch an x64 stub is refused: the default makes images for every
// Windows, and only --arch x64 asks for one that runs on 64-bit Windows alone.
TEST(Arch, AnX64StubIsPackedOnlyWithArchX64)
{
    TempDir dir;
    std::string stub = dir.Write("stub64.exe", PeStub(0x8664));
    std::string payload = dir.Write("a.txt", "a");
    Result r = Pack({"-o", dir / "x.exe", "--stub", stub, payload});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find(stub + " is a stub for x64, whose image runs only on 64-bit Windows; give --arch x64"),
              std::string::npos) << r.err;
    r = Pack({"-o", dir / "y.exe", "--arch", "x64", "--stub", stub, payload});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
}

TEST(Arch, TheDescriptionNamesTheStubsMachine)
{
    TempDir dir;
    std::string stub = dir.Write("stub64.exe", PeStub(0x8664));
    std::string payload = dir.Write("a.txt", "a");
    Result r = Pack({"-o", dir / "x.exe", "--arch", "x64", "--stub", stub, payload});
    ASSERT_EQ(r.code, 0) << r.err;
    r = Pack({"--describe", dir / "x.exe"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("stub:            8192 bytes, x64\n"), std::string::npos) << r.out;
}

}  // namespace
