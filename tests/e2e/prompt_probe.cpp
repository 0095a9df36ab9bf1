// Shows one of the extraction prompts with the stub's own messages layer, so
// that the end-to-end tests can answer it like a person and check what each
// answer does. Exit codes: 10 replace, 11 keep, 12 returned from a prompt;
// the prompts themselves end the process with 1 on Cancel.
//
//   prompt-probe replace NAME | create NAME | bad NAME | fatal [TEXT]
#include <windows.h>
// The program's control id of the same name replaces the system cursor's.
#undef IDC_ICON

#include "messages/messages.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    CreateProgramHeap();
    ModuleInstance = instance;
    MessageCaption = u"";  // as start-up sets it, before the dialog gives its title
    if (__argc < 2)
        return 100;
    const char *what = __argv[1];
    // The name as the prompts take it: UTF-16, from the command line's code page.
    static char16_t wide[1000];
    const char16_t *name = nullptr;
    if (__argc > 2 && MultiByteToWideChar(CP_ACP, 0, __argv[2], -1, (LPWSTR)wide, 1000))
        name = wide;
    if (!lstrcmpA(what, "replace"))
        return AskReplace(name) ? 10 : 11;
    if (!lstrcmpA(what, "create")) {
        AskCreateFailed(name);
        return 12;
    }
    if (!lstrcmpA(what, "bad")) {
        ReportBadEntry(name);
        return 12;
    }
    if (!lstrcmpA(what, "fatal"))
        ShowFatal(name);  // no name: the silent exit
    return 100;
}
