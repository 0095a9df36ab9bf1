// The packer's errors: the kind of a failed system call, and refusals
// collected on the way told as one.
#include <errno.h>

#include <algorithm>

#include "base/errors.h"
#include "base/escape.h"

namespace pack {

Failure FailureOf(int error)
{
    return error == ENOENT || error == ENOTDIR || error == ELOOP || error == ENAMETOOLONG ? Failure::Refused
                                                                                          : Failure::Io;
}

PackError Refusals(const std::vector<PackError> &errors)
{
    std::string text;
    Failure kind = Failure::Refused;
    for (size_t i = 0; i < errors.size(); i++) {
        kind = std::max(kind, errors[i].failure);
        if (i < kMostRefusals)
            text += Printable(errors[i].what()) + "\n";
    }
    if (errors.size() > kMostRefusals)
        text += "... and " + std::to_string(errors.size() - kMostRefusals) + " more\n";
    PackError all(text + RefusalCount(errors.size()), kind);
    all.escaped = true;
    return all;
}

std::string RefusalCount(size_t count)
{
    return std::to_string(count) + (count == 1 ? " refusal" : " refusals") + "; nothing was written";
}

}  // namespace pack
