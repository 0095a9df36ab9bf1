// A reference for the block decoder: the same stream rules, every bit taken
// through TakeBits and FillBits and every byte stored through StoreByte, one
// at a time. Shared by the host tests and the fuzz targets; include it in one
// source file of a program.
#pragma once

#include <stdint.h>

#include "inflate/inflate_internal.h"

namespace inflate_reference {

// ---- The reference ----------------------------------------------------------
// The symbol loop's rule for bits: a lookup or extra field that needs more
// bits than are held fills for exactly that many; a fill the budget refuses
// fails the stream.
#define REF_NEED(n)                                          \
    do {                                                     \
        if (BitCount < (n)) {                                \
            FillBits(n);                                     \
            if (InputSpent)                                  \
                return INFLATE_BAD_DATA; /* budget spent */  \
        }                                                    \
    } while (0)

const CodeEntry *RefLookup(const CodeEntry *table, unsigned width, bool *spent)
{
    *spent = false;
    unsigned n = width;
    for (;;) {
        if (BitCount < n) {
            FillBits(n);
            if (InputSpent) {
                *spent = true;
                return nullptr;
            }
        }
        const CodeEntry *entry = &table[BitBuffer & BitMask(n)];
        if (entry->op <= OP_LITERAL) {
            DropBits(entry->bits);
            return entry;
        }
        if (entry->op == OP_INVALID)
            return nullptr;
        DropBits(entry->bits);
        n = entry->op - OP_LINK;
        table = entry->table;
    }
}

uint16_t RefSymbols(const CodeEntry *lit, const CodeEntry *dist, unsigned litWidth,
                    unsigned distWidth)
{
    for (;;) {
        bool spent;
        const CodeEntry *entry = RefLookup(lit, litWidth, &spent);
        if (!entry)
            return INFLATE_BAD_DATA;
        if (entry->op == OP_LITERAL) {
            StoreByte((uint8_t)entry->value);
            continue;
        }
        if (entry->op == OP_END_OF_BLOCK)
            return INFLATE_OK;
        REF_NEED(entry->op);
        unsigned length = (uint16_t)(entry->value + (BitBuffer & BitMask(entry->op)));
        DropBits(entry->op);
        if (!dist)
            return INFLATE_BAD_DATA;
        entry = RefLookup(dist, distWidth, &spent);
        if (!entry)
            return INFLATE_BAD_DATA;
        REF_NEED(entry->op);
        unsigned distance = (uint16_t)(entry->value + (BitBuffer & BitMask(entry->op)));
        DropBits(entry->op);
        while (length--)
            StoreByte(OutputWindow[(WindowPos - distance) & (WINDOW_SIZE - 1)]);
    }
}

uint16_t RefWithLengths(unsigned litWidth, const uint16_t *lengths, unsigned litCount,
                        unsigned distWidth, unsigned distCount)
{
    CodeEntry *lit;
    uint16_t lw = (uint16_t)litWidth;
    uint16_t result =
        BuildCodeTable(lengths, (uint16_t)litCount, 257, LengthBase, LengthExtra, &lit, &lw);
    if (result != INFLATE_OK) {
        if (result == INFLATE_BAD_DATA)
            FreeCodeTable(lit);
        return result;
    }
    CodeEntry *dist = nullptr;
    uint16_t dw = (uint16_t)distWidth;
    bool any = false;
    for (unsigned i = 0; i < distCount; i++)
        any = any || lengths[litCount + i] != 0;
    if (any) {
        result = BuildCodeTable(lengths + litCount, (uint16_t)distCount, 0, DistanceBase,
                                DistanceExtra, &dist, &dw);
        if (result == INFLATE_BAD_CODES || result == INFLATE_NO_MEMORY) {
            FreeCodeTable(lit);
            return result;
        }
    }
    result = RefSymbols(lit, dist, lw, dw);
    FreeCodeTable(lit);
    FreeCodeTable(dist);
    return result == INFLATE_OK ? INFLATE_OK : INFLATE_BAD_DATA;
}

uint16_t RefFixed()
{
    uint16_t lengths[288 + 30];
    for (unsigned s = 0; s < 288 + 30; s++)
        lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : s < 288 ? 8 : 5;
    return RefWithLengths(7, lengths, 288, 5, 30);
}

uint16_t RefDynamic()
{
    uint16_t lengths[286 + 30];
    unsigned litCount = TakeBits(5) + 257;
    unsigned distCount = TakeBits(5) + 1;
    unsigned clCount = TakeBits(4) + 4;
    if (litCount > 286 || distCount > 30)
        return INFLATE_BAD_DATA;
    unsigned i = 0;
    for (; i < clCount; i++)
        lengths[CodeLengthOrder[i]] = (uint16_t)TakeBits(3);
    for (; i < 19; i++)
        lengths[CodeLengthOrder[i]] = 0;
    CodeEntry *cl;
    uint16_t clWidth = 7;
    uint16_t result = BuildCodeTable(lengths, 19, 19, nullptr, nullptr, &cl, &clWidth);
    if (result != INFLATE_OK) {
        if (result == INFLATE_BAD_DATA)
            FreeCodeTable(cl);
        return result;
    }
    unsigned total = litCount + distCount, have = 0;
    uint16_t previous = 0;
    while (have < total) {
        FillBits(clWidth);
        const CodeEntry &entry = cl[BitBuffer & BitMask(clWidth)];
        DropBits(entry.bits);
        unsigned symbol = entry.value;
        if (symbol < 16) {
            lengths[have++] = previous = (uint16_t)symbol;
            continue;
        }
        unsigned repeat;
        uint16_t length = 0;
        if (symbol == 16) {
            repeat = TakeBits(2) + 3;
            length = previous;
        } else if (symbol == 17) {
            repeat = TakeBits(3) + 3;
        } else {
            repeat = TakeBits(7) + 11;
        }
        if (have + repeat > total) {
            FreeCodeTable(cl);
            return INFLATE_BAD_DATA;
        }
        while (repeat--)
            lengths[have++] = length;
        previous = length;
    }
    FreeCodeTable(cl);
    return RefWithLengths(9, lengths, litCount, 6, distCount);
}

uint16_t RefStored()
{
    DropBits(BitCount % 8);
    uint32_t len = TakeBits(16);
    uint32_t nlen = TakeBits(16);
    if (len != (~nlen & 0xFFFF))
        return INFLATE_BAD_DATA;
    while (len--)
        StoreByte((uint8_t)TakeBits(8));
    return INFLATE_OK;
}

uint16_t RefInflate()
{
    ResetDecoder();
    uint32_t last;
    do {
        last = TakeBits(1);
        uint16_t result;
        switch (TakeBits(2)) {
        case 0:
            result = RefStored();
            break;
        case 1:
            result = RefFixed();
            break;
        case 2:
            result = RefDynamic();
            break;
        default:
            return INFLATE_BAD_CODES;
        }
        if (result == INFLATE_OK && InputSpent)
            result = INFLATE_BAD_DATA;
        if (result != INFLATE_OK)
            return result;
    } while (!last);
    FlushWindow();
    return INFLATE_OK;
}

}  // namespace inflate_reference
