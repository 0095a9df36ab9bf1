// brevant-pack and the stub's PE headers: the fields a signing tool writes
// after packing, a signed stub, and the resources the packer gives the image.
#include <gtest/gtest.h>

#include <sstream>

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

// The packer's placement rule looks where the stub's scans look: a stub
// whose headers hold a signature is no stub holding one.
TEST(PeHeaders, ASignatureInTheHeadersDoesNotCountAsTheStubs)
{
    pack::ImagePlan plan;
    plan.stub = FakePeStub();
    PutAt(plan.stub, 216, "JAVA");
    plan.entries.push_back(pack::MakeEntry("a.txt", Bytes(100, 'a'), 0, 12, std::cerr));
    EXPECT_NO_THROW(pack::BuildImage(plan));
    PutAt(plan.stub, 0x200, "JAVA");
    EXPECT_THROW(pack::BuildImage(plan), pack::PackError);
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

}  // namespace
