// The inflater's inner layers, shared by its sources and reachable from the
// native tests: the bit input, the output window, the decoding tables and the
// block routines.
#pragma once

#include <stdint.h>

#include "inflate.h"

// Tables filled at run time are named into uninitialised data: with a
// section per object, the Win32 compiler would otherwise give them
// zero-filled bytes in the stub's file.
#define UNINITIALISED __attribute__((section(".bss")))
// A table of the decoder's state: per thread where the state is.
#ifdef BREVANT_DECODER_PER_THREAD
#define UNINITIALISED_STATE
#else
#define UNINITIALISED_STATE UNINITIALISED
#endif

// ---- Bit input ----------------------------------------------------------------
// Input bits not yet consumed; the next bit is bit 0. Bits at and above
// BitCount are always zero. BitCount never exceeds 23: a fill stops as soon
// as it holds the bits asked for (at most 16) and adds whole bytes.
extern DECODER_STATE uint32_t BitBuffer;
extern DECODER_STATE uint16_t BitCount;
extern DECODER_STATE const uint8_t *InputNext;  // next unread byte of InputBuffer
extern DECODER_STATE uint32_t InputLeft;        // unread bytes in InputBuffer; 0: the next fill reads
// Set when the budget refuses a byte, a read fails (InputFailed) or the sink
// can take no more; from then on no fill takes a byte and the block decoder
// fails the stream. Cleared by ResetDecoder.
extern DECODER_STATE bool InputSpent;

// The value with the n lowest bits set, n taken modulo 32.
inline uint32_t BitMask(unsigned n) { return ((uint32_t)1 << (n & 31)) - 1; }

// Makes BitBuffer hold at least n (at most 16) bits; holds fewer only when
// the budget refuses a byte.
void FillBits(unsigned n);

// Discards the n lowest bits. Dropping more than are held (possible only
// after a refused fill) leaves the bit input empty.
inline void DropBits(unsigned n)
{
    BitBuffer >>= n;
    BitCount = n > BitCount ? 0 : (uint16_t)(BitCount - n);
}

// The next n (0 to 16) bits, the first of them as the least significant bit.
inline uint32_t TakeBits(unsigned n)
{
    if (BitCount < n)
        FillBits(n);
    uint32_t value = BitBuffer & BitMask(n);
    DropBits(n);
    return value;
}

// How many bytes the bit input may take from InputBuffer without a read or
// a refusal of the budget.
uint32_t SafeInputBytes();

// Takes count bytes (at most SafeInputBytes) straight from InputBuffer at
// InputNext, charging the budget; the bit input must be byte-aligned and
// empty.
void SkipInputBytes(uint32_t count);
// Empties the bit input and clears the spent and failed flags for a new
// stream.
void ResetInput();

// ---- Output window ------------------------------------------------------------
extern DECODER_STATE uint16_t WindowPos;  // bytes stored since the last flush; next store index
extern uint32_t CrcTable[256];
// Set by MakeCrcTable where the CPU has PCLMULQDQ and SSE2: UpdateCrc then
// folds runs of CRC_FOLD_MIN bytes and more with carry-less multiplies, all
// but their last 0 to 15 bytes, instead of taking them through the slices.
extern bool CrcFolding;
#define CRC_FOLD_MIN 64u

// Sends the first WindowPos bytes of the window to the current sink. Does not
// change WindowPos.
void FlushWindow();

inline void StoreByte(uint8_t byte)
{
    OutputWindow[WindowPos++] = byte;
    if (WindowPos == WINDOW_SIZE) {
        FlushWindow();
        WindowPos = 0;
    }
}

// Stores count bytes of the input in the window, as count times TakeBits(8)
// and StoreByte would; whole runs at once while the input is byte-aligned.
void CopyInputToWindow(uint32_t count);
// Starts a stream: the bit input, the CRC, the window position and the
// sink's count and failure. The budget, the source, the sink and the
// window's contents stay.
void ResetDecoder();

