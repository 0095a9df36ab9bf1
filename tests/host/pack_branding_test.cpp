// The publisher's title, banner and link in the image's dialogs, and the
// checks of a fixed destination with %NAME% references.
#include <gtest/gtest.h>

#include <filesystem>

#include "pack_test_util.h"
#include "resources/resource.h"

using namespace packtest;

namespace {

const std::string kStub = std::string(BREVANT_BIN_DIR) + "/brevant-stub.exe";

struct Texts {
    std::string title, banner, link;
    bool operator==(const Texts &o) const { return title == o.title && banner == o.banner && link == o.link; }
};

std::ostream &operator<<(std::ostream &out, const Texts &t)
{
    return out << "{" << t.title << " | " << t.banner << " | " << t.link << "}";
}

std::string Narrow(const std::u16string &text)
{
    std::string out;
    for (char16_t c : text)
        out += c < 0x80 ? (char)c : '?';
    return out;
}

// The texts of every dialog of the packed image, by form and language:
// installer English, installer Japanese, extractor English, extractor Japanese.
std::vector<Texts> DialogsOf(const std::string &image)
{
    pack::ProgramInfo info;
    EXPECT_TRUE(pack::ReadProgramInfo(pack::ReadWholeFile(image), &info));
    std::vector<Texts> out(4);
    for (const auto &d : info.dialogs)
        out[(d.form == IDD_EXTRACTOR) * 2 + d.japanese] = {Narrow(d.title), Narrow(d.banner), Narrow(d.link)};
    return out;
}

class Branding : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(std::filesystem::exists(kStub)) << kStub << ": build the Windows trees";
        input_ = dir_.Write("a.txt", "a");
    }
    Result Run(std::vector<std::string> options)
    {
        std::vector<std::string> args = {"-o", dir_ / "out.exe", "--force", "--stub", kStub};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(input_);
        return Pack(args);
    }
    TempDir dir_;
    std::string input_;
};

TEST_F(Branding, TitleBannerAndLinkGoIntoBothFormsAndLanguages)
{
    Result r = Run({"--title", "Acme Setup", "--banner", "Acme 2.4", "--link", "https://acme.example/",
                    "--link-ja", "https://acme.example/ja/"});
    ASSERT_EQ(r.code, 0) << r.err;
    Texts en = {"Acme Setup", "Acme 2.4", "https://acme.example/"}, ja = {"Acme Setup", "Acme 2.4",
                                                                          "https://acme.example/ja/"};
    EXPECT_EQ(DialogsOf(dir_ / "out.exe"), (std::vector<Texts>{en, ja, en, ja}));

    Result shown = Pack({"--describe", dir_ / "out.exe"});
    EXPECT_NE(shown.out.find("  title:         \"Acme Setup\"\n"), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("  link:          \"https://acme.example/\" (Japanese: \"https://acme.example/ja/\")\n"),
              std::string::npos)
        << shown.out;
}

TEST_F(Branding, WithoutOptionsTheLinkIsHiddenAndTheBannerIsTheProduct)
{
    ASSERT_EQ(Run({}).code, 0);
    std::vector<Texts> plain = DialogsOf(dir_ / "out.exe");
    EXPECT_EQ(plain[0], (Texts{"Brevant Installer", "Brevant self-extracting archive", ""}));
    EXPECT_EQ(plain[2], (Texts{"Brevant Self-Extractor", "Brevant self-extracting archive", ""}));
    EXPECT_NE(Pack({"--describe", dir_ / "out.exe"}).out.find("  link:          none\n"), std::string::npos);

    ASSERT_EQ(Run({"--product", "Acme Tools", "--link", "none"}).code, 0);
    EXPECT_EQ(DialogsOf(dir_ / "out.exe")[3].banner, "Acme Tools");
}

