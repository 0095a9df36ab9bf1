// Texts from the string table, the fatal exit and the extraction prompts.
#include "messages.h"

WindowHandle MainWindow;
const char *MessageCaption = "";
char *InternalErrorText;
void (*BeforeBoxHook)();

// Texts are loaded into a buffer of this many characters; longer ones are cut.
#define TEXT_BUFFER_CHARS 1000

char *LoadResString(uint16_t id)
{
    char text[TEXT_BUFFER_CHARS];
    LoadStringText(id, text, TEXT_BUFFER_CHARS);
    return HeapCopyString(text);
}

char *FormatResString(uint16_t id, const char *argument)
{
    char *pattern = LoadResString(id);
    if (!pattern)
        return nullptr;
    char *text = FormatWithArgument(pattern, argument);
    HeapFreeBlock(pattern);
    return text;
}

void ShowFatal(const char *text)
{
    if (text) {
        if (BeforeBoxHook)
            BeforeBoxHook();
        ShowMessageBox(MainWindow, text, MessageCaption, MB_OK | MB_ICONWARNING);
    }
    EndProcess(1);
}

void FatalString(uint16_t id) { ShowFatal(LoadResString(id)); }

// Shows the formatted prompt for name and returns the button chosen.
static int Ask(uint16_t id, const char *name, unsigned type)
{
    char *text = FormatResString(id, name);
    if (BeforeBoxHook)
        BeforeBoxHook();
    int answer = ShowMessageBox(MainWindow, text, MessageCaption, type);
    HeapFreeBlock(text);
    return answer;
}

bool AskReplace(const char *name)
{
    int answer = Ask(IDS_FILE_EXISTS, name, MB_YESNOCANCEL | MB_ICONWARNING);
    // No message loop runs during extraction: redraw what the box covered now.
    RepaintWindow(MainWindow);
    if (answer == IDNO)
        return false;
    if (answer == IDCANCEL)
        ShowFatal(nullptr);
    return true;  // Yes, or a box that could not be shown
}

// OK goes on with the next entry, Cancel ends the process.
static void AskGoOn(uint16_t id, const char *name)
{
    if (Ask(id, name, MB_OKCANCEL | MB_ICONWARNING) == IDCANCEL)
        ShowFatal(nullptr);
}

void AskCreateFailed(const char *name) { AskGoOn(IDS_CREATE_FAILED, name); }

void AskWriteFailed(const char *name) { AskGoOn(IDS_WRITE_FAILED, name); }

void ReportBadEntry(const char *name) { Ask(IDS_VERIFY_FAILED, name, MB_OK | MB_ICONWARNING); }
