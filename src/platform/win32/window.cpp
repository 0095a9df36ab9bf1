// Win32 implementation of windows, dialogs and painting for the user
// interface. The program's window procedures are plain functions; the
// callbacks here give them the platform's calling convention.
#include "../window.h"

#include <windows.h>

static LPCWSTR Wide(const char16_t *text) { return (LPCWSTR)text; }

static_assert(sizeof(PAINTSTRUCT) <= sizeof(((PaintState *)nullptr)->Platform),
              "PaintState holds the platform's paint record");

// One procedure of each kind: the main dialog, the progress class and the
// subclassed link.
static WindowProcedure DialogProcedure;
static WindowProcedure ClassProcedure;
static WindowProcedure SubclassProcedure;

static INT_PTR CALLBACK DialogCallback(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    return (INT_PTR)DialogProcedure(dialog, message, (uintptr_t)wParam, (intptr_t)lParam);
}

static LRESULT CALLBACK ClassCallback(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return (LRESULT)ClassProcedure(window, message, (uintptr_t)wParam, (intptr_t)lParam);
}

static LRESULT CALLBACK SubclassCallback(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return (LRESULT)SubclassProcedure(window, message, (uintptr_t)wParam, (intptr_t)lParam);
}

void *SubclassControl(WindowHandle control, WindowProcedure procedure)
{
    SubclassProcedure = procedure;
    return (void *)SetWindowLongPtrW((HWND)control, GWLP_WNDPROC, (LONG_PTR)SubclassCallback);
}

intptr_t CallPrevious(void *previous, WindowHandle window, unsigned message, uintptr_t wParam,
                      intptr_t lParam)
{
    return (intptr_t)CallWindowProcW((WNDPROC)previous, (HWND)window, message, (WPARAM)wParam,
                                     (LPARAM)lParam);
}

void SetCursorResource(uint16_t id)
{
    SetCursor(LoadCursorW((HINSTANCE)ModuleInstance, MAKEINTRESOURCEW(id)));
}

bool ShellOpen(void *shellExecute, const char16_t *verb, const char16_t *file)
{
    typedef HINSTANCE(WINAPI * Execute)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);
    HINSTANCE result = ((Execute)shellExecute)(nullptr, Wide(verb), Wide(file), nullptr, nullptr,
                                                SW_SHOWNORMAL);
    return (INT_PTR)result > 32;
}

void Beep() { MessageBeep(0); }

void RunModalDialog(uint16_t templateId, WindowProcedure procedure)
{
    DialogProcedure = procedure;
    DialogBoxParamW((HINSTANCE)ModuleInstance, MAKEINTRESOURCEW(templateId), nullptr,
                    DialogCallback, 0);
}

void EndModalDialog(WindowHandle dialog, int result) { EndDialog((HWND)dialog, result); }

void PostToWindow(WindowHandle window, unsigned message, uintptr_t wParam, intptr_t lParam)
{
    PostMessageW((HWND)window, message, (WPARAM)wParam, (LPARAM)lParam);
}

WindowHandle DialogControl(WindowHandle dialog, int id) { return GetDlgItem((HWND)dialog, id); }

void SetControlText(WindowHandle dialog, int id, const char16_t *text)
{
    SetDlgItemTextW((HWND)dialog, id, Wide(text));
}

void GetControlText(WindowHandle dialog, int id, char16_t *buffer, int size)
{
    buffer[0] = 0;
    GetDlgItemTextW((HWND)dialog, id, (LPWSTR)buffer, size);
}

char16_t *CopyWindowTitle(WindowHandle window)
{
    int length = GetWindowTextLengthW((HWND)window);
    char16_t *title = (char16_t *)HeapAllocBlock(((uint32_t)length + 1) * 2);
    if (title) {
        title[0] = 0;
        GetWindowTextW((HWND)window, (LPWSTR)title, length + 1);
    }
    return title;
}

void SetCheckBox(WindowHandle dialog, int id, bool on)
{
    CheckDlgButton((HWND)dialog, id, on ? BST_CHECKED : BST_UNCHECKED);
}

bool IsCheckBoxOn(WindowHandle dialog, int id)
{
    return IsDlgButtonChecked((HWND)dialog, id) == BST_CHECKED;
}

void ControlBox(WindowHandle dialog, int id, Box *box)
{
    RECT r = {0, 0, 0, 0};
    GetWindowRect(GetDlgItem((HWND)dialog, id), &r);
    // Both corners, so that a right-to-left dialog still gets left < right.
    MapWindowPoints(HWND_DESKTOP, (HWND)dialog, (POINT *)&r, 2);
    box->left = r.left, box->top = r.top, box->right = r.right, box->bottom = r.bottom;
}

