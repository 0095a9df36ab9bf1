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
//   window, and the caller's CRC comparison catches it. A distance of 32768
//   names the byte at the destination itself.
//
//   A block whose distance lengths are all zero has no distance code: RFC
//   1951 lets such a block hold only literals, and encoders write exactly that
//   for blocks without matches. A length symbol in it fails the block.
#include "inflate_internal.h"

const uint8_t CodeLengthOrder[19] = {
    16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

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

#define MAX_LIT_CODES 286
#define MAX_DIST_CODES 30
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

    // An incomplete distance code (the fixed one, or a single code of one
    // bit) is usable; an empty one leaves the block without distances.
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
//   The word is the machine's unless INFLATE_BIT_WORD names another: the
//   tests also build the loop with the 32-bit word of the Win32 stub.
#ifndef INFLATE_BIT_WORD
#define INFLATE_BIT_WORD uintptr_t
#endif
typedef INFLATE_BIT_WORD BitWord;
#define WORD_BITS (8 * (unsigned)sizeof(BitWord))

static_assert(WORD_BITS >= 32, "the word holds any fill of the bit input");
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "a loaded word is the next bytes in order");

static inline BitWord LoadBitWord(const uint8_t *bytes)
{
    BitWord word;
    __builtin_memcpy(&word, bytes, sizeof word);  // one unaligned load on x86
    return word;
}

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

#define DROP(n)                                      \
    do {                                             \
        bitBuffer >>= (n);                           \
        bitCount -= (n);                             \
    } while (0)

// Copies n (at least W) bytes from a source at least W bytes behind, W
// bytes at a time, the last step ending at the end and writing again, with
// the same values, bytes the step before wrote. Every byte a step reads is
// then final, as it would be one byte at a time.
template <class Word> static inline void CopyWords(uint8_t *to, const uint8_t *from, unsigned n)
{
    const unsigned W = sizeof(Word);
    uint8_t *last = to + n - W;
    const uint8_t *lastFrom = from + n - W;
    Word word;
    __builtin_memcpy(&word, from, W);  // one unaligned load and store on x86
    __builtin_memcpy(to, &word, W);
    if (n > 2 * W) {
        // Most matches are at most two words long and need no loop.
        for (to += W, from += W; to < last; to += W, from += W) {
            __builtin_memcpy(&word, from, W);
            __builtin_memcpy(to, &word, W);
        }
    }
    __builtin_memcpy(&word, lastFrom, W);
    __builtin_memcpy(last, &word, W);
}

// Copies n bytes from a source that does not overlap them (at least n bytes
// behind), 2 <= n < 2 * W: both halves are read before either is written.
template <class Word> static inline void CopyShort(uint8_t *to, const uint8_t *from, unsigned n)
{
    Word first, last;
    __builtin_memcpy(&first, from, sizeof first);
    __builtin_memcpy(&last, from + n - sizeof last, sizeof last);
    __builtin_memcpy(to, &first, sizeof first);
    __builtin_memcpy(to + n - sizeof last, &last, sizeof last);
}

// Copies n bytes front to back, leaving what one byte at a time would: in
// words when the source is far enough behind or ahead (wrapped round the
// window), as a repeated byte when it is one behind, else one byte at a time. Nothing past the n bytes is written: the
// window ahead of the copy still holds the bytes a later distance may name.
static inline void CopyMatch(uint8_t *to, const uint8_t *from, unsigned n)
{
    if (from < to) {
        uintptr_t distance = (uintptr_t)(to - from);
        if (distance >= sizeof(BitWord)) {
            if (n >= sizeof(BitWord)) {
                CopyWords<BitWord>(to, from, n);
                return;
            }
            if (n >= 4) {
                CopyShort<uint32_t>(to, from, n);
                return;
            }
        }
        if (n >= 4 && distance >= 4) {
            CopyWords<uint32_t>(to, from, n);
            return;
        }
        if (n >= 2 && distance >= n) {
            CopyShort<uint16_t>(to, from, n);
            return;
        }
        if (distance == 1 && n >= sizeof(BitWord)) {
            BitWord word = (BitWord)0x0101010101010101ull * *from;
            uint8_t *last = to + n - sizeof(BitWord);
            for (; to < last; to += sizeof(BitWord))
                __builtin_memcpy(to, &word, sizeof word);
            __builtin_memcpy(last, &word, sizeof word);
            return;
        }
    } else if (n >= sizeof(BitWord) && (uintptr_t)(from - to) >= sizeof(BitWord)) {
        // A source ahead, a word or more: no word a step writes reaches
        // a byte that a later step reads.
        CopyWords<BitWord>(to, from, n);
        return;
    }
    while (n--)
        *to++ = *from++;
}

