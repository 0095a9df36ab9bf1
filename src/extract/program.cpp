// Which program the follow-up command starts. Given a command line without
// a program name, the platform looks for a bare name first in the folder of
// the running image: a downloads folder, where anyone may have left a
// program of that name. So the program is found here, in the destination
// and then in the system's folders, and started by its full path, leaving
// the platform nothing to search.
#include "extract.h"

static bool IsBlank(char16_t c) { return c == ' ' || c == '\t'; }

// A name without a folder or a drive: only such a name is looked for
// outside the destination.
static bool IsBare(const char16_t *name)
{
    for (; *name; name++)
        if (*name == '\\' || *name == '/' || *name == ':')
            return false;
    return true;
}

// The program named by the length units at text, into path: in folder, and
// for a bare name then in the system's folders.
static bool Find(char16_t *path, const char16_t *folder, const char16_t *text, uint32_t length)
{
    char16_t name[PATH_CHARS];
    if (length == 0 || length >= PATH_CHARS)
        return false;
    CopyBytes(name, text, length * 2);
    name[length] = 0;
    return FindProgram(name, folder, IsBare(name), path);
}

// '"', path, '"' and rest, in a fresh heap string.
static char16_t *QuotedLine(const char16_t *path, const char16_t *rest)
{
    uint32_t pathLength = TextLength(path), restLength = TextLength(rest);
    char16_t *line = (char16_t *)HeapAllocBlock((pathLength + restLength + 3) * 2);
    if (!line)
        return nullptr;
    line[0] = '"';
    CopyBytes(line + 1, path, pathLength * 2);
    line[pathLength + 1] = '"';
    CopyBytes(line + pathLength + 2, rest, (restLength + 1) * 2);
    return line;
}

char16_t *ProgramLine(const char16_t *command, const char16_t *folder)
{
    char16_t path[PATH_CHARS];
    while (IsBlank(*command))
        command++;
    // A quoted name ends at the next quote, the arguments following it. An
    // unquoted one may hold blanks: as with the platform, it ends at each
    // blank in turn, then at the end of the command.
    bool quoted = *command == '"';
    const char16_t *name = command + quoted;
    for (const char16_t *end = name;; end++) {
        if (*end && (quoted ? *end != '"' : !IsBlank(*end)))
            continue;
        if (Find(path, folder, name, (uint32_t)(end - name)))
            return QuotedLine(path, end + (quoted && *end));
        if (quoted || !*end)
            return nullptr;
    }
}