bool SetControlIcon(WindowHandle dialog, int id, const uint8_t *image, uint32_t size)
{
    if (!size)
        return false;
    HICON icon = CreateIconFromResource((PBYTE)image, size, TRUE, 0x00030000);
    if (!icon)
        return false;
    HICON old = (HICON)SendDlgItemMessageW((HWND)dialog, id, STM_SETICON, (WPARAM)icon, 0);
    if (old)
        DestroyIcon(old);
    return true;
}

void RegisterWindowClass(const char16_t *name, WindowProcedure procedure)
{
    ClassProcedure = procedure;
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = ClassCallback;
    windowClass.hInstance = (HINSTANCE)ModuleInstance;
    windowClass.hCursor = LoadCursorW(nullptr, (LPCWSTR)IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)(INT_PTR)(COLOR_BACKGROUND + 1);
    windowClass.lpszClassName = Wide(name);
    RegisterClassW(&windowClass);
}

WindowHandle CreateChildWindow(const char16_t *className, const char16_t *text,
                               WindowHandle parent, const Box *box)
{
    return CreateWindowExW(0, Wide(className), Wide(text), WS_CHILD, box->left, box->top,
                           box->right - box->left, box->bottom - box->top, (HWND)parent,
                           (HMENU)0, (HINSTANCE)ModuleInstance, nullptr);
}

void ShowChildWindow(WindowHandle window, bool shown)
{
    ShowWindow((HWND)window, shown ? SW_SHOW : SW_HIDE);
}

intptr_t DefaultWindowProcedure(WindowHandle window, unsigned message, uintptr_t wParam,
                                intptr_t lParam)
{
    return (intptr_t)DefWindowProcW((HWND)window, message, (WPARAM)wParam, (LPARAM)lParam);
}

bool NeedsPainting(WindowHandle window) { return GetUpdateRect((HWND)window, nullptr, FALSE); }

void RepaintBoxNow(WindowHandle window, const Box *box)
{
    RECT r = {box->left, box->top, box->right, box->bottom};
    InvalidateRect((HWND)window, &r, FALSE);
    UpdateWindow((HWND)window);
}

CanvasHandle StartPaint(WindowHandle window, PaintState *state)
{
    state->Canvas = BeginPaint((HWND)window, (PAINTSTRUCT *)state->Platform);
    return state->Canvas;
}

void FinishPaint(WindowHandle window, PaintState *state)
{
    EndPaint((HWND)window, (PAINTSTRUCT *)state->Platform);
}

void ClientBox(WindowHandle window, Box *box)
{
    RECT r = {0, 0, 0, 0};
    GetClientRect((HWND)window, &r);
    box->left = r.left, box->top = r.top, box->right = r.right, box->bottom = r.bottom;
}

void FillBox(CanvasHandle canvas, const Box *box, StockBrush brush)
{
    RECT r = {box->left, box->top, box->right, box->bottom};
    FillRect((HDC)canvas, &r, (HBRUSH)GetStockObject(brush));
}

uint32_t SystemColour(int index) { return (uint32_t)GetSysColor(index); }

FontHandle WindowFont(WindowHandle window)
{
    return (FontHandle)SendMessageW((HWND)window, WM_GETFONT, 0, 0);
}

FontHandle MakeUnderlinedFont(FontHandle font)
{
    LOGFONTW description;
    if (!GetObjectW(font ? (HGDIOBJ)font : GetStockObject(SYSTEM_FONT), sizeof description,
                    &description))
        return nullptr;
    description.lfUnderline = TRUE;
    return CreateFontIndirectW(&description);
}

intptr_t TransparentText(CanvasHandle canvas, uint32_t colour)
{
    SetTextColor((HDC)canvas, colour);
    SetBkMode((HDC)canvas, TRANSPARENT);
    return (intptr_t)GetStockObject(NULL_BRUSH);
}

FontHandle SelectFont(CanvasHandle canvas, FontHandle font)
{
    return SelectObject((HDC)canvas, (HGDIOBJ)font);
}

void AlignTextCentreTop(CanvasHandle canvas) { SetTextAlign((HDC)canvas, TA_CENTER | TA_TOP); }

int32_t TextHeight(CanvasHandle canvas, const char16_t *text, uint32_t length)
{
    SIZE size = {0, 0};
    GetTextExtentPoint32W((HDC)canvas, Wide(text), (int)length, &size);
    return size.cy;
}

void DrawTextInBox(CanvasHandle canvas, int32_t x, int32_t y, const Box *box, uint32_t back,
                   uint32_t fore, const char16_t *text, uint32_t length)
{
    RECT r = {box->left, box->top, box->right, box->bottom};
    SetBkColor((HDC)canvas, back);
    SetTextColor((HDC)canvas, fore);
    ExtTextOutW((HDC)canvas, x, y, ETO_OPAQUE | ETO_CLIPPED, &r, Wide(text), length, nullptr);
}
