// The main dialog in its two forms: the installer form takes its destination
// from the configuration alone, the extractor form lets the user type it and
// choose whether to overwrite. The start command runs the whole extraction
// inside the dialog procedure and then ends the dialog.
#include "ui.h"

#include "../archive/config.h"
#include "../extract/extract.h"
#include "../inflate/progress.h"
#include "../messages/messages.h"

#define WM_SFX_START (MSG_PRIVATE + 3)

// An information box of the dialog: OK only, no icon.
static void Inform(const char16_t *text)
{
    ShowMessageBox(MainWindow, text, MessageCaption, MB_OK);
}

// The image's own folder; one whose path is too long for the path buffer
// cannot be extracted to.
static const char16_t *ImageFolder()
{
    if (!ImageDir[0])
        FatalString(IDS_FOLDER_UNUSABLE);
    return ImageDir;
}

static void Initialise(WindowHandle dialog)
{
    MessageCaption = CopyWindowTitle(dialog);
    if (!MessageCaption)
        MessageCaption = u"";
    SetControlText(dialog, IDC_DESCRIPTION, ConfigText(CFG_DESCRIPTION));

    Box slot;
    ControlBox(dialog, IDC_PROGRESS_SLOT, &slot);
    ProgressWindow = CreateChildWindow(PROGRESS_CLASS, u"X", dialog, &slot);
    ProgressShowHook = ShowProgressWindow;
    ProgressRefreshHook = RefreshProgressInTime;
    BeforeBoxHook = CatchUpProgress;

    // Neither control exists in the installer form: both calls then do nothing.
    if (SfxConfig->Flags & SFX_OVERWRITE)
        SetCheckBox(dialog, IDC_OVERWRITE, true);
    char16_t folder[PATH_CHARS];
    switch (SfxConfig->DestKind) {
    case DEST_TEMP:
        if (GetTempFolder(folder))
            SetControlText(dialog, IDC_DEST_DIR, folder);
        break;
    case DEST_IMAGE_DIR:
        SetControlText(dialog, IDC_DEST_DIR, ImageFolder());
        break;
    case DEST_FIXED:
        SetControlText(dialog, IDC_DEST_DIR, FixedFolder());
        break;
    }

    // The icon slot runs to the end of the block.
    uint32_t iconAt = SfxConfig->Offsets[CFG_ICON];
    if (iconAt < ConfigSize)
        SetControlIcon(dialog, IDC_ICON, (const uint8_t *)ConfigString(CFG_ICON),
                       ConfigSize - iconAt);

    StartLink(dialog);

    // Shown before the dialog itself is on screen; the start message posted
    // earlier may come while this box is open.
    const char16_t *init = ConfigText(CFG_INIT_MESSAGE);
    if (*init)
        Inform(init);
}

// Copies text into a PATH_CHARS buffer; false when it does not fit.
static bool CopyPath(char16_t *to, const char16_t *text)
{
    uint32_t length = TextLength(text);
    if (length >= PATH_CHARS)
        return false;
    CopyBytes(to, text, (length + 1) * 2);
    return true;
}

// A folder that this run makes for itself; a platform without a usable
// temporary folder leaves no sound place to extract to.
static void MakeOwnFolder(char16_t *destination)
{
    if (!MakeUniqueTempDir(destination))
        FatalString(IDS_INSTALL_FAILED);
}

// The destination of the installer form, from the configuration; true when
// this run made it. A kind outside the four, or a fixed folder longer than
// the path buffer, names no place to extract to: both are damaged
// configurations.
static bool InstallerDestination(char16_t *destination)
{
    switch (SfxConfig->DestKind) {
    case DEST_TEMP:
        if (GetTempFolder(destination) == 0)
            FatalString(IDS_INSTALL_FAILED);
        return false;
    case DEST_IMAGE_DIR:
        CopyPath(destination, ImageFolder());
        return false;
    case DEST_UNIQUE_TEMP:
        MakeOwnFolder(destination);
        return true;
    case DEST_FIXED:
        CopyPath(destination, FixedFolder());
        return false;
    }
    ShowFatal(InternalErrorText);
}

// The destination of the extractor form: the field as typed (cut to the
// buffer); when emptied, a folder of this run's own for DEST_UNIQUE_TEMP,
// else the current folder. True when this run made it.
static bool ExtractorDestination(WindowHandle dialog, char16_t *destination,
                                 const char16_t *current)
{
    GetControlText(dialog, IDC_DEST_DIR, destination, PATH_CHARS);
    if (destination[0])
        return false;
    if (SfxConfig->DestKind == DEST_UNIQUE_TEMP) {
        MakeOwnFolder(destination);
        return true;
    }
    CopyPath(destination, current);
    return false;
}

static void Start(WindowHandle dialog)
{
    char16_t current[PATH_CHARS];
    current[0] = 0;
    GetCurrentFolder(current);

    char16_t destination[PATH_CHARS];
    destination[0] = 0;
    uint32_t flags = SfxConfig->Flags;
    bool made;
    int overwrite;
    if (flags & SFX_EXTRACTOR_UI) {
        made = ExtractorDestination(dialog, destination, current);
        overwrite = IsCheckBoxOn(dialog, IDC_OVERWRITE);
    } else {
        made = InstallerDestination(destination);
        overwrite = (flags & SFX_OVERWRITE) != 0;
    }

    ExtractAll(destination, overwrite);
    const char16_t *command = ConfigText(CFG_RUN_COMMAND);
    if (*command)
        RunAndWait(command, ConfigText(CFG_WAIT_FILE), destination);
    SetCurrentFolder(current);
    if (made && (flags & SFX_DELETE_AFTER))
        DeleteTree(destination);
    EndModalDialog(dialog, IDCANCEL);
}

intptr_t MainDlgProc(WindowHandle dialog, unsigned message, uintptr_t wParam, intptr_t lParam)
{
    switch (message) {
    case MSG_INITDIALOG:
        if (!MainWindow)
            MainWindow = dialog;
        PostToWindow(dialog, WM_SFX_START, 0, 0);
        if (dialog == MainWindow)
            Initialise(dialog);
        return true;

    case WM_SFX_START: {
        const char16_t *start = ConfigText(CFG_START_MESSAGE);
        if (*start)
            Inform(start);
        if (SfxConfig->Flags & SFX_AUTOSTART)
            PostToWindow(dialog, MSG_COMMAND, IDC_START, 0);
        return true;
    }

    case MSG_COMMAND:
        switch (wParam & 0xFFFF) {
        case IDCANCEL:
            EndModalDialog(dialog, IDCANCEL);
            return true;
        case IDC_START:
            Start(dialog);
            return true;
        case IDC_ABOUT:
            Inform(ConfigText(CFG_ABOUT_TEXT));
            return true;
        case IDC_LINK:
            LinkCommand(dialog, (unsigned)(wParam >> 16) & 0xFFFF);
            return false;
        }
        return false;

    case MSG_CTLCOLORSTATIC:
        return LinkColours(dialog, (CanvasHandle)wParam, (WindowHandle)lParam);

    case MSG_SYSCOLORCHANGE:
        Ctl3dNotifyColorChange();
        return false;
    }
    return false;
}
