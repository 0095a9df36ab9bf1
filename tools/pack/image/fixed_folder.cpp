// The fixed destination as the publisher writes it: an absolute folder
// (X:\..., \\server\share\...) or one that begins with a %NAME% reference,
// which the stub expands from the user's environment when it runs
// (%LOCALAPPDATA%\Programs\Demo). Anything else would land wherever the
// program happens to be started, or be refused by the stub on every machine.
#include <ctype.h>

#include <set>

#include "image/image.h"

namespace pack {

namespace {

// The variables every Windows session has (those of the user's folders,
// the system's and the session's own), in upper case.
const std::set<std::string> kStandardVariables = {
    "ALLUSERSPROFILE", "APPDATA", "COMMONPROGRAMFILES", "COMMONPROGRAMFILES(X86)", "COMMONPROGRAMW6432",
    "COMPUTERNAME", "HOMEDRIVE", "HOMEPATH", "LOCALAPPDATA", "PROGRAMDATA", "PROGRAMFILES",
    "PROGRAMFILES(X86)", "PROGRAMW6432", "PUBLIC", "SYSTEMDRIVE", "SYSTEMROOT", "TEMP", "TMP",
    "USERDOMAIN", "USERNAME", "USERPROFILE", "WINDIR"};

bool IsAbsolute(const std::string &path)
{
    if (path.size() >= 3 && isalpha((unsigned char)path[0]) && path[1] == ':' && path[2] == '\\')
        return true;
    // \\server\share, then the end or a backslash
    if (path.compare(0, 2, "\\\\") != 0)
        return false;
    size_t share = path.find('\\', 2);
    if (share == std::string::npos || share == 2)
        return false;
    size_t end = path.find('\\', share + 1);
    return (end == std::string::npos ? path.size() : end) > share + 1;
}

}  // namespace

void CheckFixedFolder(const std::string &path, std::ostream &err)
{
    const std::string what = "--dest fixed:" + path;
    std::set<std::string> unknown;
    for (size_t at = path.find('%'); at != std::string::npos; at = path.find('%', at)) {
        size_t end = path.find('%', at + 1);
        if (end == std::string::npos || end == at + 1)
            throw PackError(what + ": a '%' that begins no %NAME% reference; the stub refuses a folder that "
                                   "still holds '%' once expanded");
        std::string name = path.substr(at + 1, end - at - 1), upper;
        for (char c : name)
            upper += (char)toupper((unsigned char)c);
        if (!kStandardVariables.count(upper))
            unknown.insert("%" + name + "%");
        at = end + 1;
    }
    if (!IsAbsolute(path) && path[0] != '%')
        throw PackError(what + ": the folder is neither absolute (X:\\..., \\\\server\\share\\...) nor begins "
                               "with a reference such as %LOCALAPPDATA%; it would land in whatever folder the "
                               "program is started from");
    for (const std::string &name : unknown)
        err << "brevant-pack: warning: " << what << ": " << name
            << " is not one of Windows' standard variables; where the user has no such variable the stub "
               "extracts nothing\n";
}

}  // namespace pack
