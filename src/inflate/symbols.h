// The symbol loop's pieces that its general path (blocks.cpp) and its fast
// path (fast.cpp) share: the bit word, the copy of a match, and the fast
// path's entry with the bounds within which it runs.
#pragma once

#include "inflate_internal.h"

// The symbol loop's bit word: the machine's unless INFLATE_BIT_WORD names
// another (the tests also build the loop with the 32-bit word of the Win32
// stub).
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

// The input one iteration of the fast path may load: two word refills on a
// 64-bit word, four on a 32-bit word (whose refills take at most three bytes
// each).
#define FAST_INPUT (WORD_BITS == 64 ? 2 * 7 + 8 : 4 * 3 + 4)
// The literals one iteration may store before a match: at most three of the
// four a 64-bit refill takes; on a 32-bit word, one per bit held.
#define FAST_LITERALS (WORD_BITS == 64 ? 3 : WORD_BITS - 1)
#define FAST_WINDOW_LIMIT (WINDOW_SIZE - 258 - FAST_LITERALS - 1)

// The fast path's state, which it takes from and leaves in the symbol loop.
struct FastState {
    BitWord bitBuffer;
    unsigned bitCount;
    const uint8_t *in;
    unsigned pos;
};

#define FAST_AT_EDGE 0x100  // not a result: the general path goes on

// Makes the packed copies of the block's tables that the fast path reads;
// false when a table does not fit them, and the block is decoded without the
// fast path. distTable null: the block has no distance codes, and its packed
// distance table holds entries without a symbol, which a length fails on.
bool PackFastTables(const CodeEntry *litTable, const CodeEntry *distTable, uint16_t litWidth,
                    uint16_t distWidth);
// Decodes symbols while at least FAST_INPUT safe bytes are buffered and the
// window position is at most FAST_WINDOW_LIMIT (the caller checks both once),
// with the tables PackFastTables made: INFLATE_OK at the end of the block,
// INFLATE_BAD_DATA for a stream that fails, else FAST_AT_EDGE.
uint16_t DecodeFast(FastState &state, const uint8_t *inEnd);