// ---- Decoding tables ----------------------------------------------------------
// One table entry.
//   op     0..13  a length or distance symbol with op extra bits; value is its base
//          15     OP_END_OF_BLOCK (symbol 256)
//          16     OP_LITERAL: a literal byte, or any code-length symbol; value is it
//          17..31 a link to a subtable indexed by op - 16 bits; table is the subtable
//          99     OP_INVALID: a code without a symbol
//   bits   the bits of the code that fall into this table's level; for a link,
//          the root width, which every table with subtables has.
//   value / table
// Each table is one heap block of 2^width + 1 entries. The first is a hidden
// header whose table field points to the next table made by the same build
// (null for the last); the table handed out starts after it. So one build is
// a chain, root first, that FreeCodeTable releases as a whole.
struct CodeEntry {
    uint8_t op;
    uint8_t bits;
    union {
        uint16_t value;
        CodeEntry *table;
    };
};

enum : uint8_t {
    OP_END_OF_BLOCK = 15,
    OP_LITERAL = 16,
    OP_LINK = 16,  // a link's op is OP_LINK + its subtable's width
    OP_INVALID = 99,
};

#define MAX_CODE_BITS 15   // longest code deflate allows
#define MAX_SYMBOLS 288    // literal/length symbols of the fixed code

static_assert(OP_LINK + MAX_CODE_BITS < OP_INVALID, "link ops must not reach OP_INVALID");
static_assert(MAX_CODE_BITS <= 16, "a code must fit one fill of the bit input");

// Builds the table of the code given by lengths (count of them, 0 to 15
// each). Symbols below simpleCount become literals (end of block from 256 on);
// the others take op and value from extraTable and baseTable, indexed by
// symbol - simpleCount. *widthInOut: the preferred root width in, the root
// width used out. INFLATE_OK, INFLATE_BAD_DATA for an incomplete code (the
// table is usable; its unused codes decode as none), INFLATE_BAD_CODES for
// all-zero or over-subscribed lengths (nothing allocated), INFLATE_NO_MEMORY
// (everything released).
uint16_t BuildCodeTable(const uint16_t *lengths, uint16_t count, uint16_t simpleCount,
                        const uint16_t *baseTable, const uint8_t *extraTable,
                        CodeEntry **rootOut, uint16_t *widthInOut);
// Frees table and every table after it in its chain; null does nothing.
void FreeCodeTable(CodeEntry *table);

// ---- Blocks -------------------------------------------------------------------
#define MAX_LIT_CODES 286
#define MAX_DIST_CODES 30

extern const uint8_t CodeLengthOrder[19];
extern const uint16_t LengthBase[31];
extern const uint8_t LengthExtra[31];
extern const uint16_t DistanceBase[30];
extern const uint8_t DistanceExtra[30];

uint16_t CopyStoredBlock();
uint16_t DecodeFixedBlock();
uint16_t DecodeDynamicBlock();
uint16_t DecodeWithLengths(uint16_t litWidth, const uint16_t *lengths, uint16_t litCount,
                           uint16_t distWidth, uint16_t distCount);

// The fast path of DecodeSymbols reads packed copies of the block's tables,
// one 32-bit word per entry, from fixed storage.
// The packed roots are this wide, wider than the tables' usual roots
// (literal/length 9 bits, distance 6), so that most codes longer than those
// take one lookup; a block whose table root is wider than its packed root
// is decoded without the fast path.
#define PACKED_LIT_BITS 10
#define PACKED_DIST_BITS 7
// The largest copies the fixed storage holds: a literal/length code with a
// 9-bit root and a distance code with a 6-bit root take at most 852 and 592
// entries, of which the packed copies keep the subtables of codes longer
// than their roots; with narrower roots they take fewer.
#define PACKED_LIT_ENTRIES ((1 << PACKED_LIT_BITS) + 852 - 512)
#define PACKED_DIST_ENTRIES ((1 << PACKED_DIST_BITS) + 592 - 64)

// distTable null: the block has no distance codes, and a length symbol fails it.
uint16_t DecodeSymbols(const CodeEntry *litTable, const CodeEntry *distTable,
                       uint16_t litWidth, uint16_t distWidth);
