// The brevant-pack command line as read: what each option asked for.
#ifndef BREVANT_PACK_OPTIONS_H
#define BREVANT_PACK_OPTIONS_H

#include <map>
#include <string>
#include <vector>

#include "pack.h"

namespace pack {

extern const char kUsage[];

struct Options {
    std::string output, stub, arch, icon, describe, dest, mtime;
    int level = 12, codepage = 0;
    unsigned jobs = 0;  // 0: the processors available
    bool flat = false, help = false, force = false, version = false, json = false, followLinks = false;
    int verbosity = 1;  // 0 with -q, 2 with -v
    uint32_t flags = 0;
    std::string texts[kTextSlots];
    bool haveText[kTextSlots] = {};
    std::vector<std::string> inputs;
    std::vector<std::string> excludes;  // --exclude PATTERN, in order
    std::map<std::string, std::string> program;  // the program's resources, by option
};

// Reads the arguments, @FILE response files expanded in place; a usage
// error is a PackError of Failure::Usage.
Options Parse(std::vector<std::string> args);

// TEXT or @FILE; a file's byte-order mark and trailing line breaks are
// dropped. "@@" at the start stands for a text that begins with "@".
std::string TextArgument(const std::string &value);

}  // namespace pack

#endif
