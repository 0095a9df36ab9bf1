// The header of a dynamic block: the code-length code and, decoded with it,
// the code lengths of the block's literal/length and distance codes. Read
// once per block, so built small rather than fast.
#include "symbols.h"

const uint8_t CodeLengthOrder[19] = {
    16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

uint16_t DecodeDynamicBlock()
{
    uint16_t lengths[MAX_LIT_CODES + MAX_DIST_CODES];
    unsigned litCount = TakeBits(5) + 257;
    unsigned distCount = TakeBits(5) + 1;
    unsigned clCount = TakeBits(4) + 4;
    if (litCount > MAX_LIT_CODES || distCount > MAX_DIST_CODES)
        return INFLATE_BAD_DATA;  // too many codes announced

    unsigned i = 0;
    for (; i < clCount; i++)
        lengths[CodeLengthOrder[i]] = (uint16_t)TakeBits(3);
    for (; i < 19; i++)
        lengths[CodeLengthOrder[i]] = 0;

    CodeEntry *clTable;
    uint16_t clWidth = 7;
    uint16_t result = BuildCodeTable(lengths, 19, 19, nullptr, nullptr, &clTable, &clWidth);
    if (result != INFLATE_OK) {
        if (result == INFLATE_BAD_DATA)
            FreeCodeTable(clTable);  // incomplete code-length code
        return result;
    }

    // Code-length codes are at most 7 bits and the root is as wide as the
    // longest of them, so one lookup decodes each.
    unsigned total = litCount + distCount;
    unsigned have = 0;
    uint16_t previous = 0;
    while (have < total) {
        if (BitCount < clWidth)  // most symbols need no fill: no call then
            FillBits(clWidth);
        const CodeEntry &entry = clTable[BitBuffer & BitMask(clWidth)];
        DropBits(entry.bits);
        unsigned symbol = entry.value;
        if (symbol < 16) {
            lengths[have++] = (uint16_t)symbol;
            previous = (uint16_t)symbol;
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
            FreeCodeTable(clTable);
            return INFLATE_BAD_DATA;  // a repeat runs past the last length
        }
        while (repeat--)
            lengths[have++] = length;
        previous = length;
    }
    FreeCodeTable(clTable);

    return DecodeWithLengths(9, lengths, (uint16_t)litCount, 6, (uint16_t)distCount);
}
