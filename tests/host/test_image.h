// Helpers for host tests: a temporary file that becomes the program's image.
#pragma once

#include <stdint.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/platform.h"

class TempImage {
public:
    explicit TempImage(const std::vector<uint8_t> &bytes)
    {
        char name[] = "/tmp/brevant-image-XXXXXX";
        int fd = mkstemp(name);
        path_ = name;
        if (!bytes.empty() && write(fd, bytes.data(), bytes.size()) != (ssize_t)bytes.size())
            abort();
        close(fd);
        ImageFile = OpenReadShared(path_.c_str());
    }
    ~TempImage()
    {
        CloseFile(ImageFile);
        ImageFile = INVALID_FILE;
        unlink(path_.c_str());
    }
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

inline void Put16(std::vector<uint8_t> &out, uint16_t v)
{
    out.push_back((uint8_t)v);
    out.push_back((uint8_t)(v >> 8));
}

inline void Put32(std::vector<uint8_t> &out, uint32_t v)
{
    Put16(out, (uint16_t)v);
    Put16(out, (uint16_t)(v >> 16));
}

inline uint32_t Get32At(const std::vector<uint8_t> &bytes, size_t at)
{
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | (uint32_t)bytes[at + 3] << 24;
}

// Appends the central directory of the local entries from first to the
// image's end, each record copied from its local header, and the end record:
// offsets counted from base (0: the image's start; first: the archive's, as
// another tool's archive appended to a stub has them).
inline void AppendDirectory(std::vector<uint8_t> &image, uint32_t first, uint32_t base = 0)
{
    std::vector<uint8_t> directory;
    uint16_t count = 0;
    for (size_t at = first; at + 30 <= image.size() && Get32At(image, at) == 0x04034B50; count++) {
        uint32_t name = image[at + 26] | image[at + 27] << 8, extra = image[at + 28] | image[at + 29] << 8;
        Put32(directory, 0x02014B50);
        Put16(directory, 20);  // made by
        directory.insert(directory.end(), image.begin() + at + 4, image.begin() + at + 28);
        Put16(directory, 0);  // extra field
        Put16(directory, 0);  // comment
        Put16(directory, 0);  // disk
        Put16(directory, 0);  // internal attributes
        Put32(directory, 0);  // external attributes
        Put32(directory, (uint32_t)at - base);
        directory.insert(directory.end(), image.begin() + at + 30, image.begin() + at + 30 + name);
        at += 30 + name + extra + Get32At(image, at + 18);
    }
    uint32_t offset = (uint32_t)image.size() - base;
    image.insert(image.end(), directory.begin(), directory.end());
    Put32(image, 0x06054B50);
    Put32(image, 0);  // disks
    Put16(image, count);
    Put16(image, count);
    Put32(image, (uint32_t)directory.size());
    Put32(image, offset);
    Put16(image, 0);  // comment
}
