// Path routines of the destination folder: the trailing-backslash rule, the
// unique temporary folder, deleting a tree, joining a folder and a name.
//
// Paths are UTF-16: a backslash is always the unit 0x5C, never part of
// another character.
#include "extract.h"

#include "paths.h"

#include "../messages/messages.h"

bool EndsInBackslash(const char16_t *path)
{
    uint32_t length = TextLength(path);
    return length > 0 && path[length - 1] == '\\';
}

int32_t AddBackslash(char16_t *path)
{
    int32_t length = (int32_t)TextLength(path);
    if (length == 0 || EndsInBackslash(path))
        return length;
    if (length + 1 >= PATH_CHARS)
        return -1;
    path[length] = '\\';
    path[length + 1] = 0;
    return length + 1;
}

// "PH" and n in five decimal digits.
static void WriteUniqueName(char16_t *at, unsigned n)
{
    at[0] = 'P';
    at[1] = 'H';
    for (int i = 6; i >= 2; i--) {
        at[i] = (char16_t)('0' + n % 10);
        n /= 10;
    }
    at[7] = 0;
}

bool MakeUniqueTempDir(char16_t *buffer)
{
    // No temporary folder, or one so long that the name does not fit: a
    // folder made from nothing would land in the current folder, which
    // nobody chose.
    if (GetTempFolder(buffer) == 0)
        return false;
    int32_t tail = AddBackslash(buffer);
    if (tail <= 0 || tail + 8 > PATH_CHARS)
        return false;
    bool elevated = RunsElevated();
    for (unsigned n = 1; n <= 99; n++) {
        WriteUniqueName(buffer + tail, n);
        if (elevated ? MakeHeldFolder(buffer) : MakeFolder(buffer))
            return true;
    }
    WriteUniqueName(buffer + tail, 100);
    // An elevated run never falls back to a folder that others can reach.
    if (elevated)
        FatalString(IDS_NO_SAFE_FOLDER);
    return false;
}

// The folder's tree, then the folder; top: the folder DeleteTree was given.
static void RemoveTree(char16_t *folder, bool top)
{
    int32_t n = AddBackslash(folder);
    if (n <= 0)
        return;  // empty, or too long to hold even its backslash
    FoundEntry entry;
    SearchHandle search = nullptr;
    if (n + 3 < PATH_CHARS) {
        CopyBytes(folder + n, u"*.*", 8);
        search = FindFirstEntry(folder, &entry);
    }
    if (search) {
        do {
            const char16_t *name = entry.Name;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
                continue;
            int32_t length = (int32_t)TextLength(name);
            if (n + length >= PATH_CHARS)
                continue;  // cannot be named in the buffer: it stays
            CopyBytes(folder + n, name, (length + 1) * 2);
            if (entry.Kind & FOUND_LINK) {
                // A junction or symbolic link: remove the link itself, never
                // what it points to.
                if (entry.Kind & FOUND_DIRECTORY)
                    RemoveFolder(folder);
                else
                    DeleteFileAt(folder);
            } else if (entry.Kind & FOUND_DIRECTORY) {
                RemoveTree(folder, false);
            } else {
                DeleteFileAt(folder);
            }
        } while (FindNextEntry(search, &entry));
        FindEnd(search);
    }
    folder[n - 1] = 0;
    // A held folder is let go only now, empty: its contents went while
    // nobody could put a link in its place.
    if (top)
        ReleaseHeldFolder();
    RemoveFolder(folder);
}

void DeleteTree(char16_t *folder) { RemoveTree(folder, true); }

bool JoinPath(char16_t *out, const char16_t *folder, const char16_t *name)
{
    uint32_t length = TextLength(folder);
    int32_t nameLength = (int32_t)TextLength(name);
    if (length >= PATH_CHARS) {
        out[0] = 0;
        return false;
    }
    CopyBytes(out, folder, (length + 1) * 2);
    int32_t at = AddBackslash(out);
    if (at < 0 || at + nameLength >= PATH_CHARS) {
        out[0] = 0;
        return false;
    }
    CopyBytes(out + at, name, (nameLength + 1) * 2);
    return true;
}
