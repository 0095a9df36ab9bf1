// brevant-pack and the stub's PE headers: the fields a signing tool writes
// after packing, a signed stub, and the resources the packer gives the image.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "pack_test_util.h"

using namespace packtest;

namespace {

void PutAt(Bytes &bytes, size_t at, const char *what)
{
    std::copy(what, what + 4, bytes.begin() + at);
}

// Signing writes the checksum (offset 216 of a 32-bit image) and the
// certificate table's file offset (280); either may spell a signature. The
// scans begin after the headers, so the image still checks entry by entry.
TEST(PeHeaders, AnImageWhoseHeaderFieldsSpellBothSignaturesStillChecks)
{
    TempDir dir;
    std::string stub = dir.Write("stub.exe", FakePeStub());
    dir.Write("app/a.txt", std::string(3000, 'a'));
    dir.Write("app/b.txt", "b");
    Result packed = Pack({"-o", dir / "out.exe", "--stub", stub, dir / "app"});
    ASSERT_EQ(packed.code, 0) << packed.err;
    Bytes image = pack::ReadWholeFile(dir / "out.exe");
    PutAt(image, 216, "JAVA");
    PutAt(image, 280, "PK\3\4");
    std::string spelled = dir.Write("spelled.exe", image);
    Result described = Pack({"--describe", spelled});
    EXPECT_EQ(described.code, 0) << described.out;
    EXPECT_NE(described.out.find("3 entries"), std::string::npos) << described.out;
}

// --describe refuses a program Windows would not start as itself: PE
// headers that the DOS header names but that are gone, and a resource
// directory in no section.
TEST(PeHeaders, DescribeRefusesDamagedHeadersAndResourcesOutsideTheSections)
{
    TempDir dir;
    std::string stub = dir.Write("stub.exe", FakePeStub());
    dir.Write("app/a.txt", "a");
    ASSERT_EQ(Pack({"-o", dir / "out.exe", "--stub", stub, dir / "app"}).code, 0);
    const Bytes image = pack::ReadWholeFile(dir / "out.exe");
    ASSERT_EQ(Pack({"--describe", dir / "out.exe"}).code, 0);

    Bytes damaged = image;
    PutAt(damaged, 0x80, "XXXX");  // where "PE\0\0" stood
    Result described = Pack({"--describe", dir.Write("headers.exe", damaged)});
    EXPECT_EQ(described.code, 1);
    EXPECT_NE(described.out.find("refused: the program in front of the archive: its PE headers are damaged"),
              std::string::npos) << described.out;

    damaged = image;
    size_t resources = 0x98 + 96 + 8 * 2;  // the PE32 optional header's resource directory
    PutAt(damaged, resources, "\0\x10\0\0");
    PutAt(damaged, resources + 4, "\x40\0\0\0");
    described = Pack({"--describe", dir.Write("resources.exe", damaged)});
    EXPECT_EQ(described.code, 1);
    EXPECT_NE(described.out.find("its resource directory lies outside every section"), std::string::npos)
        << described.out;
}

// The packer's placement rule looks where the stub's scans look: a stub
// whose headers hold a signature is no stub holding one.
TEST(PeHeaders, ASignatureInTheHeadersDoesNotCountAsTheStubs)
{
    pack::ImagePlan plan;
    plan.stub = FakePeStub();
    PutAt(plan.stub, 216, "JAVA");
    EXPECT_NO_THROW(pack::BuildPrefix(plan));
    PutAt(plan.stub, 0x200, "JAVA");
    EXPECT_THROW(pack::BuildPrefix(plan), pack::PackError);
}

TEST(PeHeaders, ASignedStubIsRefused)
{
    TempDir dir;
    for (uint16_t machine : {0x14C, 0x8664}) {
        Bytes signedStub = FakePeStub(machine);
        PutAt(signedStub, machine == 0x14C ? 280 : 296, "\0\x20\0\0");
        std::string stub = dir.Write("stub.exe", signedStub);
        std::string input = dir.Write("a.txt", "a");
        Result packed = Pack({"-o", dir / "out.exe", "--stub", stub, input});
        EXPECT_EQ(packed.code, 1) << machine;
        EXPECT_NE(packed.err.find("sign the image after packing: a signature does not survive appending"),
                  std::string::npos) << packed.err;
    }
}

// ---- The program's own resources, read back by other tools ---------------------------------

struct RealStub {
    const char *file, *objdump, *arch;
};
const RealStub kStubs[] = {{"brevant-stub.exe", "i686-w64-mingw32-objdump", "x86"},
                           {"brevant-stub-x64.exe", "x86_64-w64-mingw32-objdump", "x64"}};

std::string StubPath(const RealStub &stub) { return std::string(BREVANT_BIN_DIR) + "/" + stub.file; }

std::string Utf16Bytes(const std::u16string &text)
{
    std::string out;
    for (char16_t c : text)
        out += {(char)(c & 0xFF), (char)(c >> 8)};
    return out;
}

// What objdump makes of the base relocations, which come before the
// resource directory in its report.
std::string Relocations(const RealStub &stub, const std::string &image)
{
    std::string out;
    EXPECT_EQ(Shell(std::string(stub.objdump) + " -p '" + image + "'", &out), 0) << out;
    size_t at = out.find("PE File Base Relocations"), end = out.find("The .rsrc Resource Directory");
    EXPECT_TRUE(at != std::string::npos && end > at) << image;
    EXPECT_EQ(out.find("warning"), std::string::npos) << out;
    return at == std::string::npos ? "" : out.substr(at, end - at);
}

TEST(ProgramResources, IconVersionAndExecutionLevelReadBackWithWrestoolAndObjdumpOnBothStubs)
{
    for (const RealStub &stub : kStubs) {
        ASSERT_TRUE(std::filesystem::exists(StubPath(stub))) << StubPath(stub) << ": build the Windows trees";
        TempDir dir;
        Bytes ico = IcoFile({IconBitmap(16, 8), IconBitmap(32, 32), IconBitmap(48, 32)}, {16, 32, 48});
        std::string icon = dir.Write("app.ico", ico), out = dir / "setup.exe";
        Result packed = Pack({"-o", out, "--stub", StubPath(stub), "--arch", stub.arch, "--icon", icon, "--file-version", "1.2.3.4",
                              "--product", "Brevant D\xC3\xA9mo", "--company", "Brevant", "--copyright",
                              "\xC2\xA9 2026 Brevant", "--execution-level", "requireAdministrator",
                              dir.Write("a.txt", "a")});
        ASSERT_EQ(packed.code, 0) << packed.err;

        std::string listed, back;
        ASSERT_EQ(Shell("wrestool -l '" + out + "'", &listed), 0) << listed;
        for (const char *expected : {"--type=3 --name=1 ", "--type=3 --name=2 ", "--type=3 --name=3 ",
                                     "type=group_icon", "type=version", "--type=24 --name=1", "type=dialog"})
            EXPECT_NE(listed.find(expected), std::string::npos) << stub.file << ": " << expected << "\n" << listed;
        ASSERT_EQ(Shell("wrestool -x -t14 '" + out + "' > '" + dir / "back.ico" + "'", &back), 0) << back;
        // wrestool writes as many bytes again as the group takes after the
        // images, from a stub built by windres too: the file as given first.
        Bytes ico2 = pack::ReadWholeFile(dir / "back.ico");
        EXPECT_TRUE(ico2.size() >= ico.size() && std::equal(ico.begin(), ico.end(), ico2.begin())) << stub.file;
        ASSERT_EQ(Shell("wrestool -x --raw -t16 '" + out + "'", &back), 0);
        const char fixed[] = "\xBD\x04\xEF\xFE\0\0\1\0\2\0\1\0\4\0\3\0";  // 0xFEEF04BD, 1.0, 1.2.3.4
        EXPECT_NE(back.find(std::string(fixed, 16)), std::string::npos) << stub.file;
        for (const std::u16string &text : {std::u16string(u"ProductName"), std::u16string(u"Brevant D\u00E9mo"),
                                           std::u16string(u"\u00A9 2026 Brevant"), std::u16string(u"1.2.3.4")})
            EXPECT_NE(back.find(Utf16Bytes(text)), std::string::npos) << stub.file;
        ASSERT_EQ(Shell("wrestool -x --raw -t24 '" + out + "'", &back), 0);
        EXPECT_NE(back.find("level=\"requireAdministrator\""), std::string::npos) << back;

        EXPECT_TRUE(Relocations(stub, out) == Relocations(stub, StubPath(stub))) << stub.file;
        Result described = Pack({"--describe", out});
        EXPECT_EQ(described.code, 0) << described.out;
        for (const char *expected : {"requireAdministrator", "16x16, 32x32, 48x48", "1.2.3.4", "\"Brevant D\xC3\xA9mo\""})
            EXPECT_NE(described.out.find(expected), std::string::npos) << expected << "\n" << described.out;
    }
}

TEST(ProgramResources, WhatCannotBeWrittenIsRefusedNamingIt)
{
    TempDir dir;
    std::string stub = StubPath(kStubs[0]), input = dir.Write("a.txt", "a"), out = dir / "out.exe";
    ASSERT_TRUE(std::filesystem::exists(stub)) << stub;
    auto expect = [&](std::vector<std::string> options, int code, const std::string &message) {
        std::vector<std::string> args = {"-o", out, "--stub", stub};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(input);
        Result result = Pack(args);
        EXPECT_EQ(result.code, code) << message;
        EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
        EXPECT_FALSE(std::filesystem::exists(out));
    };
    // Noise: no stream makes it much smaller.
    Bytes noise = IconBitmap(128, 32);
    uint32_t seed = 1;
    for (size_t i = 40; i < 40 + 128 * 128 * 4; i++)
        noise[i] = (uint8_t)((seed = seed * 1103515245 + 12345) >> 24);
    std::string large = dir.Write("large.ico", IcoFile({IconBitmap(16, 8), noise}, {16, 128}));
    expect({"--exe-icon", large}, 1,
           large + ": the program's icon, made as small as it goes without loss (16x16 1384 bytes, 128x128 PNG ");
    expect({"--exe-icon", large}, 1,
           "pushes the configuration past offset 59996; the images up to 16x16 (16x16 1384 bytes) fit together: "
           "give --exe-icon-max 16\n");
    Bytes spelled = IconBitmap(32, 32);
    std::copy_n("PK\3\4", 4, spelled.begin() + 100);
    std::string bad = dir.Write("bad.ico", IcoFile({IconBitmap(16, 8), spelled}, {16, 32}));
    expect({"--exe-icon", bad}, 1, bad + ": icon image 2 (32x32) holds the bytes \"PK\\3\\4\"");
    for (const char *version : {"1.2.3.65536", "1.2.3.4.5", "1.-2.3.4", "v1.2.3.4", "1.2.", "", "1..2"})
        expect({"--file-version", version}, 2, "--file-version takes one to four numbers from 0 to 65535");
    expect({"--execution-level", "admin"}, 2, "--execution-level takes asInvoker, highestAvailable or");
}

}  // namespace
