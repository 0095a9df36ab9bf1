// The block decoder: one raw deflate stream (RFC 1951), block by block,
// stored, fixed and dynamic, into the output window.
//
// Format notes.
//   Stored blocks start on a byte boundary: the bits left of a partly used
//   byte are dropped, while whole bytes already in the bit buffer are still
//   the block's next bytes (a fill may have taken up to 7 bits more than it
//   was asked for, and a dynamic table lookup looks ahead by its width).
//
//   A back-reference copies length bytes from distance bytes back, front to
//   back one byte at a time, so a distance shorter than the length repeats
//   the last distance bytes. Source and destination both wrap at the window's
//   end; the copy is cut into chunks that end where either would pass it, so
//   no byte of the inner copy needs a wrap test, and a destination that
//   reaches the end flushes the full window in the middle of the copy. A
//   distance is not checked against the output made so far: reaching back
//   before the stream's start copies what an earlier stream left in the
//   window, or zeros before the run's first stream (the window is cleared
//   when it is allocated), and the caller's CRC comparison catches it. A distance of 32768
//   names the byte at the destination itself.
//
//   A block whose distance lengths are all zero has no distance code: RFC
//   1951 lets such a block hold only literals, and encoders write exactly that
//   for blocks without matches. A length symbol in it fails the block.
#include "symbols.h"

// Symbols 257 to 287; 286 and 287 must not occur (99 extra bits: OP_INVALID).
const uint16_t LengthBase[31] = {
    3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31,
    35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258, 0, 0};
const uint8_t LengthExtra[31] = {
    0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
    3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, OP_INVALID, OP_INVALID};

