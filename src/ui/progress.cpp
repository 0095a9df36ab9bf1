// The "PROGRESS" control: a sunken frame two pixels wide around a two-tone
// bar, the done part in the highlight colour, the rest in the highlight-text
// colour, with "Unzipping <name>" centred across it in the opposite colours.
// It keeps no data of its own and draws the shared progress record.
#include "ui.h"

#include "../extract/progress.h"
#include "../messages/messages.h"

HWND ProgressWindow;

// Larger than any control: invalidating it invalidates the whole client area.
static const RECT RefreshBox = {0, 0, 5000, 5000};

// What the last paint showed: the name and the right edge of the done part.
// A refresh that would paint exactly the same pixels over a control with
// nothing waiting to be painted (not shown anew, not uncovered) is skipped
// (each
// repaint is a round trip to the display; a large entry flushes thousands
// of times while the bar moves a few hundred pixels).
static char16_t PaintedName[PATH_CHARS];
static int32_t PaintedFill;  // 0: none yet (a fill lies inside the frame, never at 0)

// The extraction's refreshes are coalesced by time: a large entry flushes
// its window hundreds of times a second and small entries start thousands
// of times, far more often than anyone can see, and each synchronous repaint
// costs a round trip to the display (about 0.3 ms under Wine). A refresh
// within REFRESH_TICKS of the last one is only noted; the first one after
// such a pause paints, whatever asks for it (an entry's start or a flush).
// A noted one is caught up before a message box covers the dialog, so that
// a prompt comes with the bar showing its entry, and when the control is
// hidden at the end.
#define REFRESH_TICKS 15
static uint32_t RefreshedAt;
static bool RefreshNoted;

// One edge of a frame, filled with a stock brush.
static void FillEdge(HDC canvas, LONG left, LONG top, LONG right, LONG bottom, int brush)
{
    RECT r = {left, top, right, bottom};
    FillRect(canvas, &r, (HBRUSH)GetStockObject(brush));
}

// A one-pixel frame just inside r: top and left edges with first, right and
// bottom edges with second (stock brushes).
static void DrawFrame(HDC canvas, const RECT *r, int first, int second)
{
    FillEdge(canvas, r->left, r->top, r->left + 1, r->bottom, first);
    FillEdge(canvas, r->left, r->top, r->right, r->top + 1, first);
    FillEdge(canvas, r->right - 1, r->top + 1, r->right, r->bottom, second);
    FillEdge(canvas, r->left + 1, r->bottom - 1, r->right, r->bottom, second);
}

// product / divisor, truncated, for a quotient that fits 32 bits (the high
// bits of a larger one are dropped). Shift and subtract: the stub links no
// 64-bit division helper.
static uint32_t Divide(uint64_t product, uint32_t divisor)
{
    uint64_t remainder = 0;
    uint32_t quotient = 0;
    for (int bit = 63; bit >= 0; bit--) {
        remainder = remainder << 1 | ((product >> bit) & 1);
        quotient <<= 1;
        if (remainder >= divisor) {
            remainder -= divisor;
            quotient |= 1;
        }
    }
    return quotient;
}

static void Shrink(RECT *r)
{
    r->left++, r->top++, r->right--, r->bottom--;
}

// The inner rectangle of the control, inside both frame rings.
static void InnerBox(HWND window, RECT *r)
{
    GetClientRect(window, r);
    Shrink(r);
    Shrink(r);
}

// The right edge of the done part. Not limited to the bar: more done than
// the total (entries whose sizes disagree) shows as a full bar.
static int32_t FillOf(const RECT *r)
{
    uint32_t done = ProgressDone, total = ProgressTotal;
    if (total == 0)
        done = 0, total = 1;
    return r->left + (int32_t)Divide((uint64_t)(uint32_t)(r->right - r->left) * done, total);
}

static bool SameName(const char16_t *name)
{
    uint32_t i = 0;
    for (; name[i] && i < PATH_CHARS - 1; i++)
        if (name[i] != PaintedName[i])
            return false;
    return name[i] == PaintedName[i];
}

static void RememberPainted(const char16_t *name, int32_t fill)
{
    uint32_t i = 0;
    for (; name[i] && i < PATH_CHARS - 1; i++)
        PaintedName[i] = name[i];
    PaintedName[i] = 0;
    PaintedFill = fill;
}

// Fills r with back and draws text at (x, y) in fore, clipped to r.
static void DrawTextInBox(HDC canvas, int x, int y, const RECT *r, COLORREF back,
                          COLORREF fore, LPCWSTR text, UINT length)
{
    SetBkColor(canvas, back);
    SetTextColor(canvas, fore);
    ExtTextOutW(canvas, x, y, ETO_OPAQUE | ETO_CLIPPED, r, text, length, nullptr);
}

