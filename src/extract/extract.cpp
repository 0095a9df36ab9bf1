// The extraction loop: every entry of the appended archive, walked by its
// local headers, becomes a file below the destination, verified against
// its CRC-32, with the replace and create-failure prompts.
#include "extract.h"

#include "../archive/archive.h"
#include "../inflate/inflate.h"
#include "../messages/messages.h"
#include "paths.h"

void MakeDirs(char *path)
{
    for (char *p = path; *p; p = (char *)NextChar(p)) {
        if (*p == '\\') {
            *p = 0;
            MakeFolder(path);
            *p = '\\';
        }
    }
}

bool SelectDrive(int drive)
{
    if (drive < 1 || drive > 31)
        return false;
    char root[3] = {(char)(drive + 64), ':', 0};
    return SetCurrentFolder(root);
}

bool ExtractionIncomplete;

// Part names Windows keeps for devices: "NUL.txt" or "com1" open the device,
// not a file. COM and LPT take a digit 1-9 or a superscript one to three.
static bool IsDeviceName(const uint16_t *part, uint32_t length)
{
    // The base before the first dot, less trailing spaces ("CON .txt").
    uint32_t base = 0;
    while (base < length && part[base] != '.')
        base++;
    while (base > 0 && part[base - 1] == ' ')
        base--;
    char upper[8];
    if (base < 3 || base > 7)
        return false;
    for (uint32_t i = 0; i < base; i++) {
        uint16_t c = part[i];
        if (c >= 'a' && c <= 'z')
            c = (uint16_t)(c - 'a' + 'A');
        if (c == 0xB9 || c == 0xB2 || c == 0xB3)
            c = '1';  // superscript one, two, three: which one does not matter
        if (c > 0x7F)
            return false;
        upper[i] = (char)c;
    }
    static const char *const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char *device : devices) {
        uint32_t i = 0;
        while (i < base && device[i] == upper[i])
            i++;
        if (i == base && device[i] == 0)
            return true;
    }
    return base == 4 && upper[3] >= '1' && upper[3] <= '9' &&
           ((upper[0] == 'C' && upper[1] == 'O' && upper[2] == 'M') ||
            (upper[0] == 'L' && upper[1] == 'P' && upper[2] == 'T'));
}

// Whether the platform creates a stored name as itself, below the
// destination. Names are used as stored; the platform reads them in its code
// page, takes both '/' (turned into '\') and '\' as separators, trims a
// part's trailing dots and spaces and opens devices by name. So a name is
// refused when it starts at a root ("\x", "/x"), holds a ':' (a drive, a data
// stream), has a part that ends in a dot or a space ("dot.", "..", ".. ":
// created under another name, or climbing out) or is a device name, or
// holds bytes that form no character of the code page: the platform would
// read another name than the one checked here. Checked character by
// character as the platform decodes them, so no step passes the name's end.
static bool NameIsCreatable(const char *name)
{
    if (name[0] == '/' || name[0] == '\\')
        return false;
    uint16_t part[MAX_NAME_LENGTH + 1];
    uint32_t length = 0;
    for (const char *p = name;;) {
        uint16_t c = 0;
        uint32_t size = 1;
        if (*p) {
            c = DecodeChar(p, &size);
            if (size == 0)
                return false;
        }
        if (c == ':')
            return false;
        if (c == 0 || c == '/' || c == '\\') {
            if (length > 0 && (part[length - 1] == '.' || part[length - 1] == ' '))
                return false;
            if (IsDeviceName(part, length))
                return false;
            if (c == 0)
                return true;
            length = 0;
        } else if (length < MAX_NAME_LENGTH) {
            part[length++] = c;
        }
        p += size;
    }
}

// The name as prompts and the progress bar show it: each byte that forms no
// character of the code page becomes '?', so the text is never cut or lost.
static void MakeShownName(const char *name, char *shown)
{
    for (const char *p = name; *p;) {
        uint32_t size;
        DecodeChar(p, &size);
        if (size == 0) {
            *shown++ = '?';
            p++;
        } else {
            while (size--)
                *shown++ = *p++;
        }
    }
    *shown = 0;
}

static void ShowProgress(bool shown)
{
    if (ProgressShowHook)
        ProgressShowHook(shown);
}

static void RefreshProgress()
{
    if (ProgressRefreshHook)
        ProgressRefreshHook();
}

// Opens the entry's file: the existing one after the replace prompt, else a
// new one. INVALID_FILE when the entry is to be skipped (*failed: because it
// could not be created); *created tells a new file.
static FileHandle OpenOutput(const char *path, const char *name, int overwrite, bool *created,
                             bool *failed)
{
    *created = false;
    *failed = false;
    FileHandle file = OpenForReplace(path);
    if (file != INVALID_FILE) {
        bool replace = overwrite || AskReplace(name);
        CloseFile(file);
        if (!replace)
            return INVALID_FILE;
    } else {
        *created = true;
    }
    file = CreateOutputFile(path);
    if (file == INVALID_FILE) {
        AskCreateFailed(name);
        *failed = true;
    }
    return file;
}

