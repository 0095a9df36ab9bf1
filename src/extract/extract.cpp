// The extraction loop: every entry of the appended archive, checked whole
// against its central directory first and then walked by its local headers,
// becomes a file below the destination, verified against its CRC-32, with
// the replace and create-failure prompts.
#include "extract.h"

#include "../archive/archive.h"
#include "../archive/names.h"
#include "../inflate/inflate.h"
#include "../messages/messages.h"
#include "paths.h"
#include "progress.h"

void MakeDirs(char16_t *path)
{
    for (char16_t *p = path; *p; p++) {
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
    char16_t root[3] = {(char16_t)(drive + 64), ':', 0};
    return SetCurrentFolder(root);
}

bool ExtractionIncomplete;

// The image's archive as CheckImageArchive found it.
static ArchiveSummary Archive;

void CheckImageArchive()
{
    if (CheckArchive(ImageFile, &Archive) != ARCHIVE_OK)
        FatalString(IDS_READ_ERROR);
}

// The name as prompts and the progress bar show it: decoded as far as it
// goes, each byte that forms no character as U+FFFD or '?', and each control
// character as '?', so that the text is never cut, lost or broken into lines.
static void MakeShownName(const char *name, uint32_t length, bool utf8, char16_t *shown)
{
    DecodeStored(name, length, utf8, false, shown);
    for (; *shown; shown++)
        if (*shown < 0x20 || *shown == 0x7F)
            *shown = '?';
}

static void ShowProgress(bool shown)
{
    if (ProgressShowHook)
        ProgressShowHook(shown);
}

static void AskForRefresh()
{
    if (ProgressRefreshHook)
        ProgressRefreshHook();
}

// Opens the entry's file: the existing one after the replace prompt, else a
// new one. INVALID_FILE when the entry is to be skipped (*failed: because it
// could not be created); *created tells a new file.
static FileHandle OpenOutput(const char16_t *path, const char16_t *name, int overwrite,
                             bool *created, bool *failed)
{
    *failed = false;
    // Most files are new: one call creates them. Where that fails, the
    // file is there (or cannot be made), and is looked at as before.
    FileHandle file = CreateNewFile(path);
    *created = file != INVALID_FILE;
    if (*created)
        return file;
    file = OpenForReplace(path);
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
static bool ExtractFile(const LocalHeader *header, uint32_t dataAt, const char16_t *path,
                        const char16_t *shown, int overwrite)
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
    FileSink sink;
    MakeFileSink(&sink, file);
    SeekTo(ImageFile, dataAt);
    DecodeResult result = DecodeEntry(header, EntryBudget(header), &ImageSource, &sink);
    if (result == DECODE_READ_ERROR) {
        CloseFile(file);
        FatalString(IDS_READ_ERROR);  // the image ends inside the entry's data
    }
    if (result == DECODE_WRITE_FAILED)
        AskWriteFailed(shown);
    else if (result != DECODE_OK)
        ReportBadEntry(shown);
    // Stamped after the data: a file system that moves the last-write time
    // on every write would otherwise keep the time of extraction.
    if (created)
        StampDosTime(file, header->ModDate, header->ModTime);
    CloseFile(file);
    return result == DECODE_OK;
}

// Whether the first length units of a and b are the same.
static bool SameStart(const char16_t *a, const char16_t *b, uint32_t length)
{
    for (uint32_t i = 0; i < length; i++)
        if (a[i] != b[i])
            return false;
    return true;
}

void ExtractAll(char16_t *destination, int overwrite)
{
    char16_t wide[MAX_UTF8_NAME_LENGTH + 1], shown[MAX_UTF8_NAME_LENGTH + 1];
    // The path up to the base name of the last entry whose folders were
    // made: the next entries of the same folder need none made again.
    char16_t made[PATH_CHARS];
    uint32_t madeLength = 0;

    // A destination with a drive letter makes that drive current.
    char16_t drive = destination[0];
    if (drive >= 'a' && drive <= 'z')
        drive = (char16_t)(drive - 'a' + 'A');
    if (drive && destination[1] == ':')
        SelectDrive(drive - 64);

    // A destination that cannot take its backslash can hold no entry: every
    // one of them is refused like a file that cannot be created.
    int32_t base = AddBackslash(destination);
    bool usable = base >= 0;
    if (!usable)
        base = (int32_t)TextLength(destination);
    MakeDirs(destination);

    ProgressTotal = Archive.TotalSize;
    ProgressDone = 0;
    ExtractionIncomplete = false;

    LocalHeader header;
    const char *name;
    uint32_t at = Archive.First;
    while (at != Archive.Directory && (name = ReadLocalEntry(ImageFile, at, &header))) {
        // Bit 11 says UTF-8; without it the name is in the code page of the
        // system.
        uint32_t got = header.NameLength;
        bool utf8 = (header.GeneralFlags & ZIP_FLAG_UTF8) != 0;
        MakeShownName(name, got, utf8, shown);
        int32_t units = DecodeStored(name, got, utf8, true, wide);

        // The base name follows the last '/'; a name ending in '/' is a
        // folder, which holds no data.
        const char16_t *baseName = shown;
        for (const char16_t *p = shown; *p; p++)
            if (*p == '/')
                baseName = p + 1;
        bool folder = units > 0 && wide[units - 1] == '/';

        // The whole name is checked before anything of it is made, so that
        // a refused name leaves no folder behind. The path: the name behind
        // the destination, '/' made '\\'.
        bool creatable = usable && units > 0 && (uint32_t)(base + units) < PATH_CHARS &&
                         WideNameIsCreatable(wide, (uint32_t)units) &&
                         !(folder && (header.CompressedSize | header.UncompressedSize));
        if (creatable) {
            for (int32_t i = 0; i <= units; i++)
                destination[base + i] = wide[i] == '/' ? '\\' : wide[i];
        }

        ShowProgress(true);
        CurrentName = baseName;
        AskForRefresh();

        uint32_t folders = (uint32_t)base + (uint32_t)(baseName - shown);
        if (creatable && baseName != shown &&
            !(folders == madeLength && SameStart(destination, made, folders))) {
            MakeDirs(destination);
            CopyBytes(made, destination, folders * 2);
            madeLength = folders;
        }
        bool done;
        if (folder) {
            // Also refused: a folder where a file of that name stands.
            done = creatable && IsFolder(destination);
            if (!done)
                AskCreateFailed(shown);
        } else {
            done = ExtractFile(&header,
                               at + LOCAL_HEADER_SIZE + header.NameLength + header.ExtraLength,
                               creatable ? destination : nullptr, shown, overwrite);
        }
        if (!done)
            ExtractionIncomplete = true;
        destination[base] = 0;

        at = NextHeaderOffset(at, &header);
    }
    // The walk was checked before; one that no longer reaches the directory
    // reads an image changed since.
    if (at != Archive.Directory)
        FatalString(IDS_READ_ERROR);
    // Hidden first: hiding paints a refresh still noted, with the last name.
    ShowProgress(false);
    CurrentName = nullptr;
}