// Format notes: the fast path and its packed tables.
//   While at least FAST_INPUT safe bytes are buffered and the window has room
//   for the longest match and the literals of one refill before its end, the
//   loop runs without a bounds check per symbol: it tops the word up once per
//   symbol (twice after a run of literals, and before a distance and its
//   extra bits on a 32-bit word), takes up to four literals per refill of a
//   64-bit word and as many as the bits it holds decode on a 32-bit word,
//   and copies matches, which can neither reach the window's end nor need a
//   read. Refills only ever take bytes that TOP_UP would take, so the
//   reads, the budget, the flushes and every result are those of the general
//   path, which runs at the edges: near the end of the safe bytes (a read or
//   the budget's end ahead) and near the window's end (a flush ahead).
//
//   The fast path reads the block's two tables as packed copies, one 32-bit
//   word per entry, made when the block's symbols begin:
//     bits 0-7    the bits the entry consumes: its code's bits at its level
//                 plus, for a length or distance, its extra bits (so one
//                 shift drops both); for a link, the root width
//     bit 31      PACKED_LITERAL; bits 8-15 are then the literal (which
//                 goes to the window without a shift), bits 16-30 zero
//   and for every other entry
//     bits 8-11   its code's bits at its level, where the extra bits start;
//                 for a link, the width of its subtable
//     bits 12-14  PACKED_END, PACKED_LINK, PACKED_INVALID; none of them: a
//                 length or distance
//     bits 16-30  the base length or distance, or the index of a link's
//                 subtable in the packed copy
//   A copy is laid out root first, each subtable after the table that links
//   to it; a table that links to one is linked to only once, so the walk
//   visits each table once. The packed root is PACKED_LIT_BITS (literal and
//   length) or PACKED_DIST_BITS (distance) wide, the table's root at most
//   as wide, so that a code a little longer than the table's root, which
//   would take a subtable there, takes one lookup here. The copies live in
//   fixed storage (no allocation, no failure): the tables of every block an
//   encoder makes fit; a table that does not (a distance code completed with
//   many long fillers, or a root wider than the packed one) leaves its block
//   to the general path.
//
// The input one iteration may load: two word refills on a 64-bit word, four
// on a 32-bit word (whose refills take at most three bytes each).
#define FAST_INPUT (WORD_BITS == 64 ? 2 * 7 + 8 : 4 * 3 + 4)
// The literals one iteration may store before a match: at most three of the
// four a 64-bit refill takes; on a 32-bit word, one per bit held.
#define FAST_LITERALS (WORD_BITS == 64 ? 3 : WORD_BITS - 1)
#define FAST_WINDOW_LIMIT (WINDOW_SIZE - 258 - FAST_LITERALS - 1)

static_assert(WORD_BITS == 64 || WORD_BITS == 32, "the refills are counted for these words");

static_assert(WORD_BITS < 64 || 4 * PACKED_LIT_BITS <= WORD_BITS - 8,
              "a 64-bit refill holds four literals of the packed root");
static_assert(2 * PACKED_LIT_BITS <= WORD_BITS - 8, "a refill holds two literals of the packed root");
static_assert(WORD_BITS - 8 >= MAX_CODE_BITS + 5, "a refill covers a length symbol and its extra bits");
static_assert(FAST_WINDOW_LIMIT + FAST_LITERALS + 258 < WINDOW_SIZE,
              "the literals and the match of one iteration end before the window's end");
static_assert(WORD_BITS < 64 || WORD_BITS - 8 >= 2 * MAX_CODE_BITS + 5 + 13,
              "a 64-bit refill covers a length and a distance, each with its extra bits");

enum : uint32_t {
    PACKED_END = 1u << 12,
    PACKED_LINK = 1u << 13,
    PACKED_INVALID = 1u << 14,
    PACKED_LITERAL = 1u << 31,
};

