// What stops the packer: an error that says what and where, the kind of
// failure that gives the command's exit code, and several refusals told as
// one.
#pragma once

#include <stddef.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace pack {

// What kind of failure stopped the packer; the command's exit code (the
// table in README says the same).
enum class Failure {
    Refused = 1,  // an input, a text, the icon, the stub or the output that can't be taken
    Usage = 2,    // the command line itself: an unknown option, a missing value, a value the option does not take
    Io = 3,       // an existing file could not be read or the output not written
};

// A rule of the stub or of the input was broken; what() says which and where.
struct PackError : std::runtime_error {
    explicit PackError(const std::string &what, Failure kind = Failure::Refused)
        : std::runtime_error(what), failure(kind) {}
    Failure failure;
    bool escaped = false;  // a line each, already Printable (Refusals)
};
// A failed system call on a path: Refused when the path is not there (or
// not what it should be), Io when it is there and can't be read.
Failure FailureOf(int error);
// Several refusals as one error: a line each (at most kMostRefusals), then
// how many there were. Its kind is the gravest of theirs.
constexpr size_t kMostRefusals = 50;
PackError Refusals(const std::vector<PackError> &errors);
// The line that ends every refused run: "N refusals; nothing was written".
std::string RefusalCount(size_t count);

}  // namespace pack
