// The user interface: the main dialog in its two forms and the progress
// control that it hosts during extraction. A Win32 program in the
// platform's own names; built for Windows only.
#pragma once

#include <windows.h>
// The program's control of the same name replaces the system cursor's id.
#undef IDC_ICON

#define PROGRESS_CLASS L"PROGRESS"

// The one progress control, created hidden over the dialog's placeholder;
// null until then.
extern HWND ProgressWindow;

// Registers the "PROGRESS" class of ModuleInstance (style 0, arrow cursor,
// the desktop colour as background) with ProgressWndProc; start-up calls it.
void RegisterProgressClass();
LRESULT CALLBACK ProgressWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
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

// The main dialog's procedure, run by start-up with the template that the
// configuration selects.
INT_PTR CALLBACK MainDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The web link. The shell's ShellExecuteW, null when the shell or the
// function is missing (the link is then a plain static).
typedef HINSTANCE(WINAPI *ShellExecuteProc)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);
extern ShellExecuteProc ShellExecuteEntry;
// Finds the shell and, with it, subclasses the dialog's link control.
void StartLink(HWND dialog);
// The colours of a static control asking the dialog: underlined blue text
// over a hollow background for the link (returns the brush), false (the
// default colours) for every other control.
INT_PTR LinkColours(HWND dialog, HDC canvas, HWND control);
// A notification from the link: a single click opens its text.
void LinkCommand(HWND dialog, UINT notification);
// Asks the shell to open text; true on success, a beep on failure.
bool OpenLink(LPCWSTR text);

// The 3D-controls library, started before and stopped after the dialog when
// the configuration asks for it; notified of system colour changes.
void Ctl3dStart();
void Ctl3dStop();
void Ctl3dNotifyColorChange();