static_assert(PACKED_LIT_ENTRIES < 0x8000 && PACKED_DIST_ENTRIES < 0x8000,
              "a subtable's index fits the entry's 15 value bits");
static_assert(24577 < 0x8000, "the largest base fits the entry's 15 value bits");

// Both copies in one array, so that one register addresses them.
static uint32_t PackedTables[PACKED_LIT_ENTRIES + PACKED_DIST_ENTRIES] UNINITIALISED;
#define PackedLit PackedTables
#define PackedDist (PackedTables + PACKED_LIT_ENTRIES)

// A length's or distance's entry has no flag set, so bits 8-15 are its
// code's bits, where its extra bits start.
#define EXTRA_SHIFT(entry) ((uint8_t)((entry) >> 8))

// The packed entry of a symbol entry (or one without a symbol) whose code
// has prefixBits more bits in the levels before the entry's.
static inline uint32_t PackSymbol(const CodeEntry &entry, unsigned prefixBits)
{
    uint32_t bits = prefixBits + entry.bits;
    if (entry.op == OP_LITERAL)
        return PACKED_LITERAL | (uint32_t)entry.value << 8 | bits;
    if (entry.op < OP_END_OF_BLOCK)
        return (uint32_t)entry.value << 16 | bits << 8 | (bits + entry.op);
    if (entry.op == OP_END_OF_BLOCK)
        return PACKED_END | bits << 8 | bits;
    return PACKED_INVALID;
}

// Packs table (2^width entries) and the subtables it links to into out from
// index at, as a table indexed by wide (at least width) bits: a link to a
// subtable whose codes end within the wide index is resolved into the
// entries of those codes, each repeated wherever the bits beyond its code
// vary. Only a subtable narrower than its table can be resolved so: it has
// no links itself (a table with subtables is as wide as the root). Returns
// the index after the last entry written, or 0 when they do not fit in
// capacity entries.
static unsigned PackTable(const CodeEntry *table, unsigned width, unsigned wide, uint32_t *out,
                          unsigned at, unsigned capacity)
{
    unsigned size = 1u << wide;
    if (size > capacity - at)
        return 0;
    unsigned next = at + size;
    unsigned step = 1u << width;
    uint32_t *packed = out + at;
    for (unsigned i = 0; i < step; i++) {
        // Entry i, and its copies for the bits beyond the table's width.
        const CodeEntry &entry = table[i];
        uint32_t value;
        if (entry.op <= OP_LITERAL || entry.op == OP_INVALID) {
            value = PackSymbol(entry, 0);
        } else {
            unsigned n = entry.op - OP_LINK;
            if (n < width && width + n <= wide) {
                for (unsigned k = i; k < size; k += step)
                    packed[k] = PackSymbol(entry.table[k >> width & BitMask(n)], width);
                continue;
            }
            value = (uint32_t)next << 16 | PACKED_LINK | n << 8 | entry.bits;
            next = PackTable(entry.table, n, n, out, next, capacity);
            if (next == 0)
                return 0;
        }
        for (unsigned k = i; k < size; k += step)
            packed[k] = value;
    }
    return next;
}

// The fast path's bit count: only its low byte counts (bits 8 and up may
// hold anything), so that an entry, whose low byte is the bits it consumes,
// can be subtracted whole.
#define FAST_BITS ((uint8_t)bitCount)

// Drops the bits a packed entry consumes.
#define DROP_ENTRY(entry)                                                      \
    do {                                                                       \
        bitBuffer >>= (uint8_t)(entry);                                        \
        bitCount -= (entry);                                                   \
    } while (0)

// The entry a packed link leads to, its bits dropped; the bits held cover
// it (a code is at most MAX_CODE_BITS long).
#define FOLLOW_LINK(table, entry)                                                  \
    do {                                                                           \
        DROP_ENTRY(entry);                                                         \
        (entry) = (table)[((entry) >> 16) + ((uint32_t)bitBuffer & BitMask((entry) >> 8 & 15))]; \
    } while (0)

// Tops the word up by one word load, as TOP_UP would; the caller knows that
// the safe bytes hold a word.
#define REFILL()                                                               \
    do {                                                                       \
        bitBuffer |= LoadBitWord(in) << FAST_BITS;                             \
        in += sizeof(BitWord) - 1 - (bitCount >> 3 & (sizeof(BitWord) - 1));   \
        bitCount |= WORD_BITS - 8;                                             \
    } while (0)

