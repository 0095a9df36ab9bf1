// Decoding tables: a prefix code, given as one code length per symbol, turned
// into a multi-level lookup table indexed by the next input bits.
//
// Format notes: the table shapes.
//   The root is R bits wide: the preferred width, raised to the shortest code
//   length or lowered to the longest. One lookup resolves every code of up to
//   R bits; a longer code continues through a link into a subtable, and every
//   table that has subtables is exactly R wide, so a code of length L takes
//   ceil(L / R) lookups. A subtable is only as wide as the codes of its
//   subtree need: it starts as wide as the code that opens it and grows while
//   the codes of that length leave room that longer codes must fill. An
//   incomplete code is first completed with filler codes of the longest
//   length, which decode as none; every slot of every table then belongs to
//   exactly one code. Codes are kept bit-reversed (first bit in bit 0), the
//   order in which they arrive, and a code shorter than its table fills every
//   slot whose low bits match it.
#include "inflate_internal.h"

#define MAX_LEVELS (MAX_CODE_BITS + 1)  // a root width of 1 gives one level per bit

uint16_t BuildCodeTable(const uint16_t *lengths, uint16_t count, uint16_t simpleCount,
                        const uint16_t *baseTable, const uint8_t *extraTable,
                        CodeEntry **rootOut, uint16_t *widthInOut)
{
    // Codes of each length; the count of the longest length later includes
    // the filler codes.
    uint32_t lengthCount[MAX_CODE_BITS + 1];
    for (unsigned len = 0; len <= MAX_CODE_BITS; len++)
        lengthCount[len] = 0;
    for (unsigned s = 0; s < count; s++)
        lengthCount[lengths[s]]++;
    if (lengthCount[0] == count)
        return INFLATE_BAD_CODES;  // no codes at all

    unsigned minLen = 1;
    while (lengthCount[minLen] == 0)
        minLen++;
    unsigned maxLen = MAX_CODE_BITS;
    while (lengthCount[maxLen] == 0)
        maxLen--;
    unsigned root = *widthInOut;
    if (root < minLen)
        root = minLen;
    if (root > maxLen)
        root = maxLen;
    *widthInOut = (uint16_t)root;

    // The code space left at each length; what remains at the longest length
    // becomes filler codes.
    int32_t room = (int32_t)1 << minLen;
    for (unsigned len = minLen; len < maxLen; len++) {
        room -= (int32_t)lengthCount[len];
        if (room < 0)
            return INFLATE_BAD_CODES;  // over-subscribed
        room *= 2;
    }
    room -= (int32_t)lengthCount[maxLen];
    if (room < 0)
        return INFLATE_BAD_CODES;  // over-subscribed
    uint32_t fillers = (uint32_t)room;

    // Symbols sorted by length, then by symbol number.
    uint16_t sorted[MAX_SYMBOLS];
    uint16_t offset[MAX_CODE_BITS + 2];
    offset[minLen] = 0;
    for (unsigned len = minLen; len <= maxLen; len++)
        offset[len + 1] = (uint16_t)(offset[len] + lengthCount[len]);
    uint32_t symbols = offset[maxLen + 1];
    for (unsigned s = 0; s < count; s++)
        if (lengths[s] != 0)
            sorted[offset[lengths[s]]++] = (uint16_t)s;
    lengthCount[maxLen] += fillers;

    CodeEntry *tables[MAX_LEVELS];      // the current table of each level
    uint32_t prefix[MAX_LEVELS];        // the low start bits its codes share
    uint32_t tableSize[MAX_LEVELS];
    CodeEntry *newest = nullptr;        // last table of the chain
    int level = -1;
    int start = -(int)root;             // first code bit the current table indexes
    uint32_t code = 0;                  // bit-reversed
    uint32_t next = 0;                  // index into sorted

    for (unsigned len = minLen; len <= maxLen; len++) {
        for (uint32_t left = lengthCount[len]; left != 0; left--) {
            while ((int)len > start + (int)root) {
                // The code reaches beyond the current table: open one below it.
                start += (int)root;
                level++;
                unsigned limit = maxLen - (unsigned)start;
                if (limit > root)
                    limit = root;
                unsigned width = len - (unsigned)start;
                if (width > limit)
                    width = limit;
                if (width < limit && ((uint32_t)1 << width) > left) {
                    // Too few codes of this length to fill it: widen the table
                    // for the longer codes that must share its subtree.
                    uint32_t free = ((uint32_t)1 << width) - left;
                    for (;;) {
                        if (++width >= limit)
                            break;
                        free *= 2;
                        if (free <= lengthCount[(unsigned)start + width])
                            break;
                        free -= lengthCount[(unsigned)start + width];
                    }
                }
                uint32_t size = (uint32_t)1 << width;
                CodeEntry *block =
                    (CodeEntry *)HeapAllocBlock((size + 1) * (uint32_t)sizeof(CodeEntry));
                if (!block) {
                    if (newest)
                        FreeCodeTable(*rootOut);
                    return INFLATE_NO_MEMORY;
                }
                block->table = nullptr;
                CodeEntry *table = block + 1;
                if (newest)
                    newest[-1].table = table;
                else
                    *rootOut = table;
                newest = table;
                tables[level] = table;
                tableSize[level] = size;
                prefix[level] = code & BitMask((unsigned)start);
                if (level > 0) {
                    CodeEntry &link = tables[level - 1][code >> (start - (int)root)];
                    link.op = (uint8_t)(OP_LINK + width);
                    link.bits = (uint8_t)root;
                    link.table = table;
                }
            }

            CodeEntry entry;
            entry.bits = (uint8_t)(len - (unsigned)start);
            entry.table = nullptr;
            if (next < symbols) {
                unsigned s = sorted[next++];
                if (s < simpleCount) {
                    entry.op = s < 256 ? OP_LITERAL : OP_END_OF_BLOCK;
                    entry.value = (uint16_t)s;
                } else {
                    entry.op = extraTable[s - simpleCount];
                    entry.value = baseTable[s - simpleCount];
                }
            } else {
                entry.op = OP_INVALID;  // filler
            }
            // The entry goes to every slot of its table whose low bits are
            // the code: hundreds for a short code. Its fields were set apart,
            // and the small code of this file would put them together anew
            // for every slot (twice the instructions of the x86 stub's
            // loop): the empty asm makes the entry one object in memory,
            // copied whole. The code's first slot always lies in its table.
            asm("" : "+m"(entry));
            const uint32_t step = (uint32_t)1 << entry.bits;
            CodeEntry *slot = tables[level] + (code >> start);
            const CodeEntry *end = tables[level] + tableSize[level];
            do {
                *slot = entry;
                slot += step;
            } while (slot < end);

            // Next code: add one at bit len - 1, carrying towards bit 0.
            uint32_t bit = (uint32_t)1 << (len - 1);
            while (code & bit) {
                code ^= bit;
                bit >>= 1;
            }
            code ^= bit;
            while (level > 0 && (code & BitMask((unsigned)start)) != prefix[level]) {
                level--;  // the subtree of the current table is complete
                start -= (int)root;
            }
        }
    }
    return fillers != 0 && count > 1 ? INFLATE_BAD_DATA : INFLATE_OK;
}

void FreeCodeTable(CodeEntry *table)
{
    while (table) {
        CodeEntry *block = table - 1;
        table = block->table;
        HeapFreeBlock(block);
    }
}
