// The "PROGRESS" control: a sunken frame two pixels wide around a two-tone
// bar, the done part in the highlight colour, the rest in the highlight-text
// colour, with "Unzipping <name>" centred across it in the opposite colours.
// It keeps no data of its own and draws the shared progress record.
#include "ui.h"

#include "../inflate/progress.h"
#include "../messages/messages.h"

WindowHandle ProgressWindow;

// Larger than any control: invalidating it invalidates the whole client area.
static const Box RefreshBox = {0, 0, 5000, 5000};

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

void DrawFrame(CanvasHandle canvas, const Box *r, StockBrush first, StockBrush second)
{
    Box left = {r->left, r->top, r->left + 1, r->bottom};
    Box top = {r->left, r->top, r->right, r->top + 1};
    Box right = {r->right - 1, r->top + 1, r->right, r->bottom};
    Box bottom = {r->left + 1, r->bottom - 1, r->right, r->bottom};
    FillBox(canvas, &left, first);
    FillBox(canvas, &top, first);
    FillBox(canvas, &right, second);
    FillBox(canvas, &bottom, second);
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

static void Shrink(Box *r)
{
    r->left++, r->top++, r->right--, r->bottom--;
}

// The inner rectangle of the control, inside both frame rings.
static void InnerBox(WindowHandle window, Box *r)
{
    ClientBox(window, r);
    Shrink(r);
    Shrink(r);
}

// The right edge of the done part. Not limited to the bar: more done than
// the total (entries whose sizes disagree) shows as a full bar.
static int32_t FillOf(const Box *r)
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

static void PaintProgress(WindowHandle window)
{
    PaintState paint;
    CanvasHandle canvas = StartPaint(window, &paint);
    if (!CurrentName) {
        FinishPaint(window, &paint);
        return;
    }
    Box r;
    ClientBox(window, &r);
    DrawFrame(canvas, &r, BRUSH_BLACK, BRUSH_WHITE);
    Shrink(&r);
    DrawFrame(canvas, &r, BRUSH_DARK_GREY, BRUSH_LIGHT_GREY);
    Shrink(&r);
    int32_t w = r.right - r.left, h = r.bottom - r.top;

    // Loaded anew on every paint: the language may differ per user, and the
    // name changes per entry. Without memory, the bar is drawn without text.
    char16_t *text = FormatResString(IDS_UNZIPPING, CurrentName);
    uint32_t length = text ? TextLength(text) : 0;

    FontHandle font = WindowFont(MainWindow), old = nullptr;
    if (font)
        old = SelectFont(canvas, font);
    uint32_t highlight = SystemColour(COLOUR_HIGHLIGHT);
    uint32_t highlightText = SystemColour(COLOUR_HIGHLIGHT_TEXT);
    AlignTextCentreTop(canvas);
    int32_t fill = FillOf(&r);
    RememberPainted(CurrentName, fill);
    int32_t th = TextHeight(canvas, text ? text : u"", length);
    int32_t x = r.left + w / 2, y = r.top + (h - th) / 2;

    Box donePart = {r.left, r.top, fill, r.bottom};
    Box restPart = {fill, r.top, r.right, r.bottom};
    DrawTextInBox(canvas, x, y, &donePart, highlight, highlightText, text, length);
    DrawTextInBox(canvas, x, y, &restPart, highlightText, highlight, text, length);

    if (font)
        SelectFont(canvas, old);
    HeapFreeBlock(text);
    FinishPaint(window, &paint);
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

intptr_t ProgressWndProc(WindowHandle window, unsigned message, uintptr_t wParam,
                         intptr_t lParam)
{
    switch (message) {
    case MSG_GETDLGCODE:
        return CODE_STATIC;
    case MSG_GETTEXTLENGTH:
        return ShownText(nullptr, 0);
    case MSG_GETTEXT:
        return ShownText((char16_t *)lParam, wParam);
    case MSG_PAINT:
        PaintProgress(window);
        return 0;
    }
    return DefaultWindowProcedure(window, message, wParam, lParam);
}

void RefreshProgress()
{
    if (!ProgressWindow)
        return;
    RefreshedAt = TickCount();
    RefreshNoted = false;
    // The cheap tests first: asking for the update region is a call into
    // the system.
    if (CurrentName && SameName(CurrentName)) {
        Box r;
        InnerBox(ProgressWindow, &r);
        if (FillOf(&r) == PaintedFill && !NeedsPainting(ProgressWindow))
            return;
    }
    RepaintBoxNow(ProgressWindow, &RefreshBox);
}

void RefreshProgressInTime()
{
    if (!ProgressWindow)
        return;
    if (TickCount() - RefreshedAt < REFRESH_TICKS) {
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
    ShowChildWindow(ProgressWindow, shown);
}
