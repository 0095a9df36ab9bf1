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