// The line at the foot of the dialog: a banner too long for its own part
// takes the room the link leaves; together they must fit the line.
TEST_F(Branding, TextsThatDoNotFitTheirLineAreRefusedSayingHowMuchFits)
{
    std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"--title", std::string(57, 't')}, "--title: the title is about 57 characters wide; the dialog's caption "
                                            "holds about 56\n"},
        {{"--banner", std::string(40, 'b'), "--link", "https://" + std::string(30, 'l')},
         "--banner: the banner is about 40 characters wide; beside the link the dialog's line holds about 27 "
         "(or shorten the link)\n"},
        {{"--banner-ja", "\xE3\x83\x90" + std::string(65, 'b')},
         "--banner-ja: the banner is about 67 characters wide; the dialog's line holds about 66 in the "
         "Japanese dialog\n"},
        {{"--link", "https://" + std::string(58, 'l')},
         "--link: the link is about 66 characters wide; the dialog's line holds about 65\n"},
        {{"--product", std::string(67, 'p')}, "--product: the banner is about 67"},
        {{"--title-ja", "two\nlines"}, "--title-ja: the title is one line of text"},
    };
    for (auto &[options, message] : refused) {
        Result r = Run(options);
        EXPECT_EQ(r.code, 1) << message;
        EXPECT_NE(r.err.find("brevant-pack: " + message), std::string::npos) << r.err;
    }
    ASSERT_EQ(Run({"--banner", std::string(40, 'b'), "--link", "https://" + std::string(17, 'l')}).code, 0);
    ASSERT_EQ(Run({"--banner", std::string(66, 'b')}).code, 0);
}

TEST_F(Branding, ALinkIsAWebAddressOrNone)
{
    for (const char *link : {"C:\\Windows\\notepad.exe", "ftp://x.example/", "https://", "https://a b/"}) {
        Result r = Run({"--link", link});
        EXPECT_EQ(r.code, 2) << link;
        EXPECT_NE(r.err.find("--link takes a web address"), std::string::npos) << r.err;
    }
    EXPECT_EQ(Run({"--link", "MAILTO:help@acme.example"}).code, 0);
    EXPECT_EQ(Run({"--title", ""}).code, 2);
}

TEST(FixedFolder, IsAbsoluteOrBeginsWithAReference)
{
    const char *accepted[] = {"C:\\Apps\\Demo", "d:\\", "\\\\server\\share", "\\\\server\\share\\Demo",
                              "%LOCALAPPDATA%\\Programs\\Demo", "%ProgramFiles%\\Demo", "C:\\Users\\%USERNAME%\\x"};
    for (const char *path : accepted) {
        std::ostringstream err;
        EXPECT_NO_THROW(pack::CheckFixedFolder(path, err)) << path;
        EXPECT_EQ(err.str(), "") << path;
    }
    const char *refused[] = {"Demo", "\\Demo", "C:Demo", "C:/Demo", "\\\\server", "\\\\server\\", "\\\\\\share",
                             "C:\\100%", "%%\\Demo", "x%LOCALAPPDATA%\\Demo"};
    for (const char *path : refused) {
        std::ostringstream err;
        EXPECT_THROW(pack::CheckFixedFolder(path, err), pack::PackError) << path;
    }
    std::ostringstream err;
    pack::CheckFixedFolder("%MYAPPS%\\Demo", err);
    EXPECT_EQ(err.str(), "brevant-pack: warning: --dest fixed:%MYAPPS%\\Demo: %MYAPPS% is not one of Windows' "
                         "standard variables; where the user has no such variable the stub extracts nothing\n");
}

TEST(FixedFolder, TheCommandRefusesARelativeFolder)
{
    TempDir dir;
    Result r = Pack({"-o", dir / "x.exe", "--stub", dir.Write("stub.exe", FakeStub()), "--dest", "fixed:Demo",
                     dir.Write("a.txt", "a")});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("--dest fixed:Demo: the folder is neither absolute"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "x.exe"));
}

}  // namespace
