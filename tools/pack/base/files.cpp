// The small files read whole, and the texts given as @FILE.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <map>

#include "base/files.h"
#include "base/errors.h"
#include "os/os.h"

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

std::string TextArgument(const std::string &value)
{
    if (value.empty() || value[0] != '@')
        return value;
    if (value.compare(0, 2, "@@") == 0)
        return value.substr(1);
    Bytes bytes = ReadWholeFile(value.substr(1), kSmallFileLimit);
    // A UTF-8 byte-order mark, as Windows editors write one, is no part of
    // the text: before a --run command it would make the program unfindable.
    size_t bom = bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
    std::string text(bytes.begin() + (ptrdiff_t)bom, bytes.end());
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

}  // namespace pack
