// The web link: a static control of the dialog, shown underlined in blue
// with a pointing hand, that asks the shell to open its text when clicked.
// Everything about it depends on the shell being there.
#include "ui.h"

#include "../platform/platform.h"
#include "../resources/resource.h"

#define LINK_COLOR RGB(0, 0, 255)
#define LINK_TEXT_CHARS 1000

ShellExecuteProc ShellExecuteEntry;  // null without the shell
static WNDPROC LinkOldProc;
static HFONT LinkFont;

static LRESULT CALLBACK LinkWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SETCURSOR) {
        SetCursor(LoadCursorW((HINSTANCE)ModuleInstance, MAKEINTRESOURCEW(IDR_LINK_CURSOR)));
        return TRUE;
    }
    return CallWindowProcW(LinkOldProc, window, message, wParam, lParam);
}

void StartLink(HWND dialog)
{
    HMODULE shell = (HMODULE)LoadSystemLibrary(u"shell32.dll");
    if (shell)
        ShellExecuteEntry = (ShellExecuteProc)(void *)GetProcAddress(shell, "ShellExecuteW");
    // The library stays loaded for the whole run.
    if (ShellExecuteEntry)
        LinkOldProc = (WNDPROC)SetWindowLongPtrW(GetDlgItem(dialog, IDC_LINK), GWLP_WNDPROC,
                                                 (LONG_PTR)LinkWndProc);
}

INT_PTR LinkColours(HWND dialog, HDC canvas, HWND control)
{
    if (!ShellExecuteEntry || control != GetDlgItem(dialog, IDC_LINK))
        return FALSE;
    if (!LinkFont) {
        HFONT font = (HFONT)SendMessageW(control, WM_GETFONT, 0, 0);
        LOGFONTW description;
        if (GetObjectW(font ? (HGDIOBJ)font : GetStockObject(SYSTEM_FONT), sizeof description,
                       &description)) {
            description.lfUnderline = TRUE;
            LinkFont = CreateFontIndirectW(&description);
        }
    }
    if (LinkFont)
        SelectObject(canvas, LinkFont);
    SetTextColor(canvas, LINK_COLOR);
    SetBkMode(canvas, TRANSPARENT);
    return (INT_PTR)GetStockObject(NULL_BRUSH);
}

bool OpenLink(LPCWSTR text)
{
    if ((INT_PTR)ShellExecuteEntry(nullptr, L"open", text, nullptr, nullptr, SW_SHOWNORMAL) > 32)
        return true;
    MessageBeep(0);
    return false;
}

void LinkCommand(HWND dialog, UINT notification)
{
    // A double click (STN_DBLCLK) and every other notification are ignored.
    if (!ShellExecuteEntry || notification != STN_CLICKED)
        return;
    WCHAR text[LINK_TEXT_CHARS];
    text[0] = 0;
    GetDlgItemTextW(dialog, IDC_LINK, text, LINK_TEXT_CHARS);
    OpenLink(text);
}
