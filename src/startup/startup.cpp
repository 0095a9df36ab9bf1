// Start-up: the shared state is prepared in a fixed order, then the
// configuration is loaded and the main dialog runs. A fatal condition on the way ends the process
// (exit code 1) inside the messages layer and never comes back here.
#include "startup.h"

#include "../archive/config.h"
#include "../extract/extract.h"
#include "../inflate/inflate.h"
#include "../messages/messages.h"
#include "../ui/ui.h"

// "C:\setup.exe" becomes "C:", the drive's root without its backslash.
void CutAtLastBackslash(char16_t *path)
{
    char16_t *cut = path;
    for (char16_t *p = path; *p; p++) {
        if (*p == '\\')
            cut = p;
    }
    *cut = 0;
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
    RegisterWindowClass(PROGRESS_CLASS, ProgressWndProc);
    // Cleared: a distance that reaches before the first stream's start
    // copies zeros, never what the heap held.
    OutputWindow = (uint8_t *)HeapAllocZeroed(WINDOW_SIZE);
    InputBuffer = (uint8_t *)HeapAllocBlock(INPUT_SIZE);
    LoadConfig();
    // Before any dialog or folder: a damaged download shows nothing else.
    CheckImageArchive();
    // A fixed folder that cannot be used is refused before the dialog,
    // whose start message would come while the box is up.
    if (SfxConfig->DestKind == DEST_FIXED)
        FixedFolder();
    if (SfxConfig->Flags & SFX_CTL3D)
        Ctl3dStart();
    RunModalDialog((SfxConfig->Flags & SFX_EXTRACTOR_UI) ? IDD_EXTRACTOR : IDD_INSTALLER,
                   MainDlgProc);
    if (SfxConfig->Flags & SFX_CTL3D)
        Ctl3dStop();
    // A caller that reads only the exit code can tell a partial
    // installation from a complete one.
    return ExtractionIncomplete ? 2 : 0;
}
