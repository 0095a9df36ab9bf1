// Start-up: the shared state is prepared in a fixed order, then the
// configuration is loaded and the main dialog runs. A fatal condition on the
// way ends the process (exit code 1) inside the messages layer and never
// comes back here.
#include "../ui/ui.h"

#include "../archive/config.h"
#include "../extract/extract.h"
#include "../inflate/inflate.h"
#include "../messages/messages.h"

// Cuts a full path at its last backslash, in place; a path without one
// becomes empty. "C:\setup.exe" becomes "C:", the drive's root without its
// backslash.
static void CutAtLastBackslash(char16_t *path)
{
    char16_t *cut = path;
    for (char16_t *p = path; *p; p++) {
        if (*p == '\\')
            cut = p;
    }
    *cut = 0;
}

// Reads the configuration block, or ends the process with the message of
// what went wrong when it is not there whole.
static void LoadConfig()
{
    ConfigResult result = ReadConfig(ImageFile);
    if (result == CONFIG_READ_ERROR)
        FatalString(IDS_READ_ERROR);
    if (result != CONFIG_OK)
        ShowFatal(InternalErrorText);
}

int SfxMain(ModuleHandle instance)
{
    // Before anything can load a DLL: never from the image's own folder.
    RestrictDllSearch();
    DisableGhosting();

    ModuleInstance = instance;
    GetImagePath(ImageDir);
    InternalErrorText = LoadResString(IDS_INTERNAL_ERROR);
    MessageCaption = u"";
    // Not tested here: an image that cannot be opened yields nothing to the
    // scan, and the configuration load reports it.
    ImageFile = OpenOwnImage();
    CutAtLastBackslash(ImageDir);
    MakeCrcTable();
    RegisterProgressClass();
    // Cleared: a distance that reaches before the first stream's start
    // copies zeros, never what the heap held.
    OutputWindow = (uint8_t *)HeapAllocZeroed(WINDOW_SIZE);
    InputBuffer = (uint8_t *)HeapAllocBlock(INPUT_SIZE);
    LoadConfig();
    // Before any dialog or folder: a damaged download shows nothing else.
    CheckImageArchive();
    if (SfxConfig->Flags & SFX_CTL3D)
        Ctl3dStart();
    DialogBoxParamW((HINSTANCE)ModuleInstance,
                    MAKEINTRESOURCEW((SfxConfig->Flags & SFX_EXTRACTOR_UI) ? IDD_EXTRACTOR
                                                                           : IDD_INSTALLER),
                    nullptr, MainDlgProc, 0);
    if (SfxConfig->Flags & SFX_CTL3D)
        Ctl3dStop();
    // A caller that reads only the exit code can tell a partial
    // installation from a complete one.
    return ExtractionIncomplete ? 2 : 0;
}
