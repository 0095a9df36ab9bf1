// A stand-in for the 3D-controls library, CTL3D32.DLL: every call the stub
// makes, and the library's loading and unloading, appended in order to the
// file that BREVANT_CTL3D_LOG names. With BREVANT_CTL3D_REFUSE set it
// refuses the registration.
#include <windows.h>

namespace {

void Log(const char *what)
{
    char path[MAX_PATH];
    if (!GetEnvironmentVariableA("BREVANT_CTL3D_LOG", path, MAX_PATH)) return;
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD put;
    WriteFile(file, what, lstrlenA(what), &put, nullptr);
    WriteFile(file, "\n", 1, &put, nullptr);
    CloseHandle(file);
}

HINSTANCE Program;

}  // namespace

extern "C" __declspec(dllexport) BOOL WINAPI Ctl3dRegister(HINSTANCE instance)
{
    Program = instance;
    if (GetEnvironmentVariableA("BREVANT_CTL3D_REFUSE", nullptr, 0)) {
        Log("register refused");
        return FALSE;
    }
    Log(instance == GetModuleHandleW(nullptr) ? "register" : "register with another instance");
    return TRUE;
}

extern "C" __declspec(dllexport) BOOL WINAPI Ctl3dAutoSubclass(HINSTANCE instance)
{
    Log(instance == Program ? "autosubclass" : "autosubclass with another instance");
    return TRUE;
}

extern "C" __declspec(dllexport) BOOL WINAPI Ctl3dUnregister(HINSTANCE instance)
{
    Log(instance == Program ? "unregister" : "unregister with another instance");
    return TRUE;
}

extern "C" __declspec(dllexport) BOOL WINAPI Ctl3dColorChange()
{
    Log("colorchange");
    return TRUE;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) Log("load");
    // Unloaded by FreeLibrary (reserved null), not by the end of the process.
    if (reason == DLL_PROCESS_DETACH) Log(reserved ? "process end" : "unload");
    return TRUE;
}
