// --describe inside: what the stub sees in an image, gathered by
// describe.cpp and printed by describe_print.cpp.
#pragma once

#include <stdint.h>

#include <ostream>
#include <string>
#include <vector>

#include "core/core.h"
#include "inputs/inputs.h"
#include "pe/pe.h"

namespace pack {

struct EntryReport {
    std::string name;  // quoted
    bool quoted = false;
    LocalHeader header;
    std::string problem;
};

// What the stub sees in an image, gathered before it is printed.
struct Report {
    uint64_t size = 0;
    int32_t configAt = -1;
    bool loaded = false;
    std::string stop;  // the stub's fatal message at start-up, quoted
    unsigned exitCode = 0;
    std::string machine;
    bool haveProgram = false;
    ProgramInfo program;
    long streamLength = -1;
    uint32_t configCrc = 0;
    int32_t first = -1;
    bool firstInsideStream = false;
    std::vector<EntryReport> entries;
    uint64_t total = 0;
    uint32_t walkEnd = 0;
    std::string walkStop;  // why the walk ended early
    std::vector<std::string> refusals;  // what the stub refuses before writing anything
    int failures = 0;
    bool haveComment = false;
    std::string comment;  // the archive's comment: which packer and stub made it
};

// The bytes of a text or name as UTF-8 between quotes (Quoted): converted
// from the code page when they are its text (codepage null: as they are
// when they are UTF-8), else bytes beyond ASCII as \xNN.
std::string Quote(const std::string &raw, const TextEncoder *codepage, bool json);
// The report as a table, or as one JSON object.
void PrintText(const std::string &path, const Report &report, const TextEncoder &codepage, std::ostream &out);
void PrintJson(const std::string &path, const Report &report, const TextEncoder &codepage, std::ostream &out);

}  // namespace pack