// Writes one file entry whose data starts at dataAt; false when it could not
// be created, written or verified (the user has been told).
static bool ExtractFile(const LocalHeader *header, uint32_t dataAt, const char *path,
                        const char *shown, int overwrite)
{
    if (header->Method != 0 && header->Method != 8) {
        ReportBadEntry(shown);  // a method this program cannot decode
        return false;
    }
    if (!path) {
        AskCreateFailed(shown);
        return false;
    }
    bool created, failed;
    FileHandle file = OpenOutput(path, shown, overwrite, &created, &failed);
    if (file == INVALID_FILE)
        return !failed;
    OutputFile = file;
    SeekTo(ImageFile, dataAt);
    DecodeResult result = DecodeEntry(header, EntryBudget(header), nullptr);
    if (result == DECODE_WRITE_FAILED)
        AskWriteFailed(shown);
    else if (result != DECODE_OK)
        ReportBadEntry(shown);
    // Stamped after the data: a file system that moves the last-write time
    // on every write would otherwise keep the time of extraction.
    if (created)
        StampDosTime(file, header->ModDate, header->ModTime);
    CloseFile(file);
    OutputFile = INVALID_FILE;
    return result == DECODE_OK;
}

// Whether the first length bytes of a and b are the same.
static bool SameStart(const char *a, const char *b, uint32_t length)
{
    for (uint32_t i = 0; i < length; i++)
        if (a[i] != b[i])
            return false;
    return true;
}

void ExtractAll(char *destination, int overwrite)
{
    char name[MAX_NAME_LENGTH + 1], shown[MAX_NAME_LENGTH + 1];
    // The path up to the base name of the last entry whose folders were
    // made: the next entries of the same folder need none made again.
    char made[PATH_CHARS];
    uint32_t madeLength = 0;

    // A destination with a drive letter makes that drive current.
    char drive = destination[0];
    if (drive >= 'a' && drive <= 'z')
        drive = (char)(drive - 'a' + 'A');
    if (drive && destination[1] == ':')
        SelectDrive(drive - 64);

    // A destination that cannot take its backslash can hold no entry: every
    // one of them is refused like a file that cannot be created.
    int32_t base = AddBackslash(destination);
    bool usable = base >= 0;
    if (!usable)
        base = (int32_t)StringLength(destination);
    MakeDirs(destination);

    int32_t first = FindSignature(LOCAL_SIG_LOW, LOCAL_SIG_HIGH);
    if (first < 0)
        ShowFatal(InternalErrorText);
    ProgressTotal = CountTotalSize((uint32_t)first);
    ProgressDone = 0;
    ExtractionIncomplete = false;

    LocalHeader header;
    WalkStep step;
    for (uint32_t at = (uint32_t)first; (step = ReadLocalHeader(at, &header)) == WALK_ENTRY;) {
        // ReadLocalHeader leaves the file at the name.
        uint32_t got = ReadBytes(ImageFile, name, header.NameLength);
        name[got] = 0;
        MakeShownName(name, shown);

        // The base name follows the last '/'; only '/' makes folders.
        const char *baseName = shown;
        for (const char *p = shown; *p; p = NextChar(p))
            if (*p == '/')
                baseName = p + 1;

        // The path: the name behind the destination, '/' made '\'. It ends
        // at the name's first zero byte, like the name itself.
        bool creatable = usable && (uint32_t)base + StringLength(name) < PATH_CHARS &&
                         NameIsCreatable(name);
        if (creatable) {
            char *out = destination + base;
            for (const char *p = name; *p; p++)
                *out++ = *p == '/' ? '\\' : *p;
            *out = 0;
        }

        ShowProgress(true);
        CurrentName = baseName;
        RefreshProgress();

        uint32_t folders = (uint32_t)base + (uint32_t)(baseName - shown);
        if (creatable && baseName != shown &&
            !(folders == madeLength && SameStart(destination, made, folders))) {
            MakeDirs(destination);
            CopyBytes(made, destination, folders);
            madeLength = folders;
        }
        // A folder entry, or an empty name, has nothing more to make.
        if (*baseName &&
            !ExtractFile(&header, at + LOCAL_HEADER_SIZE + header.NameLength + header.ExtraLength,
                         creatable ? destination : nullptr, shown, overwrite))
            ExtractionIncomplete = true;
        destination[base] = 0;

        at = NextHeaderOffset(at, &header);
        if (at == 0) {
            step = WALK_BROKEN;
            break;
        }
    }
    // Entries are missing after a walk that did not end where the archive
    // says it ends: reported after those already extracted.
    if (step == WALK_BROKEN)
        FatalString(IDS_READ_ERROR);
    // Hidden first: hiding paints a refresh still noted, with the last name.
    ShowProgress(false);
    CurrentName = nullptr;
}