const uint16_t DistanceBase[30] = {
    1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193,
    257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t DistanceExtra[30] = {
    0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6,
    7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

#define FIXED_LIT_CODES 288

static_assert(FIXED_LIT_CODES - 257 == sizeof(LengthBase) / sizeof(LengthBase[0]),
              "LengthBase covers symbols 257 to 287");
static_assert(24577 + (1 << 13) - 1 == WINDOW_SIZE, "the longest distance is one window");

uint16_t CopyStoredBlock()
{
    DropBits(BitCount % 8);
    uint32_t len = TakeBits(16);
    uint32_t nlen = TakeBits(16);
    if (len != (~nlen & 0xFFFF))
        return INFLATE_BAD_DATA;  // the lengths are not complements
    CopyInputToWindow(len);
    return INFLATE_OK;
}

uint16_t DecodeFixedBlock()
{
    uint16_t lengths[FIXED_LIT_CODES + MAX_DIST_CODES];
    unsigned s = 0;
    for (; s < 144; s++)
        lengths[s] = 8;
    for (; s < 256; s++)
        lengths[s] = 9;
    for (; s < 280; s++)
        lengths[s] = 7;
    for (; s < FIXED_LIT_CODES; s++)
        lengths[s] = 8;
    for (; s < FIXED_LIT_CODES + MAX_DIST_CODES; s++)
        lengths[s] = 5;
    return DecodeWithLengths(7, lengths, FIXED_LIT_CODES, 5, MAX_DIST_CODES);
}

static bool AllZero(const uint16_t *lengths, unsigned count)
{
    for (unsigned i = 0; i < count; i++)
        if (lengths[i] != 0)
            return false;
    return true;
}

uint16_t DecodeWithLengths(uint16_t litWidth, const uint16_t *lengths, uint16_t litCount,
                           uint16_t distWidth, uint16_t distCount)
{
    CodeEntry *litTable;
    uint16_t result = BuildCodeTable(lengths, litCount, 257, LengthBase, LengthExtra,
                                     &litTable, &litWidth);
    if (result != INFLATE_OK) {
        if (result == INFLATE_BAD_DATA)
            FreeCodeTable(litTable);  // incomplete literal/length code
        return result;
    }

    // Every incomplete distance code is usable (the fixed one is one: its
    // codes 30 and 31 name no distance); the unused codes fail the stream
    // only if they occur. An empty one leaves the block without distances.
    CodeEntry *distTable = nullptr;
    if (!AllZero(lengths + litCount, distCount)) {
        result = BuildCodeTable(lengths + litCount, distCount, 0, DistanceBase, DistanceExtra,
                                &distTable, &distWidth);
        if (result == INFLATE_BAD_CODES || result == INFLATE_NO_MEMORY) {
            FreeCodeTable(litTable);
            return result;
        }
    }

    result = DecodeSymbols(litTable, distTable, litWidth, distWidth);
    FreeCodeTable(litTable);
    FreeCodeTable(distTable);
    return result == INFLATE_OK ? INFLATE_OK : INFLATE_BAD_DATA;
}

// Format notes: the symbol loop's input.
//   The loop keeps the bit input and the window position in locals, its bit
//   buffer as wide as a machine word. When it needs bits it holds too few of,
//   it first tops the word up from InputBuffer, but only with bytes that are
//   already there and that the budget would allow (SafeInputBytes): such a
//   byte costs no read and cannot spend the budget. Only when those run out
//   does FillBits fill as TakeBits would, reading or being refused at exactly
//   the bit where the bit-by-bit decoder is. Whole bytes taken ahead and not
//   yet needed are handed back to InputBuffer (and to the budget) whenever
//   the locals go back to the globals: before FillBits and when the loop
//   leaves. So the stream's reads, its refusals and every later bit are the
//   same as if each fill had taken only the bytes it was asked for, and
//   BitCount stays within its bound.
//   Above its count the word may hold copies of the next input bytes, never
//   anything else; they are masked off when the bits go back to BitBuffer.
//   The word and the copy of a match are in symbols.h, the fast path in
//   fast.cpp.

#define LOAD_BITS()                                  \
    do {                                             \
        bitBuffer = BitBuffer;                       \
        bitCount = BitCount;                         \
        in = InputNext;                              \
        inEnd = in + SafeInputBytes();               \
    } while (0)

#define SAVE_BITS()                                              \
    do {                                                         \
        uint32_t back = bitCount / 8;                            \
        if (back > (uint32_t)(in - InputNext))                   \
            back = (uint32_t)(in - InputNext);                   \
        in -= back;                                              \
        bitCount -= 8 * back;                                    \
        uint32_t taken = (uint32_t)(in - InputNext);             \
        InputLeft -= taken;                                      \
        InputBudget -= taken;                                    \
        InputNext = in;                                          \
        BitBuffer = (uint32_t)(bitBuffer & BitMask(bitCount));   \
        BitCount = (uint16_t)bitCount;                           \
    } while (0)

// Leaves the symbol loop with its state back in the globals.
#define LEAVE(result)                                \
    do {                                             \
        SAVE_BITS();                                 \
        WindowPos = (uint16_t)pos;                   \
        return (result);                             \
    } while (0)

#define FAIL_STREAM() LEAVE(INFLATE_BAD_DATA)

// Tops the word up with the safe bytes of InputBuffer.
#define TOP_UP()                                                        \
    do {                                                                \
        if ((uintptr_t)(inEnd - in) >= sizeof(BitWord)) {               \
            bitBuffer |= LoadBitWord(in) << bitCount;                   \
            in += (WORD_BITS - 1 - bitCount) / 8;                       \
            bitCount |= WORD_BITS - 8;                                  \
        } else {                                                        \
            while (bitCount <= WORD_BITS - 8 && in != inEnd) {          \
                bitBuffer |= (BitWord)*in++ << bitCount;                \
                bitCount += 8;                                          \
            }                                                           \
        }                                                               \
    } while (0)

// Makes the locals hold at least n bits; a refused fill fails the stream.
#define NEED(n)                                                        \
    do {                                                               \
        if (bitCount < (n)) {                                          \
            TOP_UP();                                                  \
            if (bitCount < (n)) {                                      \
                SAVE_BITS();                                           \
                FillBits(n);                                           \
                LOAD_BITS();                                           \
                if (InputSpent)                                        \
                    FAIL_STREAM(); /* the budget is spent */           \
            }                                                          \
        }                                                              \
    } while (0)

// Makes entry the symbol entry of the next code of the table at root (mask:
// its root width), its bits dropped; a code without a symbol fails the
// stream.
#define LOOK_UP(root, mask)                                              \
    do {                                                                 \
        entry = &(root)[bitBuffer & (mask)];                             \
        while (entry->op > OP_LITERAL) {                                 \
            if (entry->op == OP_INVALID)                                 \
                FAIL_STREAM(); /* a code without a symbol */             \
            DROP(entry->bits);                                           \
            unsigned n = entry->op - OP_LINK;                            \
            NEED(n);                                                     \
            entry = &entry->table[bitBuffer & BitMask(n)];               \
        }                                                                \
        DROP(entry->bits);                                               \
    } while (0)

uint16_t DecodeSymbols(const CodeEntry *litTable, const CodeEntry *distTable,
                       uint16_t litWidth, uint16_t distWidth)
{
    BitWord bitBuffer;
    unsigned bitCount;
    const uint8_t *in;
    const uint8_t *inEnd;
    LOAD_BITS();
    uint8_t *const window = OutputWindow;
    unsigned pos = WindowPos;
    const BitWord litMask = BitMask(litWidth);
    const BitWord distMask = BitMask(distWidth);
    const CodeEntry *entry;
    unsigned length, distance, extra;

    bool fast = PackFastTables(litTable, distTable, litWidth, distWidth);

    for (;;) {
        if (fast && (uintptr_t)(inEnd - in) >= FAST_INPUT && pos <= FAST_WINDOW_LIMIT) {
            FastState state = {bitBuffer, bitCount, in, pos};
            uint16_t result = DecodeFast(state, inEnd);
            bitBuffer = state.bitBuffer;
            bitCount = state.bitCount;
            in = state.in;
            pos = state.pos;
            if (result != FAST_AT_EDGE)
                LEAVE(result);
        }

        NEED(litWidth);
        LOOK_UP(litTable, litMask);

        if (entry->op == OP_LITERAL) {
            window[pos++] = (uint8_t)entry->value;
            if (pos == WINDOW_SIZE) {
                WindowPos = (uint16_t)pos;
                FlushWindow();
                pos = 0;
            }
            continue;
        }
        if (entry->op == OP_END_OF_BLOCK)
            LEAVE(INFLATE_OK);

        extra = entry->op;
        NEED(extra);
        length = (uint16_t)(entry->value + (bitBuffer & BitMask(extra)));
        DROP(extra);

        if (!distTable)
            FAIL_STREAM();  // a length in a block without distance codes
        NEED(distWidth);
        LOOK_UP(distTable, distMask);
        extra = entry->op;
        NEED(extra);
        distance = (uint16_t)(entry->value + (bitBuffer & BitMask(extra)));
        DROP(extra);

        if (distance <= pos && pos + length < WINDOW_SIZE) {
            CopyMatch(window + pos, window + pos - distance, length);  // no wrap, no flush
            pos += length;
            continue;
        }
        unsigned source = pos - distance;
        while (length != 0) {
            source &= WINDOW_SIZE - 1;
            unsigned chunk = WINDOW_SIZE - (source > pos ? source : pos);
            if (chunk > length)
                chunk = length;
            length -= chunk;
            CopyMatch(window + pos, window + source, chunk);
            pos += chunk;
            source += chunk;
            if (pos == WINDOW_SIZE) {
                WindowPos = (uint16_t)pos;
                FlushWindow();
                pos = 0;
            }
        }
    }
}

uint16_t InflateStream()
{
    ResetDecoder();
    uint32_t last;
    do {
        last = TakeBits(1);
        uint16_t result;
        switch (TakeBits(2)) {
        case 0:
            result = CopyStoredBlock();
            break;
        case 1:
            result = DecodeFixedBlock();
            break;
        case 2:
            result = DecodeDynamicBlock();
            break;
        default:
            return INFLATE_BAD_CODES;  // block type 3
        }
        if (result == INFLATE_OK && InputSpent)
            result = INFLATE_BAD_DATA;  // the block ran past the stream's budget
        if (result != INFLATE_OK)
            return result;
    } while (!last);
    FlushWindow();
    return INFLATE_OK;
}
