// Little-endian fields in the packer's byte buffers, as every format the
// image holds (PE, ZIP, resources) stores them; and PNG's big-endian ones.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

namespace pack {

using Bytes = std::vector<uint8_t>;

inline uint32_t Get16(const Bytes &b, size_t at) { return b[at] | b[at + 1] << 8; }
inline uint32_t Get32(const Bytes &b, size_t at) { return Get16(b, at) | Get16(b, at + 2) << 16; }
inline uint32_t Get16(const uint8_t *p) { return p[0] | p[1] << 8; }
inline uint32_t Get32(const uint8_t *p) { return Get16(p) | Get16(p + 2) << 16; }
// A big-endian field, as PNG stores them.
inline uint32_t GetBE32(const uint8_t *p) { return (uint32_t)p[0] << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

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
