// The progress control's pixels: the control of the program itself, painted
// with known progress values in a window of this test, and read back from
// the screen.
#include "ui/ui.h"

#include <gtest/gtest.h>

#include "extract/progress.h"
#include "messages/messages.h"

namespace {

const int Width = 200, Height = 40;  // inner rectangle: 2..198 x 2..38

class Progress : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        CreateProgramHeap();
        ModuleInstance = GetModuleHandleW(nullptr);
        RegisterProgressClass();
    }

    void SetUp() override
    {
        parent = CreateWindowExA(WS_EX_TOPMOST, "STATIC", "", WS_POPUP | WS_VISIBLE, 10, 10,
                                 Width + 20, Height + 20, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(parent, nullptr);
        MainWindow = parent;
        ProgressWindow = CreateWindowExW(0, PROGRESS_CLASS, L"X", WS_CHILD, 10, 10, Width, Height,
                                         parent, (HMENU)0, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(ProgressWindow, nullptr);
        highlight = GetSysColor(COLOR_HIGHLIGHT);
        highlightText = GetSysColor(COLOR_HIGHLIGHTTEXT);
    }

    void TearDown() override
    {
        DestroyWindow(parent);
        ProgressWindow = nullptr;
        MainWindow = nullptr;
        CurrentName = nullptr;
    }

    // Shows the control as the extraction loop does, lets the first paint
    // and erase happen, then refreshes it with the given record.
    void Paint(uint32_t done, uint32_t total, const char16_t *name)
    {
        ProgressDone = done, ProgressTotal = total, CurrentName = name;
        ShowProgressWindow(true);
        UpdateWindow(parent);
        RefreshProgress();
        ReadBack();
    }

    void ReadBack()
    {
        GdiFlush();
        HDC dc = GetDC((HWND)ProgressWindow);
        pixels.assign(Width * Height, 0);
        for (int y = 0; y < Height; y++)
            for (int x = 0; x < Width; x++)
                pixels[y * Width + x] = GetPixel(dc, x, y);
        ReleaseDC((HWND)ProgressWindow, dc);
    }

    COLORREF At(int x, int y) const { return pixels[y * Width + x]; }

    // The columns of the inner rectangle where colour appears in some row.
    std::vector<int> ColumnsWith(COLORREF colour, int from, int to) const
    {
        std::vector<int> columns;
        for (int x = from; x < to; x++)
            for (int y = 2; y < Height - 2; y++)
                if (At(x, y) == colour) {
                    columns.push_back(x);
                    break;
                }
        return columns;
    }

    HWND parent = nullptr;
    COLORREF highlight = 0, highlightText = 0;
    std::vector<COLORREF> pixels;
};

TEST_F(Progress, FrameRingsAndTheSplitAtTheComputedFill)
{
    Paint(250, 1000, u"file.txt");
    const COLORREF black = RGB(0, 0, 0), white = RGB(255, 255, 255);
    // The stock dark-grey and light-grey brushes.
    const COLORREF dark = RGB(64, 64, 64), light = RGB(192, 192, 192);
    // Outer ring: black top and left (with both of their corners), white
    // right and bottom.
    EXPECT_EQ(At(0, 0), black);
    EXPECT_EQ(At(0, 20), black);
    EXPECT_EQ(At(100, 0), black);
    EXPECT_EQ(At(Width - 1, 0), black);
    EXPECT_EQ(At(0, Height - 1), black);
    EXPECT_EQ(At(Width - 1, 20), white);
    EXPECT_EQ(At(100, Height - 1), white);
    EXPECT_EQ(At(Width - 1, Height - 1), white);
    // Inner ring: dark grey top and left, light grey right and bottom.
    EXPECT_EQ(At(1, 1), dark);
    EXPECT_EQ(At(1, 20), dark);
    EXPECT_EQ(At(Width - 2, 1), dark);
    EXPECT_EQ(At(1, Height - 2), dark);
    EXPECT_EQ(At(Width - 2, 20), light);
    EXPECT_EQ(At(100, Height - 2), light);

    // fill = 2 + 196 * 250 / 1000 = 51: columns 2..50 done, 51.. the rest.
    // The top inner row is above the text.
    EXPECT_EQ(At(2, 2), highlight);
    EXPECT_EQ(At(50, 2), highlight);
    EXPECT_EQ(At(51, 2), highlightText);
    EXPECT_EQ(At(Width - 3, 2), highlightText);

    // The text crosses the boundary: letters in the highlight-text colour
    // over the done part, in the highlight colour over the rest, centred on
    // the inner rectangle (x 100) whatever the fill.
    std::vector<int> doneInk = ColumnsWith(highlightText, 2, 51);
    std::vector<int> restInk = ColumnsWith(highlight, 51, Width - 2);
    ASSERT_FALSE(doneInk.empty());
    ASSERT_FALSE(restInk.empty());
    int left = doneInk.front(), right = restInk.back();
    EXPECT_NEAR((left + right) / 2.0, 100, 2.5);
}

TEST_F(Progress, TextIsCentredVerticallyInTheMainWindowsFont)
{
    Paint(0, 1000, u"a.txt");
    // Nothing done: the whole inner rectangle is the rest, the text in H.
    EXPECT_TRUE(ColumnsWith(highlight, 2, Width - 2).size() > 5);
    EXPECT_EQ(At(2, 2), highlightText);
    int top = Height, bottom = 0;
    for (int y = 2; y < Height - 2; y++)
        for (int x = 2; x < Width - 2; x++)
            if (At(x, y) == highlight) {
                top = y < top ? y : top;
                bottom = y > bottom ? y : bottom;
            }
    // The ink lies inside the text cell placed at (h - th) / 2.
    HDC dc = GetDC((HWND)ProgressWindow);
    SIZE size;
    GetTextExtentPoint32A(dc, "Unzipping a.txt", 15, &size);
    ReleaseDC((HWND)ProgressWindow, dc);
    int cell = 2 + (36 - size.cy) / 2;
    EXPECT_GE(top, cell);
    EXPECT_LT(bottom, cell + size.cy);
}

TEST_F(Progress, AllDoneAnEmptyTotalAndMoreThanTheTotal)
{
    Paint(1000, 1000, u"z");
    EXPECT_EQ(At(2, 2), highlight);
    EXPECT_EQ(At(Width - 3, Height - 3), highlight);
    EXPECT_TRUE(ColumnsWith(highlightText, 2, Width - 2).size() > 0);

    // No bytes at all: drawn as nothing done.
    Paint(0, 0, u"z");
    EXPECT_EQ(At(2, 2), highlightText);
    EXPECT_EQ(At(Width - 3, 2), highlightText);

    // Entry sizes that disagree: more done than the total shows a full bar.
    Paint(3000000000u, 1000, u"z");
    EXPECT_EQ(At(Width - 3, 2), highlight);
}

TEST_F(Progress, ARefreshRepaintsWhatWasCoveredEvenWithNothingChanged)
{
    Paint(500, 1000, u"same.txt");
    ASSERT_EQ(At(2, 2), highlight);
    // Something drew over the control and the system marked it for painting,
    // as when a window over it goes away; the progress record is unchanged.
    HDC dc = GetDC((HWND)ProgressWindow);
    RECT all = {0, 0, Width, Height};
    FillRect(dc, &all, (HBRUSH)GetStockObject(WHITE_BRUSH));
    ReleaseDC((HWND)ProgressWindow, dc);
    InvalidateRect((HWND)ProgressWindow, nullptr, FALSE);
    RefreshProgress();
    ReadBack();
    EXPECT_EQ(At(0, 0), RGB(0, 0, 0));
    EXPECT_EQ(At(2, 2), highlight);
}

TEST_F(Progress, ARefreshSoonAfterAnotherWaitsForTheCatchUp)
{
    // The two refreshes must come within the 15 ms: on a busy machine a
    // try where they did not is made again.
    for (int attempt = 0;; attempt++) {
        Paint(0, 1000, u"first.txt");
        ASSERT_EQ(At(2, 2), highlightText);
        DWORD before = GetTickCount();
        RefreshProgress();  // the last refresh: now
        ProgressDone = 1000;
        RefreshProgressInTime();
        bool soon = GetTickCount() - before < 15;
        ReadBack();
        if (!soon && attempt < 20)
            continue;
        ASSERT_TRUE(soon) << "no two refreshes within 15 ms in 20 tries";
        EXPECT_EQ(At(2, 2), highlightText);  // noted, not painted
        break;
    }
    CatchUpProgress();
    ReadBack();
    EXPECT_EQ(At(2, 2), highlight);
}

TEST_F(Progress, WithoutANameNothingIsDrawn)
{
    Paint(500, 1000, nullptr);
    // Only the class background from showing the control, no frame.
    COLORREF background = GetSysColor(COLOR_BACKGROUND);
    EXPECT_EQ(At(0, 0), background);
    EXPECT_EQ(At(1, 1), background);
    EXPECT_EQ(At(100, 20), background);
}

}  // namespace

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
