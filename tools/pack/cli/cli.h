// The command: its options, the pack from the inputs to the image with its
// progress line, and --describe, which reads an image back as the stub
// would.
#pragma once

#include <stdint.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "core/core.h"
#include "inputs/inputs.h"

namespace pack {

// ---- The command line -----------------------------------------------
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

// ---- The progress line -----------------------------------------------------------
// A progress line on a terminal for packs that take more than a second:
// bytes done of the total and the file at hand, redrawn at most five times
// a second, never wider than the terminal; cleared before any message
// (Clear) and when it goes.
class Progress {
public:
    Progress(const std::vector<InputItem> &items, bool shown, std::ostream &err);
    ~Progress() { Clear(); }
    Progress(const Progress &) = delete;
    Progress &operator=(const Progress &) = delete;
    void Start(const InputItem &item);
    void Advance(uint64_t bytes);
    void Clear();

private:
    void Draw();
    bool shown_, drawn_ = false;
    std::ostream &err_;
    double began_, last_ = 0;
    uint64_t total_ = 0, done_ = 0;
    std::string name_;
};
// The end of text (UTF-8) within columns of a terminal: all of it, or "..."
// and as many whole characters from its end as fit; empty when not even
// that fits.
std::string FitFromEnd(const std::string &text, size_t columns);

// ---- Describing an image -------------------------------------------------------
// Prints an image's configuration and entries, reading it with the stub's own
// routines, and checks every entry's stream; 0 when everything checks.
// Texts and names are printed in UTF-8: names with bit 11 and texts under
// SFX_UTF8_TEXTS as they are; other names from their Unicode Path field,
// otherwise, as other texts, converted from codepage (0: bytes beyond ASCII
// as \xNN). With json, one JSON object instead of the table.
int DescribeImage(const std::string &path, std::ostream &out, std::ostream &err, int codepage = 0,
                  bool json = false);

// ---- The command -----------------------------------------------------------------
// The whole command line (without the program name); the exit code.
int PackMain(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

}  // namespace pack
