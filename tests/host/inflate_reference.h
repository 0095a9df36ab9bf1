// A second inflater, written apart from the one under test from RFC 1951 and
// the decoder's contract, through the public headers only: StreamSource
// read from where it stands in reads of INPUT_SIZE bytes, none beyond what
// the budget allows, each byte charged to InputBudget before it is taken, and
// nothing taken after a read that yields none; a window of its own, flushed
// when full and at the end to StreamSink (CRC, count, the sink's Take, which
// may end the stream); the results of inflate.h. It decodes as puff does, a bit at a time, counting the codes of
// each length. Include it in one source file of a program.
//
// Format notes: when bytes are taken.
//   The tests compare reads and refusals, so the reference fills as the
//   decoder does: a symbol begins with a fill as wide as the decoder's root
//   table (the preferred width, raised to the shortest code or lowered to
//   the longest), and each further root width of bits with one as wide as
//   the table of that subtree (its longest code's need, at most the root
//   width). Other fields fill their own bits; bytes are taken whole. A
//   refused fill fails a symbol at once; headers and stored bytes go on with
//   zero bits, and their block fails at its end.
#pragma once

#include <stdint.h>
#include <string.h>

#include "inflate/inflate.h"

namespace inflate_reference {

uint8_t Window[WINDOW_SIZE];  // what earlier streams left: the caller fills it

static uint8_t input[INPUT_SIZE];
static const uint8_t *next;   // unread bytes of input
static uint32_t left;
static uint32_t bitbuf;       // bits taken and not used; zero above bitcnt
static unsigned bitcnt;
static bool spent;            // the budget refused a byte, a read failed, or the sink
bool failed;                  // a read yielded nothing
static unsigned pos;          // bytes in the window since the last flush

// Holds at least n bits; false when the budget refuses a byte.
static bool need(unsigned n)
{
    while (bitcnt < n) {
        if (spent || --InputBudget == 0) {
            spent = true;
            return false;
        }
        if (left == 0) {
            left = StreamSource->Read(StreamSource, input,
                                      InputBudget < INPUT_SIZE ? InputBudget : INPUT_SIZE);
            next = input;
            if (left == 0) {
                failed = spent = true;  // the source ends
                return false;
            }
        }
        bitbuf |= (uint32_t)*next++ << bitcnt;
        left--;
        bitcnt += 8;
    }
    return true;
}

static void drop(unsigned n)
{
    bitbuf >>= n;
    bitcnt = n > bitcnt ? 0 : bitcnt - n;
}

// The next n bits, the first the lowest; zeros past a refusal.
static unsigned bits(unsigned n)
{
    need(n);
    unsigned value = bitbuf & ((1u << n) - 1);
    drop(n);
    return value;
}

static void flush()
{
    for (unsigned i = 0; i < pos; i++) {
        RunningCrc ^= Window[i];
        for (int k = 0; k < 8; k++)
            RunningCrc = (RunningCrc >> 1) ^ (RunningCrc & 1 ? 0xEDB88320u : 0);
    }
    StreamSink->Count += pos;
    if (!StreamSink->Take(StreamSink, Window, pos))
        spent = true;  // the sink takes nothing more
}

static void put(unsigned byte)
{
    Window[pos++] = (uint8_t)byte;
    if (pos == WINDOW_SIZE) {
        flush();
        pos = 0;
    }
}

// A canonical code (RFC 1951, 3.2.2): how many codes each length has, and
// the symbols in code order. The codes that the lengths leave unused are
// counted at the longest length, after its symbols, and stand for none.
struct huffman {
    uint16_t count[16];
    uint16_t symbol[288];
    unsigned symbols, longest, root;
};

// The code of n lengths; the result the decoder's table build gives.
static uint16_t construct(huffman *h, const uint16_t *length, unsigned n, unsigned width)
{
    memset(h->count, 0, sizeof h->count);
    for (unsigned s = 0; s < n; s++)
        h->count[length[s]]++;
    if (h->count[0] == n)
        return INFLATE_BAD_CODES;  // no codes
    unsigned shortest = 1;
    while (h->count[shortest] == 0)
        shortest++;
    h->longest = 15;
    while (h->count[h->longest] == 0)
        h->longest--;
    h->root = width < shortest ? shortest : width > h->longest ? h->longest : width;
    int room = 1;
    for (unsigned len = 1; len <= h->longest; len++) {
        room = 2 * room - h->count[len];
        if (room < 0)
            return INFLATE_BAD_CODES;  // over-subscribed
    }
    uint16_t offset[16] = {0};
    for (unsigned len = 1; len < 15; len++)
        offset[len + 1] = (uint16_t)(offset[len] + h->count[len]);
    for (unsigned s = 0; s < n; s++)
        if (length[s] != 0)
            h->symbol[offset[length[s]]++] = (uint16_t)s;
    h->symbols = n - h->count[0];
    h->count[h->longest] = (uint16_t)(h->count[h->longest] + room);
    return room != 0 && n > 1 ? INFLATE_BAD_DATA : INFLATE_OK;  // incomplete
}

// The length of the last code that begins with the n bits of prefix (first
// bit highest), which is the longest of that subtree.
static unsigned lastlen(const huffman *h, unsigned prefix, unsigned n)
{
    int code = 0, first = 0;
    for (unsigned len = 1;; len++) {
        code |= len <= n ? (prefix >> (n - len)) & 1 : 1;
        if (code - h->count[len] < first)
            return len;
        first = (first + h->count[len]) << 1;
        code <<= 1;
    }
}

// The next symbol; -1 for a code that stands for none, or (strict) for a
// fill that the budget refuses.
static int decode(const huffman *h, bool strict)
{
    int code = 0, first = 0, index = 0;
    for (unsigned len = 1; len <= h->longest; len++) {
        unsigned start = len - 1;
        if (start % h->root == 0) {  // the decoder looks up a table here
            unsigned width = start == 0 ? h->root : lastlen(h, code >> 1, start) - start;
            if (!need(width < h->root ? width : h->root) && strict)
                return -1;  // the budget is spent
        }
        code |= bitbuf & 1;
        drop(1);
        int count = h->count[len];
        if (code - count < first) {
            index += code - first;
            return index < (int)h->symbols ? h->symbol[index] : -1;
        }
        index += count;
        first = (first + count) << 1;
        code <<= 1;
    }
    return -1;
}

// Length symbols 257 to 285 and distance symbols 0 to 29 (RFC 1951, 3.2.5).
static const uint16_t lbase[29] = {3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31, 35,
    43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
static const uint8_t lext[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4,
    4, 4, 4, 5, 5, 5, 5, 0};
static const uint16_t dbase[30] = {1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193,
    257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
static const uint8_t dext[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9,
    9, 10, 10, 11, 11, 12, 12, 13, 13};

// The symbols of a block; distcode null: the block has no distance codes.
static uint16_t codes(const huffman *lencode, const huffman *distcode)
{
    for (;;) {
        int symbol = decode(lencode, true);
        if (symbol < 0)
            return INFLATE_BAD_DATA;
        if (symbol < 256) {
            put((unsigned)symbol);
            continue;
        }
        if (symbol == 256)
            return INFLATE_OK;
        symbol -= 257;
        if (symbol >= 29 || !need(lext[symbol]))
            return INFLATE_BAD_DATA;  // symbol 286 or 287, or the budget is spent
        unsigned len = lbase[symbol] + bits(lext[symbol]);
        if (!distcode)
            return INFLATE_BAD_DATA;  // a length without distance codes
        symbol = decode(distcode, true);
        if (symbol < 0 || !need(dext[symbol]))
            return INFLATE_BAD_DATA;
        unsigned dist = dbase[symbol] + bits(dext[symbol]);
        while (len--)
            put(Window[(pos - dist) & (WINDOW_SIZE - 1)]);
    }
}

// A block with the codes of these lengths: nlen literal/length lengths, then
// ndist distance lengths; all of those zero: no distance codes.
static uint16_t lengthcodes(const uint16_t *length, unsigned nlen, unsigned ndist,
                            unsigned lenwidth, unsigned distwidth)
{
    huffman lencode, distcode;
    uint16_t result = construct(&lencode, length, nlen, lenwidth);
    if (result != INFLATE_OK)
        return result;
    result = construct(&distcode, length + nlen, ndist, distwidth);
    bool none = distcode.count[0] == ndist;
    if (result == INFLATE_BAD_CODES && !none)
        return result;
    return codes(&lencode, none ? nullptr : &distcode);
}

static uint16_t stored()
{
    drop(bitcnt % 8);
    unsigned len = bits(16);
    if (len != (~bits(16) & 0xFFFF))
        return INFLATE_BAD_DATA;  // the lengths are not complements
    while (len--) {
        unsigned byte = bits(8);
        if (failed)
            return INFLATE_BAD_DATA;  // nothing after a failed read
        put(byte);
    }
    return INFLATE_OK;
}

static uint16_t fixed()
{
    uint16_t length[288 + 30];
    for (unsigned s = 0; s < 288 + 30; s++)
        length[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : s < 288 ? 8 : 5;
    return lengthcodes(length, 288, 30, 7, 5);
}

static uint16_t dynamic()
{
    static const uint8_t order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5,
                                      11, 4,  12, 3, 13, 2, 14, 1, 15};
    uint16_t length[286 + 30];
    unsigned nlen = bits(5) + 257;
    unsigned ndist = bits(5) + 1;
    unsigned ncode = bits(4) + 4;
    if (nlen > 286 || ndist > 30)
        return INFLATE_BAD_DATA;  // too many codes
    for (unsigned index = 0; index < 19; index++)
        length[order[index]] = (uint16_t)(index < ncode ? bits(3) : 0);
    huffman lencode;
    uint16_t result = construct(&lencode, length, 19, 7);
    if (result != INFLATE_OK)
        return result;
    unsigned previous = 0;
    for (unsigned index = 0; index < nlen + ndist;) {
        int symbol = decode(&lencode, false);  // complete: always a symbol
        unsigned len = (unsigned)symbol, repeat = 1;
        if (symbol == 16) {
            len = previous;
            repeat = 3 + bits(2);
        } else if (symbol > 16) {
            len = 0;
            repeat = symbol == 17 ? 3 + bits(3) : 11 + bits(7);
        }
        if (index + repeat > nlen + ndist)
            return INFLATE_BAD_DATA;  // a repeat runs past the last length
        while (repeat--)
            length[index++] = (uint16_t)len;
        previous = len;
    }
    return lengthcodes(length, nlen, ndist, 9, 6);
}

// One raw deflate stream, as InflateStream decodes it.
uint16_t Inflate()
{
    bitbuf = bitcnt = left = 0;
    spent = failed = false;
    StreamSink->Count = 0;
    StreamSink->Failed = false;
    pos = 0;
    RunningCrc = 0xFFFFFFFF;
    static uint16_t (*const block[3])() = {stored, fixed, dynamic};
    unsigned last;
    do {
        last = bits(1);
        unsigned type = bits(2);
        if (type == 3)
            return INFLATE_BAD_CODES;  // block type 3
        uint16_t result = block[type]();
        if (result == INFLATE_OK && spent)
            result = INFLATE_BAD_DATA;  // the block ran past the budget
        if (result != INFLATE_OK)
            return result;
    } while (!last);
    flush();
    return INFLATE_OK;
}

}  // namespace inflate_reference