static void PaintProgress(HWND window)
{
    PAINTSTRUCT paint;
    HDC canvas = BeginPaint(window, &paint);
    if (!CurrentName) {
        EndPaint(window, &paint);
        return;
    }
    RECT r;
    GetClientRect(window, &r);
    DrawFrame(canvas, &r, BLACK_BRUSH, WHITE_BRUSH);
    Shrink(&r);
    DrawFrame(canvas, &r, DKGRAY_BRUSH, LTGRAY_BRUSH);
    Shrink(&r);
    int32_t w = r.right - r.left, h = r.bottom - r.top;

    // Loaded anew on every paint: the language may differ per user, and the
    // name changes per entry. Without memory, the bar is drawn without text.
    char16_t *loaded = FormatResString(IDS_UNZIPPING, CurrentName);
    LPCWSTR text = loaded ? (LPCWSTR)loaded : L"";
    UINT length = (UINT)lstrlenW(text);

    HFONT font = (HFONT)SendMessageW((HWND)MainWindow, WM_GETFONT, 0, 0);
    HGDIOBJ old = nullptr;
    if (font)
        old = SelectObject(canvas, font);
    COLORREF highlight = GetSysColor(COLOR_HIGHLIGHT);
    COLORREF highlightText = GetSysColor(COLOR_HIGHLIGHTTEXT);
    SetTextAlign(canvas, TA_CENTER | TA_TOP);
    int32_t fill = FillOf(&r);
    RememberPainted(CurrentName, fill);
    SIZE size = {0, 0};
    GetTextExtentPoint32W(canvas, text, (int)length, &size);
    int32_t x = r.left + w / 2, y = r.top + (h - size.cy) / 2;

    RECT donePart = {r.left, r.top, fill, r.bottom};
    RECT restPart = {fill, r.top, r.right, r.bottom};
    DrawTextInBox(canvas, x, y, &donePart, highlight, highlightText, text, length);
    DrawTextInBox(canvas, x, y, &restPart, highlightText, highlight, text, length);

    if (font)
        SelectObject(canvas, old);
    HeapFreeBlock(loaded);
    EndPaint(window, &paint);
}

// The control's text is what it shows, "Unzipping name" for the name last
// painted: what a screen reader, or a test, reads of it. Copied into at
// most size units with its zero; the length without it.
static intptr_t ShownText(char16_t *into, uintptr_t size)
{
    char16_t *text = PaintedFill ? FormatResString(IDS_UNZIPPING, PaintedName) : nullptr;
    uintptr_t n = 0;
    for (; text && text[n] && (!into || n + 1 < size); n++)
        if (into)
            into[n] = text[n];
    if (into && size)
        into[n] = 0;
    HeapFreeBlock(text);
    return (intptr_t)n;
}

void RegisterProgressClass()
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = ProgressWndProc;
    windowClass.hInstance = (HINSTANCE)ModuleInstance;
    windowClass.hCursor = LoadCursorW(nullptr, (LPCWSTR)IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)(INT_PTR)(COLOR_BACKGROUND + 1);
    windowClass.lpszClassName = PROGRESS_CLASS;
    RegisterClassW(&windowClass);
}

LRESULT CALLBACK ProgressWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_GETDLGCODE:
        return DLGC_STATIC;
    case WM_GETTEXTLENGTH:
        return ShownText(nullptr, 0);
    case WM_GETTEXT:
        return ShownText((char16_t *)lParam, wParam);
    case WM_PAINT:
        PaintProgress(window);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void RefreshProgress()
{
    if (!ProgressWindow)
        return;
    RefreshedAt = GetTickCount();
    RefreshNoted = false;
    // The cheap tests first: asking for the update region is a call into
    // the system.
    if (CurrentName && SameName(CurrentName)) {
        RECT r;
        InnerBox(ProgressWindow, &r);
        if (FillOf(&r) == PaintedFill && !GetUpdateRect(ProgressWindow, nullptr, FALSE))
            return;
    }
    InvalidateRect(ProgressWindow, &RefreshBox, FALSE);
    UpdateWindow(ProgressWindow);
}

void RefreshProgressInTime()
{
    if (!ProgressWindow)
        return;
    if (GetTickCount() - RefreshedAt < REFRESH_TICKS) {
        RefreshNoted = true;
        return;
    }
    RefreshProgress();
}

void CatchUpProgress()
{
    if (RefreshNoted)
        RefreshProgress();
}

void ShowProgressWindow(bool shown)
{
    if (!ProgressWindow)
        return;
    if (!shown)
        CatchUpProgress();
    ShowWindow(ProgressWindow, shown ? SW_SHOW : SW_HIDE);
}
