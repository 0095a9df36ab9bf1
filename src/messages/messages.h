// Texts, message boxes, prompts and the fatal exit.
//
// Every report is a modal message box owned by MainWindow with the caption
// MessageCaption. A fatal condition is reported here and the process ends
// here with exit code 1: callers never see ShowFatal or FatalString return.
#pragma once

#include <stdint.h>

#include "../platform/platform.h"
#include "../resources/resource.h"

extern WindowHandle MainWindow;       // owner of every box; null until the dialog exists
extern const char16_t *MessageCaption;  // caption of every box; "" from start-up until the dialog sets it
extern char16_t *InternalErrorText;     // text of IDS_INTERNAL_ERROR, loaded at start-up
// Called before every warning and prompt is shown; the user interface brings
// the progress control up to date with it. Null: nothing is called.
extern void (*BeforeBoxHook)();

// A fresh heap string with the text of string id; null when memory runs out.
char16_t *LoadResString(uint16_t id);
// A fresh heap string with the text of id, "%1" replaced by argument.
char16_t *FormatResString(uint16_t id, const char16_t *argument);

// Shows text (when not null) in a warning box, then ends the process with
// exit code 1. A null text ends it silently.
[[noreturn]] void ShowFatal(const char16_t *text);
[[noreturn]] void FatalString(uint16_t id);

// "%1 exists. Replace?": true to replace, false to keep the file.
// Cancel ends the process silently with exit code 1.
bool AskReplace(const char16_t *name);
// "Couldn't create %1...": returns on OK (skip the entry); Cancel ends the process.
void AskCreateFailed(const char16_t *name);
// "Couldn't write %1. The disk may be full...": returns on OK (the entry is
// given up); Cancel ends the process.
void AskWriteFailed(const char16_t *name);
// "Couldn't verify %1.": returns when the box is closed.
void ReportBadEntry(const char16_t *name);
