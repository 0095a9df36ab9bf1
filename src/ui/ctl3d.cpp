// The optional 3D-controls library, loaded from the system folder only.
// Its functions are looked up by name each time they are needed; only the
// library is kept. Absent or refusing, the dialog keeps its plain look.
#include "ui.h"

#include "../platform/platform.h"

typedef BOOL(WINAPI *InstanceProc)(HINSTANCE);
typedef BOOL(WINAPI *PlainProc)();

static HMODULE Ctl3dLibrary;
static bool Ctl3dRegistered;

// Calls the library's function name with the program's instance; false
// when the library lacks it or it refuses.
static bool CallWithInstance(const char *name)
{
    InstanceProc entry = (InstanceProc)(void *)GetProcAddress(Ctl3dLibrary, name);
    return entry && entry((HINSTANCE)ModuleInstance);
}

void Ctl3dStart()
{
    Ctl3dLibrary = (HMODULE)LoadSystemLibrary(u"CTL3D32.DLL");
    if (!Ctl3dLibrary || !CallWithInstance("Ctl3dRegister"))
        return;
    if (CallWithInstance("Ctl3dAutoSubclass"))
        Ctl3dRegistered = true;
}

void Ctl3dStop()
{
    if (!Ctl3dLibrary)
        return;
    if (Ctl3dRegistered)
        CallWithInstance("Ctl3dUnregister");
    FreeLibrary(Ctl3dLibrary);
}

void Ctl3dNotifyColorChange()
{
    if (!Ctl3dLibrary || !Ctl3dRegistered)
        return;
    PlainProc entry = (PlainProc)(void *)GetProcAddress(Ctl3dLibrary, "Ctl3dColorChange");
    if (entry)
        entry();
}