// The fast path's state, which it takes from and leaves in the symbol loop.
struct FastState {
    BitWord bitBuffer;
    unsigned bitCount;
    const uint8_t *in;
    unsigned pos;
};

#define FAST_AT_EDGE 0x100  // not a result: the general path goes on

// Decodes symbols while the fast path's conditions hold (the caller has
// checked them once); INFLATE_OK at the end of the block, INFLATE_BAD_DATA
// for a stream that fails, else FAST_AT_EDGE. Built into functions of their
// own (below), so that its few variables live in registers.
__attribute__((always_inline)) static inline uint16_t DecodeFastLoop(FastState &state,
                                                                    const uint8_t *inEnd)
{
    BitWord bitBuffer = state.bitBuffer;
    unsigned bitCount = state.bitCount;
    const uint8_t *in = state.in;
    uint8_t *const window = OutputWindow;
    uint8_t *out = window + state.pos;
    const uint8_t *const inLimit = inEnd - FAST_INPUT;
    const uint8_t *const outLimit = window + FAST_WINDOW_LIMIT;
    const uint32_t litMask = BitMask(PACKED_LIT_BITS);
    const uint32_t distMask = BitMask(PACKED_DIST_BITS);
    uint16_t result = FAST_AT_EDGE;
    unsigned length, distance, behind;
    do {
        REFILL();
        uint32_t e = PackedLit[bitBuffer & litMask];
        if (e & PACKED_LITERAL) {
            if (WORD_BITS == 64) {
                // Four literals of the root at most, which the bits of one
                // refill always decode: a fixed count, which the processor
                // predicts better than the bits left.
                DROP_ENTRY(e);
                *out++ = (uint8_t)(e >> 8);
                e = PackedLit[bitBuffer & litMask];
                if (!(e & PACKED_LITERAL))
                    goto literalsEnd;
                DROP_ENTRY(e);
                *out++ = (uint8_t)(e >> 8);
                e = PackedLit[bitBuffer & litMask];
                if (!(e & PACKED_LITERAL))
                    goto literalsEnd;
                DROP_ENTRY(e);
                *out++ = (uint8_t)(e >> 8);
                e = PackedLit[bitBuffer & litMask];
                if (!(e & PACKED_LITERAL))
                    goto literalsEnd;
                DROP_ENTRY(e);
                *out++ = (uint8_t)(e >> 8);
                continue;
            }
            // Literals of the root while the bits held decode them; after
            // the first, a refill still holds a lookup's bits.
            DROP_ENTRY(e);
            *out++ = (uint8_t)(e >> 8);
            e = PackedLit[bitBuffer & litMask];
            if (!(e & PACKED_LITERAL))
                goto literalsEnd;
            for (;;) {
                DROP_ENTRY(e);
                *out++ = (uint8_t)(e >> 8);
                if (FAST_BITS < PACKED_LIT_BITS)
                    goto next;
                e = PackedLit[bitBuffer & litMask];
                if (!(e & PACKED_LITERAL))
                    break;
            }
        literalsEnd:
            REFILL();  // the root bits of e stay where they are
        }
        if (e & (PACKED_LINK | PACKED_END | PACKED_INVALID)) {
            while (e & PACKED_LINK) {
                FOLLOW_LINK(PackedLit, e);
                if (e & PACKED_LITERAL) {
                    DROP_ENTRY(e);
                    *out++ = (uint8_t)(e >> 8);
                    goto next;
                }
            }
            if (e & PACKED_INVALID) {
                result = INFLATE_BAD_DATA;  // a code without a symbol
                break;
            }
            if (e & PACKED_END) {
                DROP_ENTRY(e);
                result = INFLATE_OK;
                break;
            }
        }
        length = (e >> 16) + (((uint32_t)bitBuffer & BitMask(e & 0xFF)) >> EXTRA_SHIFT(e));
        DROP_ENTRY(e);
        if (WORD_BITS < 64)
            REFILL();
        e = PackedDist[bitBuffer & distMask];
        if (e & (PACKED_LINK | PACKED_INVALID)) {
            while (e & PACKED_LINK)
                FOLLOW_LINK(PackedDist, e);
            if (e & PACKED_INVALID) {
                // A code without a symbol, or a length in a block without
                // distance codes.
                result = INFLATE_BAD_DATA;
                break;
            }
        }
        if (WORD_BITS < 64) {
            // The code, then its extra bits, which may need a refill.
            unsigned codeBits = EXTRA_SHIFT(e);
            unsigned extra = (e & 0xFF) - codeBits;
            DROP(codeBits);
            if (FAST_BITS < extra)
                REFILL();
            distance = (e >> 16) + ((uint32_t)bitBuffer & BitMask(extra));
            DROP(extra);
        } else {
            distance = (e >> 16) + (((uint32_t)bitBuffer & BitMask(e & 0xFF)) >> EXTRA_SHIFT(e));
            DROP_ENTRY(e);
        }
        behind = (unsigned)(out - window);
        if (distance <= behind) {
            CopyMatch(out, out - distance, length);
        } else {
            // The source wrapped round the window: from ahead of the copy up
            // to the window's end, and the rest from its start.
            uint8_t *from = out + WINDOW_SIZE - distance;
            unsigned first = (unsigned)(window + WINDOW_SIZE - from);
            if (first >= length) {
                CopyMatch(out, from, length);
            } else {
                CopyMatch(out, from, first);
                CopyMatch(out + first, window, length - first);
            }
        }
        out += length;  // the window's end is not reached: no flush
    next:;
    } while (in <= inLimit && out <= outLimit);

    state.bitBuffer = bitBuffer;
    state.bitCount = FAST_BITS;
    state.in = in;
    state.pos = (unsigned)(out - window);
    return result;
}

