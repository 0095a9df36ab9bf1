// The fixed destination as this machine names it: its %NAME% references
// (%LOCALAPPDATA%\Programs\Demo) expanded from the user's environment when
// the destination is picked, and the result checked before anything is
// made. A folder that cannot be used is said once, naming it, and nothing
// is extracted.
#include "extract.h"

#include "../archive/config.h"
#include "../messages/messages.h"

static char16_t FixedPath[PATH_CHARS];

[[noreturn]] void RefuseDestination(const char16_t *folder)
{
    ShowFatal(FormatResString(IDS_DEST_UNUSABLE, folder));
}

// "X:\..." or "\\server\share..."; a path relative to the current folder
// or drive would land wherever the program happens to be started.
static bool IsAbsolute(const char16_t *path)
{
    if (path[0] == '\\')
        return path[1] == '\\' && path[2] && path[2] != '\\';
    return path[0] && path[1] == ':' && path[2] == '\\';
}

const char16_t *FixedFolder()
{
    const char16_t *stored = ConfigText(CFG_FIXED_DIR);
    // With room for the trailing backslash. A '%' left over is a reference
    // to a variable this user does not have.
    uint32_t length = ExpandReferences(stored, FixedPath, PATH_CHARS - 1);
    bool usable = length > 0 && IsAbsolute(FixedPath);
    for (uint32_t i = 0; i < length; i++)
        usable &= FixedPath[i] != '%';
    // The file waited on lies below the folder: its path must fit as well.
    const char16_t *waitFile = ConfigText(CFG_WAIT_FILE);
    char16_t joined[PATH_CHARS];
    if (usable && *ConfigText(CFG_RUN_COMMAND) && *waitFile)
        usable = JoinPath(joined, FixedPath, waitFile);
    if (!usable)
        RefuseDestination(length ? FixedPath : stored);
    return FixedPath;
}
