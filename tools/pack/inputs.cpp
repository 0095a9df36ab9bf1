// Reading a whole input file.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <map>

#include "pack.h"
#include "platform.h"

namespace pack {

Bytes ReadWholeFile(const std::string &path, uint64_t limit, const std::string &what)
{
    const std::string &name = what.empty() ? path : what;
    // Not blocking: a FIFO is refused, not waited on.
    File file(OpenForReading(path));
    if (!file.open())
        throw PackError(name + ": " + strerror(errno), FailureOf(errno));
    FileStatus st;
    if (StatusOf(file.fd(), &st) != 0 || st.kind != FileStatus::Regular || st.size > limit) {
        if (st.kind != FileStatus::Regular)
            throw PackError(name + ": not a regular file");
        throw PackError(name + ": " + std::to_string(st.size) + " bytes; at most " + std::to_string(limit) +
                        " are read");
    }
    Bytes bytes((size_t)st.size);
    long got = ReadUpTo(file.fd(), bytes.data(), bytes.size());
    int error = errno;
    file.Close();
    if (got < 0)
        throw PackError(name + ": " + strerror(error), Failure::Io);
    bytes.resize((size_t)got);  // a file that shrank meanwhile: what it holds now
    return bytes;
}

}  // namespace pack
