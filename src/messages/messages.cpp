// Texts from the string table, the fatal exit and the extraction prompts.
#include "messages.h"

WindowHandle MainWindow;
const char16_t *MessageCaption;  // set to "" first thing at start-up
char16_t *InternalErrorText;
void (*BeforeBoxHook)();

// Texts are loaded into a buffer of this many characters; longer ones are cut.
#define TEXT_BUFFER_CHARS 1000

char16_t *LoadResString(uint16_t id)
{
    char16_t text[TEXT_BUFFER_CHARS];
    LoadStringText(id, text, TEXT_BUFFER_CHARS);
    return HeapCopyText(text);
}

char16_t *FormatResString(uint16_t id, const char16_t *argument)
{
    char16_t *pattern = LoadResString(id);
    if (!pattern)
        return nullptr;
    char16_t *text = FormatWithArgument(pattern, argument);
    HeapFreeBlock(pattern);
    return text;
}

void ShowFatal(const char16_t *text)
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
static int Ask(uint16_t id, const char16_t *name, unsigned type)
{
    char16_t *text = FormatResString(id, name);
    if (BeforeBoxHook)
        BeforeBoxHook();
    int answer = ShowMessageBox(MainWindow, text, MessageCaption, type);
    HeapFreeBlock(text);
    return answer;
}

bool AskReplace(const char16_t *name)
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
static void AskGoOn(uint16_t id, const char16_t *name)
{
    if (Ask(id, name, MB_OKCANCEL | MB_ICONWARNING) == IDCANCEL)
        ShowFatal(nullptr);
}

void AskCreateFailed(const char16_t *name) { AskGoOn(IDS_CREATE_FAILED, name); }

void AskWriteFailed(const char16_t *name) { AskGoOn(IDS_WRITE_FAILED, name); }

void ReportBadEntry(const char16_t *name) { Ask(IDS_VERIFY_FAILED, name, MB_OK | MB_ICONWARNING); }
