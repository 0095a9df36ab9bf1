// --run checked against the archive: the program a command starts should be
// one of the entries, which the stub extracts into the folder it runs in.
//
// Command notes. Windows takes a command's program as its first word: up to
// the closing quote when it begins with one, else up to the first space or
// tab. A name without an extension is tried with ".exe". A program given by
// an absolute path ("C:\...", "\\server\...", "\...") or by an environment
// reference ("%SystemRoot%\...") is the publisher's choice of a file outside
// the archive and is not checked. Names compare as Windows compares them,
// without regard to case.
#include <ostream>

#include "image/image.h"

namespace pack {

namespace {

std::string ProgramOf(const std::string &command)
{
    size_t start = command.find_first_not_of(" \t");
    if (start == std::string::npos)
        return "";
    if (command[start] == '"') {
        size_t close = command.find('"', start + 1);
        return command.substr(start + 1, close == std::string::npos ? std::string::npos : close - start - 1);
    }
    size_t end = command.find_first_of(" \t", start);
    return command.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// The file entries by their folded names, and the same without their first
// folder (what --flat would have made of a folder given as an input).
struct Entries {
    std::vector<std::pair<std::string, std::string>> files;  // folded, as packed
    const std::string *Find(const std::string &folded) const
    {
        for (const auto &file : files)
            if (file.first == folded)
                return &file.second;
        return nullptr;
    }
    const std::string *BelowFolder(const std::string &folded) const
    {
        for (const auto &file : files) {
            size_t slash = file.first.find('/');
            if (slash != std::string::npos && file.first.compare(slash + 1, std::string::npos, folded) == 0)
                return &file.second;
        }
        return nullptr;
    }
};

}  // namespace

void CheckRunProgram(const std::string &command, const std::vector<InputItem> &items, std::ostream &err)
{
    std::string program = ProgramOf(command);
    for (char &c : program)
        if (c == '\\')
            c = '/';
    while (program.compare(0, 2, "./") == 0)
        program.erase(0, 2);
    bool absolute = program.empty() || program[0] == '/' || program[0] == '%' ||
                    (program.size() > 1 && program[1] == ':');
    if (absolute)
        return;
    Entries entries;
    for (const InputItem &item : items)
        if (!item.folder)
            entries.files.emplace_back(FoldCase(item.utf8), item.utf8);
    std::string folded = FoldCase(program);
    std::vector<std::string> tries = {folded};
    if (folded.find('.', folded.rfind('/') + 1) == std::string::npos)
        tries.push_back(folded + ".EXE");  // FoldCase gives upper case
    for (const std::string &name : tries)
        if (entries.Find(name))
            return;
    // What was meant: the name below the folder it was packed in, or, for a
    // name with a folder, the same without it (packed with --flat).
    const std::string *meant = nullptr;
    for (const std::string &name : tries) {
        meant = meant ? meant : entries.BelowFolder(name);
        size_t slash = name.find('/');
        if (!meant && slash != std::string::npos)
            meant = entries.Find(name.substr(slash + 1));
    }
    std::string written = meant ? *meant : "";
    for (char &c : written)
        if (c == '/')
            c = '\\';  // as Windows writes a path
    std::string hint = meant ? "; the archive holds " + *meant + ": give --run " + written : "";
    if (program.find('/') != std::string::npos)
        throw PackError("--run: " + program + " is no entry of the archive" +
                        (meant ? hint : "; a program in a folder of the destination must be packed there"));
    err << "brevant-pack: warning: --run: " << program << " is no entry of the archive"
        << (meant ? hint + " (or pack the folder's contents with --flat)"
                  : "; it runs only if Windows finds it elsewhere, as a system program")
        << "\n";
}

}  // namespace pack
