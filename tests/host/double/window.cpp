// Host stand-ins for windows and dialogs: the native build runs start-up and
// links the user interface, but shows nothing. A modal dialog is recorded
// and ends at once, as if cancelled; every other call does nothing.
#include "platform/window.h"

#include "host_testing.h"

std::vector<uint16_t> HostDialogs;

void RunModalDialog(uint16_t templateId, WindowProcedure) { HostDialogs.push_back(templateId); }
void EndModalDialog(WindowHandle, int) {}
void PostToWindow(WindowHandle, unsigned, uintptr_t, intptr_t) {}
WindowHandle DialogControl(WindowHandle, int) { return nullptr; }
void SetControlText(WindowHandle, int, const char16_t *) {}
void GetControlText(WindowHandle, int, char16_t *buffer, int) { buffer[0] = 0; }
char16_t *CopyWindowTitle(WindowHandle) { return HeapCopyText(u""); }
void SetCheckBox(WindowHandle, int, bool) {}
bool IsCheckBoxOn(WindowHandle, int) { return false; }
void ControlBox(WindowHandle, int, Box *box) { *box = Box{0, 0, 0, 0}; }
bool SetControlIcon(WindowHandle, int, const uint8_t *, uint32_t) { return false; }
void *SubclassControl(WindowHandle, WindowProcedure) { return nullptr; }
intptr_t CallPrevious(void *, WindowHandle, unsigned, uintptr_t, intptr_t) { return 0; }
void SetCursorResource(uint16_t) {}
bool ShellOpen(void *, const char16_t *, const char16_t *) { return false; }
void Beep() {}
void RegisterWindowClass(const char16_t *, WindowProcedure) {}
WindowHandle CreateChildWindow(const char16_t *, const char16_t *, WindowHandle, const Box *)
{
    return nullptr;
}
void ShowChildWindow(WindowHandle, bool) {}
intptr_t DefaultWindowProcedure(WindowHandle, unsigned, uintptr_t, intptr_t) { return 0; }
bool NeedsPainting(WindowHandle) { return false; }
void RepaintBoxNow(WindowHandle, const Box *) {}
CanvasHandle StartPaint(WindowHandle, PaintState *state) { return state->Canvas = nullptr; }
void FinishPaint(WindowHandle, PaintState *) {}
void ClientBox(WindowHandle, Box *box) { *box = Box{0, 0, 0, 0}; }
void FillBox(CanvasHandle, const Box *, StockBrush) {}
uint32_t SystemColour(int) { return 0; }
FontHandle WindowFont(WindowHandle) { return nullptr; }
FontHandle MakeUnderlinedFont(FontHandle) { return nullptr; }
intptr_t TransparentText(CanvasHandle, uint32_t) { return 0; }
FontHandle SelectFont(CanvasHandle, FontHandle) { return nullptr; }
void AlignTextCentreTop(CanvasHandle) {}
int32_t TextHeight(CanvasHandle, const char16_t *, uint32_t) { return 0; }
void DrawTextInBox(CanvasHandle, int32_t, int32_t, const Box *, uint32_t, uint32_t, const char16_t *,
                   uint32_t)
{
}
