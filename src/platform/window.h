// Windows, dialogs and painting: the part of the platform layer that only the
// user interface uses (Win32 build only; the core never includes it).
//
// Window procedures are written as plain functions with the platform's four
// arguments; the platform calls them from its own callbacks, so that the user
// interface needs neither the platform's headers nor its calling convention.
#pragma once

#include <stdint.h>

#include "platform.h"

typedef void *CanvasHandle;   // HDC
typedef void *FontHandle;     // HFONT

typedef intptr_t (*WindowProcedure)(WindowHandle window, unsigned message, uintptr_t wParam,
                                    intptr_t lParam);

struct Box {                  // a rectangle; right and bottom excluded
    int32_t left, top, right, bottom;
};

// Message numbers and values, as the platform defines them.
#define MSG_GETTEXT 0x000D
#define MSG_GETTEXTLENGTH 0x000E
#define MSG_PAINT 0x000F
#define MSG_SYSCOLORCHANGE 0x0015
#define MSG_SETCURSOR 0x0020
#define MSG_GETDLGCODE 0x0087
#define MSG_INITDIALOG 0x0110
#define MSG_COMMAND 0x0111
#define MSG_CTLCOLORSTATIC 0x0138
#define MSG_PRIVATE 0x0400
#define CODE_STATIC 0x0100    // DLGC_STATIC: takes no keyboard input

// Stock brushes for FillBox.
enum StockBrush { BRUSH_WHITE = 0, BRUSH_LIGHT_GREY = 1, BRUSH_DARK_GREY = 3, BRUSH_BLACK = 4 };
// System colours for SystemColour.
#define COLOUR_HIGHLIGHT 13
#define COLOUR_HIGHLIGHT_TEXT 14

// ---- Dialogs --------------------------------------------------------------
// Runs the dialog template id of ModuleInstance modally, without an owner,
// with procedure as its dialog procedure (which answers true for the
// messages it handled). Returns when the dialog has ended.
void RunModalDialog(uint16_t templateId, WindowProcedure procedure);
void EndModalDialog(WindowHandle dialog, int result);
void PostToWindow(WindowHandle window, unsigned message, uintptr_t wParam, intptr_t lParam);
WindowHandle DialogControl(WindowHandle dialog, int id);
void SetControlText(WindowHandle dialog, int id, const char16_t *text);
// Reads at most size - 1 characters, always terminated.
void GetControlText(WindowHandle dialog, int id, char16_t *buffer, int size);
// The window's title as a fresh heap string; null when memory runs out.
char16_t *CopyWindowTitle(WindowHandle window);
void SetCheckBox(WindowHandle dialog, int id, bool on);
bool IsCheckBoxOn(WindowHandle dialog, int id);
// A control's rectangle in its dialog's client coordinates.
void ControlBox(WindowHandle dialog, int id, Box *box);
// Builds an icon from one icon image in the icon-resource layout and sets
// it into the icon control id, destroying the icon that it held before.
// False (the control unchanged) when the bytes make no icon.
bool SetControlIcon(WindowHandle dialog, int id, const uint8_t *image, uint32_t size);

// Replaces the window procedure of a control with procedure; the one it
// replaced, for CallPrevious. One control of the program is subclassed.
void *SubclassControl(WindowHandle control, WindowProcedure procedure);
intptr_t CallPrevious(void *previous, WindowHandle window, unsigned message, uintptr_t wParam,
                      intptr_t lParam);
// Sets the mouse cursor to cursor resource id of ModuleInstance.
void SetCursorResource(uint16_t id);
// Asks the shell, through its ShellExecuteW entry, to apply verb to file in
// a normal window; true when the shell reports success.
bool ShellOpen(void *shellExecute, const char16_t *verb, const char16_t *file);
// The platform's default message beep.
void Beep();

// ---- Windows --------------------------------------------------------------
// Registers a window class of ModuleInstance: style 0, arrow cursor, the
// desktop colour as background.
void RegisterWindowClass(const char16_t *name, WindowProcedure procedure);
// A hidden child window of the class, with control id 0.
WindowHandle CreateChildWindow(const char16_t *className, const char16_t *text, WindowHandle parent,
                               const Box *box);
void ShowChildWindow(WindowHandle window, bool shown);
intptr_t DefaultWindowProcedure(WindowHandle window, unsigned message, uintptr_t wParam,
                                intptr_t lParam);
// True when part of the window waits to be painted (shown anew, uncovered).
bool NeedsPainting(WindowHandle window);
// Invalidates box of window without erasing, then repaints it at once.
void RepaintBoxNow(WindowHandle window, const Box *box);

// ---- Painting ---------------------------------------------------------------
struct PaintState {
    CanvasHandle Canvas;
    alignas(8) uint8_t Platform[72];  // the platform's paint record (PAINTSTRUCT)
};
CanvasHandle StartPaint(WindowHandle window, PaintState *state);
void FinishPaint(WindowHandle window, PaintState *state);
void ClientBox(WindowHandle window, Box *box);
void FillBox(CanvasHandle canvas, const Box *box, StockBrush brush);
uint32_t SystemColour(int index);
// The font a window draws with (null for the system font).
FontHandle WindowFont(WindowHandle window);
// A copy of font (or of the system font, for null) with its underline set;
// null when it cannot be made.
FontHandle MakeUnderlinedFont(FontHandle font);
// Text from here on in colour, over a background that is left unpainted;
// returns the hollow brush, for a control that paints no background.
intptr_t TransparentText(CanvasHandle canvas, uint32_t colour);
// Selects font into canvas; the font it replaced.
FontHandle SelectFont(CanvasHandle canvas, FontHandle font);
// Text from here on is placed by the centre of its top edge.
void AlignTextCentreTop(CanvasHandle canvas);
int32_t TextHeight(CanvasHandle canvas, const char16_t *text, uint32_t length);
// Fills box with back and draws text at (x, y) in fore, clipped to box.
void DrawTextInBox(CanvasHandle canvas, int32_t x, int32_t y, const Box *box, uint32_t back,
                   uint32_t fore, const char16_t *text, uint32_t length);
