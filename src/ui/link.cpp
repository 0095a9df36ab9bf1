// The web link: a static control of the dialog, shown underlined in blue
// with a pointing hand, that asks the shell to open its text when clicked.
// Everything about it depends on the shell being there.
#include "ui.h"

#include "../resources/resource.h"

#define LINK_COLOR 0x00FF0000   // pure blue, in the platform's 0x00BBGGRR order
#define CLICKED 0               // the static's click notification
#define LINK_TEXT_CHARS 1000

void *ShellExecuteEntry;        // null without the shell
static void *LinkOldProc;
static FontHandle LinkFont;

static intptr_t LinkWndProc(WindowHandle window, unsigned message, uintptr_t wParam,
                            intptr_t lParam)
{
    if (message == MSG_SETCURSOR) {
        SetCursorResource(IDR_LINK_CURSOR);
        return true;
    }
    return CallPrevious(LinkOldProc, window, message, wParam, lParam);
}

void StartLink(WindowHandle dialog)
{
    WindowHandle link = DialogControl(dialog, IDC_LINK);
    ModuleHandle shell = LoadSystemLibrary(u"shell32.dll");
    if (shell)
        ShellExecuteEntry = FindEntry(shell, "ShellExecuteW");
    // The library stays loaded for the whole run.
    if (ShellExecuteEntry)
        LinkOldProc = SubclassControl(link, LinkWndProc);
}

intptr_t LinkColours(WindowHandle dialog, CanvasHandle canvas, WindowHandle control)
{
    if (!ShellExecuteEntry || control != DialogControl(dialog, IDC_LINK))
        return false;
    if (!LinkFont)
        LinkFont = MakeUnderlinedFont(WindowFont(control));
    if (LinkFont)
        SelectFont(canvas, LinkFont);
    return TransparentText(canvas, LINK_COLOR);
}

bool OpenLink(const char16_t *text)
{
    if (ShellOpen(ShellExecuteEntry, u"open", text))
        return true;
    Beep();
    return false;
}

void LinkCommand(WindowHandle dialog, unsigned notification)
{
    // A double click (1) and every other notification are ignored.
    if (!ShellExecuteEntry || notification != CLICKED)
        return;
    char16_t text[LINK_TEXT_CHARS];
    GetControlText(dialog, IDC_LINK, text, LINK_TEXT_CHARS);
    OpenLink(text);
}
