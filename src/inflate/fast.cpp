// The fast path of the symbol loop: packed copies of a block's tables, and a
// loop over them without a bounds check per symbol.
#include "symbols.h"

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
static DECODER_STATE uint32_t PackedTables[PACKED_LIT_ENTRIES + PACKED_DIST_ENTRIES] UNINITIALISED_STATE;
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

// Decodes symbols while the fast path's conditions hold (the caller has
// checked them once); INFLATE_OK at the end of the block, INFLATE_BAD_DATA
// for a stream that fails, else FAST_AT_EDGE. Built into DecodeFast (below),
// a function of its own, so that its few variables live in registers.
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

uint16_t DecodeFast(FastState &state, const uint8_t *inEnd) { return DecodeFastLoop(state, inEnd); }

bool PackFastTables(const CodeEntry *litTable, const CodeEntry *distTable, uint16_t litWidth,
                    uint16_t distWidth)
{
    // The packed roots are wider than the tables' usual roots, which a
    // table's root exceeds only for a distance code whose codes are all long
    // (an incomplete one: a literal/length root is at most 9 bits wide).
    bool packed = litWidth <= PACKED_LIT_BITS &&
                  PackTable(litTable, litWidth, PACKED_LIT_BITS, PackedLit, 0, PACKED_LIT_ENTRIES) != 0;
    if (distTable) {
        packed = packed && distWidth <= PACKED_DIST_BITS &&
                 PackTable(distTable, distWidth, PACKED_DIST_BITS, PackedDist, 0,
                           PACKED_DIST_ENTRIES) != 0;
    } else {
        for (unsigned i = 0; i < 1u << PACKED_DIST_BITS; i++)
            PackedDist[i] = PACKED_INVALID;
    }
    return packed;
}
