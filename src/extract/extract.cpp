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

// Whether a stored name stays below the destination. Names are used as
// stored, and the platform takes both '/' (turned into '\') and '\' as
// separators, so a name may not start at a root ("\x", "/x"), name a drive
// or an alternate data stream (any ':'), or climb with a ".." part. A part
// of nothing but dots and spaces with two dots or more is refused as well:
// the platform trims trailing dots and spaces, so ".. " would climb too.
// Ordinary names ("a..b.txt", ".profile") pass.
bool NameStaysInside(const char *name)
{
    if (name[0] == '/' || name[0] == '\\')
        return false;
    int dots = 0;
    bool onlyDots = true;
    for (const char *p = name;; p = NextChar(p)) {
        char c = *p;
        if (c == ':')
            return false;
        if (c == 0 || c == '/' || c == '\\') {
            if (onlyDots && dots >= 2)
                return false;
            if (c == 0)
                return true;
            dots = 0;
            onlyDots = true;
        } else if (c == '.') {
            dots++;
        } else if (c != ' ') {
            onlyDots = false;
        }
    }
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
// new one. Null when the entry is to be skipped; *created tells a new file.
static FileHandle OpenOutput(const char *path, const char *name, int overwrite, bool *created)
{
    *created = false;
    FileHandle file = OpenForReplace(path);
    if (file == INVALID_FILE) {
        file = CreateOutputFile(path);
        if (file == INVALID_FILE) {
            AskCreateFailed(name);
            return INVALID_FILE;
        }
        *created = true;
        return file;
    }
    if (!overwrite && !AskReplace(name)) {
        CloseFile(file);
        return INVALID_FILE;
    }
    CloseFile(file);
    file = CreateOutputFile(path);
    if (file == INVALID_FILE)
        AskCreateFailed(name);
    return file;
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
    char name[MAX_NAME_LENGTH + 1];
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

    LocalHeader header;
    for (uint32_t at = (uint32_t)first; ReadLocalHeader(at, &header);) {
        if (header.NameLength > MAX_NAME_LENGTH)
            break;
        // ReadLocalHeader leaves the file at the name.
        uint32_t got = ReadBytes(ImageFile, name, header.NameLength);
        name[got] = 0;

        // The base name follows the last '/'; only '/' makes folders.
        const char *baseName = name;
        for (const char *p = name; *p; p = NextChar(p))
            if (*p == '/')
                baseName = p + 1;
        bool hasFolders = baseName != name;

        // The path: the name behind the destination, '/' made '\'. It ends
        // at the name's first zero byte, like the name itself.
        bool fits = usable && (uint32_t)base + StringLength(name) < PATH_CHARS;
        if (fits) {
            char *out = destination + base;
            for (const char *p = name; *p; p++)
                *out++ = *p == '/' ? '\\' : *p;
            *out = 0;
        }

        ShowProgress(true);
        CurrentName = baseName;
        RefreshProgress();

        bool inside = fits && NameStaysInside(name);
        uint32_t folders = (uint32_t)base + (uint32_t)(baseName - name);
        if (inside && hasFolders &&
            !(folders == madeLength && SameStart(destination, made, folders))) {
            MakeDirs(destination);
            CopyBytes(made, destination, folders);
            madeLength = folders;
        }

        if (*baseName && (header.Method == 0 || header.Method == 8)) {
            bool created = false;
            FileHandle file = INVALID_FILE;
            if (!inside)
                AskCreateFailed(name);
            else
                file = OpenOutput(destination, name, overwrite, &created);
            if (file != INVALID_FILE) {
                OutputFile = file;
                SeekTo(ImageFile, at + LOCAL_HEADER_SIZE + header.NameLength + header.ExtraLength);
                if (DecodeEntry(&header, EntryBudget(&header), nullptr) != DECODE_OK)
                    ReportBadEntry(name);
                // Stamped after the data: a file system that moves the
                // last-write time on every write would otherwise keep the
                // time of extraction.
                if (created)
                    StampDosTime(file, header.ModDate, header.ModTime);
                CloseFile(file);
                OutputFile = INVALID_FILE;
            }
        }
        destination[base] = 0;

        uint32_t next = NextHeaderOffset(at, &header);
        if (next <= at)
            break;  // a step that wraps around would walk in a circle
        at = next;
    }
    // Hidden first: hiding paints a refresh still noted, with the last name.
    ShowProgress(false);
    CurrentName = nullptr;
}
