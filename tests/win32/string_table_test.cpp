// The string tables of the built stub, in English (1033) and Japanese (1041):
// every id holds exactly the expected text. The stub is loaded as data, and
// each language's table is read directly, whatever the user's language.
#include <windows.h>

#include <gtest/gtest.h>
#include "wide_text.h"

#include <set>
#include <string>

namespace {

std::wstring StubPath;

struct Text {
    UINT id;
    const char *english;
    const char *japanese;
};

const Text Texts[] = {
    {3, "Couldn't verify %1.", "%1 を検査することができません."},
    {4, "Internal error. Bad download?", "内部ｴﾗｰです. ﾀﾞｳﾝﾛｰﾄﾞが失敗しています."},
    {7, "Install Failed. Bad download?", "ｲﾝｽﾄｰﾙは失敗しました. ﾀﾞｳﾝﾛｰﾄﾞが失敗しています."},
    {9, "Unzipping %1", "%1 を解凍中です"},
    {10, "%1 exists. Replace?", "%1 はすでに存在します. 上書きしますか?"},
    {11, "Couldn't create a protected folder. Nothing was installed.",
     "保護されたﾌｫﾙﾀﾞを作成できません. 何もｲﾝｽﾄｰﾙされていません."},
    {12, "Couldn't create %1. Click OK to continue, or Cancel to exit immediately.",
     "%1を作成できません. OKﾎﾞﾀﾝを押すと続行します.  ｷｬﾝｾﾙﾎﾞﾀﾝを押すとただちに終了します."},
    {13, "Error reading from archive.", "ｱｰｶｲﾌﾞから読み込み時にｴﾗｰが発生しました."},
    {14, "Couldn't write %1. The disk may be full. Click OK to continue, or Cancel to exit immediately.",
     "%1に書き込めません. ﾃﾞｨｽｸがいっぱいの可能性があります. OKﾎﾞﾀﾝを押すと続行します.  ｷｬﾝｾﾙﾎﾞﾀﾝを押すとただちに終了します."},
    {15, "This program's folder name cannot be used. Move the program to another folder.",
     "このﾌﾟﾛｸﾞﾗﾑのﾌｫﾙﾀﾞ名は使えません. 別のﾌｫﾙﾀﾞに移してください."},
};

const WORD English = 1033, Japanese = 1041;

// The stub, loaded as data for the length of one case.
struct Stub {
    Stub() { module = LoadLibraryExW(StubPath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE); }
    ~Stub()
    {
        if (module) FreeLibrary(module);
    }

    // The text of id in one language's table; false when that table or the
    // id is missing.
    bool Load(UINT id, WORD language, std::string *text)
    {
        HRSRC found = FindResourceExW(module, (LPCWSTR)RT_STRING,
                                      MAKEINTRESOURCEW(id / 16 + 1), language);
        if (!found) return false;
        const WCHAR *p = (const WCHAR *)LockResource(LoadResource(module, found));
        const WCHAR *end = p + SizeofResource(module, found) / sizeof(WCHAR);
        for (UINT i = 0; i < id % 16; i++) {
            if (p >= end) return false;
            p += 1 + *p;
        }
        if (p >= end || *p == 0 || p + 1 + *p > end) return false;
        *text = Utf8(std::wstring(p + 1, *p));
        return true;
    }

    HMODULE module = nullptr;
};

TEST(StringTable, EnglishTexts)
{
    Stub stub;
    ASSERT_TRUE(stub.module) << "cannot load the stub as data";
    for (const Text &t : Texts) {
        std::string text;
        ASSERT_TRUE(stub.Load(t.id, English, &text)) << "id " << t.id;
        EXPECT_EQ(text, t.english) << "id " << t.id;
    }
}

TEST(StringTable, JapaneseTexts)
{
    Stub stub;
    ASSERT_TRUE(stub.module) << "cannot load the stub as data";
    for (const Text &t : Texts) {
        std::string text;
        ASSERT_TRUE(stub.Load(t.id, Japanese, &text)) << "id " << t.id;
        EXPECT_EQ(text, t.japanese) << "id " << t.id;
    }
}

std::set<WORD> *Languages;

BOOL CALLBACK AddLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR)
{
    Languages->insert(language);
    return TRUE;
}

TEST(StringTable, ExactlyTheTwoLanguages)
{
    Stub stub;
    ASSERT_TRUE(stub.module) << "cannot load the stub as data";
    std::set<UINT> blocks;
    for (const Text &t : Texts) blocks.insert(t.id / 16 + 1);
    for (UINT block : blocks) {
        std::set<WORD> languages;
        Languages = &languages;
        EnumResourceLanguagesW(stub.module, (LPCWSTR)RT_STRING, MAKEINTRESOURCEW(block),
                               AddLanguage, 0);
        EXPECT_TRUE(languages == (std::set<WORD>{English, Japanese}))
            << "block " << block << ": " << languages.size() << " languages";
    }
}

// The web link's cursor (group 108): one 32 x 32 monochrome image with its
// hot spot at the tip of the raised index finger, (6, 0), which is black.
TEST(LinkCursor, IsAThirtyTwoPixelMonochromeHandWithItsHotSpotAtTheFingerTip)
{
    Stub stub;
    ASSERT_TRUE(stub.module) << "cannot load the stub as data";
    HRSRC group = FindResourceW(stub.module, MAKEINTRESOURCEW(108), (LPCWSTR)RT_GROUP_CURSOR);
    ASSERT_TRUE(group);
    const WORD *directory = (const WORD *)LockResource(LoadResource(stub.module, group));
    ASSERT_EQ(directory[1], 2);  // cursors
    ASSERT_EQ(directory[2], 1);  // one image
    // The entry: width, height (both masks), planes, bits, bytes, image id.
    const BYTE *entry = (const BYTE *)(directory + 3);
    WORD id = *(const WORD *)(entry + 12);
    HRSRC image = FindResourceW(stub.module, MAKEINTRESOURCEW(id), (LPCWSTR)RT_CURSOR);
    ASSERT_TRUE(image);
    const BYTE *data = (const BYTE *)LockResource(LoadResource(stub.module, image));
    const WORD *hotSpot = (const WORD *)data;
    EXPECT_EQ(hotSpot[0], 6);
    EXPECT_EQ(hotSpot[1], 0);
    const BITMAPINFOHEADER *header = (const BITMAPINFOHEADER *)(data + 4);
    EXPECT_EQ(header->biWidth, 32);
    EXPECT_EQ(header->biHeight, 64);
    EXPECT_EQ(header->biBitCount, 1);
    // Rows run bottom-up, the colour bits first, then the mask; the top row
    // is row 31 of each. At the hot spot: colour 0 and mask 0, black.
    const BYTE *colour = data + 4 + header->biSize + 2 * sizeof(RGBQUAD);
    const BYTE *mask = colour + 32 * 4;
    int bit = 0x80 >> 6;
    EXPECT_EQ(colour[31 * 4] & bit, 0);
    EXPECT_EQ(mask[31 * 4] & bit, 0);
    // The top-left corner is transparent: mask 1.
    EXPECT_NE(mask[31 * 4] & 0x80, 0);
}

}  // namespace


int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        fprintf(stderr, "usage: string_table_test STUB.exe\n");
        return 2;
    }
    StubPath = WindowsPath(argv[1]);
    return RUN_ALL_TESTS();
}
