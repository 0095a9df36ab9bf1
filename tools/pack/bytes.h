// Little-endian fields in the packer's byte buffers, as every format the
// image holds (PE, ZIP, resources) stores them.
#pragma once

#include "pack.h"

namespace pack {

inline uint32_t Get16(const Bytes &b, size_t at) { return b[at] | b[at + 1] << 8; }
inline uint32_t Get32(const Bytes &b, size_t at) { return Get16(b, at) | Get16(b, at + 2) << 16; }

inline void Put16(Bytes &out, uint32_t v)
{
    out.push_back((uint8_t)v);
    out.push_back((uint8_t)(v >> 8));
}

inline void Put32(Bytes &out, uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

inline void PutAt32(Bytes &out, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        out[at + i] = (uint8_t)(v >> (8 * i));
}

inline void Pad(Bytes &out, size_t alignment)
{
    while (out.size() % alignment)
        out.push_back(0);
}

}  // namespace pack
