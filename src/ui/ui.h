// The user interface: the main dialog in its two forms and the progress
// control that it hosts during extraction.
#pragma once

#include "../platform/window.h"

#define PROGRESS_CLASS u"PROGRESS"

// The one progress control, created hidden over the dialog's placeholder;
// null until then.
extern WindowHandle ProgressWindow;

// The progress class's window procedure, registered by start-up.
intptr_t ProgressWndProc(WindowHandle window, unsigned message, uintptr_t wParam,
                         intptr_t lParam);
// Repaints ProgressWindow at once, whole and without erasing first; does
// nothing while the control does not exist.
void RefreshProgress();
// The extraction's refresh: RefreshProgress when the last one is at least
// about 15 ms ago, else only noted.
void RefreshProgressInTime();
// RefreshProgress if a refresh was noted since the last one.
void CatchUpProgress();
// Shows or hides ProgressWindow (when it exists); a noted refresh is caught
// up before the control is hidden.
void ShowProgressWindow(bool shown);
// A one-pixel frame just inside box: top and left edges with first, right
// and bottom edges with second.
void DrawFrame(CanvasHandle canvas, const Box *box, StockBrush first, StockBrush second);

// The main dialog's procedure, run by start-up with the template that the
// configuration selects.
intptr_t MainDlgProc(WindowHandle dialog, unsigned message, uintptr_t wParam, intptr_t lParam);

// The web link. The shell's ShellExecuteW, null when the shell or the
// function is missing (the link is then a plain static).
extern void *ShellExecuteEntry;
// Finds the shell and, with it, subclasses the dialog's link control.
void StartLink(WindowHandle dialog);
// The colours of a static control asking the dialog: underlined blue text
// over a hollow background for the link (returns the brush), false (the
// default colours) for every other control.
intptr_t LinkColours(WindowHandle dialog, CanvasHandle canvas, WindowHandle control);
// A notification from the link: a single click opens its text.
void LinkCommand(WindowHandle dialog, unsigned notification);
// Asks the shell to open text; true on success, a beep on failure.
bool OpenLink(const char16_t *text);

// The 3D-controls library, started before and stopped after the dialog when
// the configuration asks for it; notified of system colour changes.
void Ctl3dStart();
void Ctl3dStop();
void Ctl3dNotifyColorChange();