__attribute__((noinline)) static uint16_t DecodeFast(FastState &state, const uint8_t *inEnd)
{
    return DecodeFastLoop(state, inEnd);
}

// The same loop for a CPU with BMI2 (FastLoopBmi2).
__attribute__((noinline, target("bmi2"))) static uint16_t DecodeFastBmi2(FastState &state,
                                                                         const uint8_t *inEnd)
{
    return DecodeFastLoop(state, inEnd);
}

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

    // The fast path takes the packed roots at their usual width, which a
    // table's root exceeds only for a distance code whose codes are all long
    // (an incomplete one: a literal/length root is at most 9 bits wide). A
    // block without distance codes gets a packed distance table of entries
    // without a symbol, which its first length fails on.
    bool fast = litWidth <= PACKED_LIT_BITS &&
                PackTable(litTable, litWidth, PACKED_LIT_BITS, PackedLit, 0, PACKED_LIT_ENTRIES) != 0;
    if (distTable) {
        fast = fast && distWidth <= PACKED_DIST_BITS &&
               PackTable(distTable, distWidth, PACKED_DIST_BITS, PackedDist, 0,
                         PACKED_DIST_ENTRIES) != 0;
    } else {
        for (unsigned i = 0; i < 1u << PACKED_DIST_BITS; i++)
            PackedDist[i] = PACKED_INVALID;
    }

    for (;;) {
        if (fast && (uintptr_t)(inEnd - in) >= FAST_INPUT && pos <= FAST_WINDOW_LIMIT) {
            FastState state = {bitBuffer, bitCount, in, pos};
            uint16_t result = FastLoopBmi2 ? DecodeFastBmi2(state, inEnd) : DecodeFast(state, inEnd);
            bitBuffer = state.bitBuffer;
            bitCount = state.bitCount;
            in = state.in;
            pos = state.pos;
            if (result != FAST_AT_EDGE)
                LEAVE(result);
        }

        NEED(litWidth);
        entry = &litTable[bitBuffer & litMask];
        while (entry->op > OP_LITERAL) {
            if (entry->op == OP_INVALID)
                FAIL_STREAM();  // a code without a symbol
            DROP(entry->bits);
            unsigned n = entry->op - OP_LINK;
            NEED(n);
            entry = &entry->table[bitBuffer & BitMask(n)];
        }
        DROP(entry->bits);

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
        entry = &distTable[bitBuffer & distMask];
        while (entry->op > OP_LITERAL) {
            if (entry->op == OP_INVALID)
                FAIL_STREAM();  // a code without a symbol
            DROP(entry->bits);
            unsigned n = entry->op - OP_LINK;
            NEED(n);
            entry = &entry->table[bitBuffer & BitMask(n)];
        }
        DROP(entry->bits);
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
