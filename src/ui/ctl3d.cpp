// The optional 3D-controls library, loaded from the system folder only.
// Its functions are looked up by name each time they are needed; only the
// library is kept. Absent or refusing, the dialog keeps its plain look.
#include "ui.h"

static ModuleHandle Ctl3dLibrary;
static bool Ctl3dRegistered;

void Ctl3dStart()
{
    Ctl3dLibrary = LoadSystemLibrary(u"CTL3D32.DLL");
    if (!Ctl3dLibrary)
        return;
    void *entry = FindEntry(Ctl3dLibrary, "Ctl3dRegister");
    if (!entry || !CallWithInstance(entry))
        return;
    entry = FindEntry(Ctl3dLibrary, "Ctl3dAutoSubclass");
    if (entry && CallWithInstance(entry))
        Ctl3dRegistered = true;
}

void Ctl3dStop()
{
    if (!Ctl3dLibrary)
        return;
    if (Ctl3dRegistered) {
        void *entry = FindEntry(Ctl3dLibrary, "Ctl3dUnregister");
        if (entry)
            CallWithInstance(entry);
    }
    UnloadLibrary(Ctl3dLibrary);
}

void Ctl3dNotifyColorChange()
{
    if (!Ctl3dLibrary || !Ctl3dRegistered)
        return;
    void *entry = FindEntry(Ctl3dLibrary, "Ctl3dColorChange");
    if (entry)
        CallWithoutArguments(entry);
}
