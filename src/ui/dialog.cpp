// The main dialog in its two forms: the installer form takes its destination
// from the configuration alone, the extractor form lets the user type it and
// choose whether to overwrite. The start command runs the whole extraction
// inside the dialog procedure and then ends the dialog.
#include "ui.h"

#include "../archive/config.h"
#include "../extract/extract.h"
#include "../extract/progress.h"
#include "../messages/messages.h"

#define WM_SFX_START (WM_USER + 3)

// An information box of the dialog: OK only, no icon.
static void Inform(const char16_t *text)
{
    MessageBoxW((HWND)MainWindow, (LPCWSTR)text, (LPCWSTR)MessageCaption, MB_OK);
}

static void SetText(HWND dialog, int id, const char16_t *text)
{
    SetDlgItemTextW(dialog, id, (LPCWSTR)text);
}

// The window's title as a fresh heap string; "" when memory runs out.
static const char16_t *CopyTitle(HWND window)
{
    int length = GetWindowTextLengthW(window);
    char16_t *title = (char16_t *)HeapAllocBlock(((uint32_t)length + 1) * 2);
    if (!title)
        return u"";
    title[0] = 0;
    GetWindowTextW(window, (LPWSTR)title, length + 1);
    return title;
}

// Builds an icon from one icon image in the icon-resource layout and sets
// it into the icon control, destroying the icon that it held before. Bytes
// that make no icon leave the control as it is.
static void SetIcon(HWND dialog, const uint8_t *image, uint32_t size)
{
    HICON icon = CreateIconFromResource((PBYTE)image, size, TRUE, 0x00030000);
    if (!icon)
        return;
    HICON old = (HICON)SendDlgItemMessageW(dialog, IDC_ICON, STM_SETICON, (WPARAM)icon, 0);
    if (old)
        DestroyIcon(old);
}

// The image's own folder; one whose path is too long for the path buffer
// cannot be extracted to.
static const char16_t *ImageFolder()
{
    if (!ImageDir[0])
        FatalString(IDS_FOLDER_UNUSABLE);
    return ImageDir;
}

static void Initialise(HWND dialog)
{
    MessageCaption = CopyTitle(dialog);
    SetText(dialog, IDC_DESCRIPTION, ConfigText(CFG_DESCRIPTION));

    // The placeholder's rectangle in the dialog's client coordinates, both
    // corners mapped so that a right-to-left dialog still gets left < right.
    RECT slot = {0, 0, 0, 0};
    GetWindowRect(GetDlgItem(dialog, IDC_PROGRESS_SLOT), &slot);
    MapWindowPoints(HWND_DESKTOP, dialog, (POINT *)&slot, 2);
    ProgressWindow = CreateWindowExW(0, PROGRESS_CLASS, L"X", WS_CHILD, slot.left, slot.top,
                                     slot.right - slot.left, slot.bottom - slot.top, dialog,
                                     (HMENU)0, (HINSTANCE)ModuleInstance, nullptr);
    ProgressShowHook = ShowProgressWindow;
    ProgressRefreshHook = RefreshProgressInTime;
    BeforeBoxHook = CatchUpProgress;

    // Neither control exists in the installer form: both calls then do nothing.
    if (SfxConfig->Flags & SFX_OVERWRITE)
        CheckDlgButton(dialog, IDC_OVERWRITE, BST_CHECKED);
    char16_t folder[PATH_CHARS];
    switch (SfxConfig->DestKind) {
    case DEST_TEMP:
        if (GetTempFolder(folder))
            SetText(dialog, IDC_DEST_DIR, folder);
        break;
    case DEST_IMAGE_DIR:
        SetText(dialog, IDC_DEST_DIR, ImageFolder());
        break;
    case DEST_FIXED:
        SetText(dialog, IDC_DEST_DIR, ConfigText(CFG_FIXED_DIR));
        break;
    }

    // The icon slot runs to the end of the block.
    uint32_t iconAt = SfxConfig->Offsets[CFG_ICON];
    if (iconAt < ConfigSize)
        SetIcon(dialog, (const uint8_t *)ConfigString(CFG_ICON), ConfigSize - iconAt);

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
        if (!CopyPath(destination, ConfigText(CFG_FIXED_DIR)))
            ShowFatal(InternalErrorText);
        return false;
    }
    ShowFatal(InternalErrorText);
}

// The destination of the extractor form: the field as typed (cut to the
// buffer); when emptied, a folder of this run's own for DEST_UNIQUE_TEMP,
// else the current folder. True when this run made it.
static bool ExtractorDestination(HWND dialog, char16_t *destination, const char16_t *current)
{
    destination[0] = 0;
    GetDlgItemTextW(dialog, IDC_DEST_DIR, (LPWSTR)destination, PATH_CHARS);
    if (destination[0])
        return false;
    if (SfxConfig->DestKind == DEST_UNIQUE_TEMP) {
        MakeOwnFolder(destination);
        return true;
    }
    CopyPath(destination, current);
    return false;
}

static void Start(HWND dialog)
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
        overwrite = IsDlgButtonChecked(dialog, IDC_OVERWRITE) == BST_CHECKED;
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
    EndDialog(dialog, IDCANCEL);
}

INT_PTR CALLBACK MainDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        if (!MainWindow)
            MainWindow = dialog;
        PostMessageW(dialog, WM_SFX_START, 0, 0);
        if (dialog == MainWindow)
            Initialise(dialog);
        return true;

    case WM_SFX_START: {
        const char16_t *start = ConfigText(CFG_START_MESSAGE);
        if (*start)
            Inform(start);
        if (SfxConfig->Flags & SFX_AUTOSTART)
            PostMessageW(dialog, WM_COMMAND, IDC_START, 0);
        return true;
    }

    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return true;
        case IDC_START:
            Start(dialog);
            return true;
        case IDC_ABOUT:
            Inform(ConfigText(CFG_ABOUT_TEXT));
            return true;
        case IDC_LINK:
            LinkCommand(dialog, HIWORD(wParam));
            return false;
        }
        return false;

    case WM_CTLCOLORSTATIC:
        return LinkColours(dialog, (HDC)wParam, (HWND)lParam);

    case WM_SYSCOLORCHANGE:
        Ctl3dNotifyColorChange();
        return false;
    }
    return false;
}
