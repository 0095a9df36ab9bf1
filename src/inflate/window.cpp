// Output window and CRC: the 32 KiB circular window, its flush to the memory
// or file sink, the running CRC-32, and the copy of stored entries.
#include "inflate_internal.h"

#include "../messages/messages.h"

uint8_t *OutputWindow;
uint16_t WindowPos;
uint32_t RunningCrc;
uint8_t *MemorySinkNext;
uint8_t *MemorySinkEnd;
FileHandle OutputFile;
bool OutputWriteFailed;
uint32_t CrcTable[256] UNINITIALISED;

uint32_t ProgressTotal;
uint32_t ProgressDone;
const char *CurrentName;
void (*ProgressRefreshHook)();
void (*ProgressShowHook)(bool shown);

static_assert(WINDOW_SIZE == 32768, "deflate distances reach back 32768 bytes");
static_assert(WINDOW_SIZE <= 0xFFFF + 1u, "WindowPos counts up to WINDOW_SIZE in 16 bits");

// Format notes: the CRC by slices.
//   CrcTable[b] is the CRC-32 register after shifting in byte b; CrcSlice[k][b]
//   is that register shifted on by k + 1 more zero bytes. The CRC of sixteen
//   bytes is then the exclusive or of sixteen lookups, one per byte, each in the
//   table of the bytes that still follow it, which gives exactly the register
//   of sixteen single-byte steps. The slices are made at start-up with table 0
//   and, like it, live in uninitialised data (UNINITIALISED).
static uint32_t CrcSlice[15][256] UNINITIALISED;

static_assert(sizeof(uint32_t) == 4, "the slices read the input four bytes at a time");

static void MakeLaneShift();

void MakeCrcTable()
{
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t c = i;
        for (int k = 0; k < 8; k++)
            c = c & 1 ? (c >> 1) ^ 0xEDB88320 : c >> 1;
        CrcTable[i] = c;
    }
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t c = CrcTable[i];
        for (int k = 0; k < 15; k++) {
            c = CrcTable[c & 0xFF] ^ (c >> 8);
            CrcSlice[k][i] = c;
        }
    }
    MakeLaneShift();
}

// Four input bytes as a little-endian word; the compiler makes one load of it.
static inline uint32_t LoadWord(const uint8_t *bytes)
{
    return (uint32_t)bytes[0] | (uint32_t)bytes[1] << 8 | (uint32_t)bytes[2] << 16 |
           (uint32_t)bytes[3] << 24;
}

// The register after sixteen more bytes.
__attribute__((always_inline)) static inline uint32_t Crc16Bytes(uint32_t crc, const uint8_t *bytes)
{
    uint32_t w0 = crc ^ LoadWord(bytes);
    uint32_t w1 = LoadWord(bytes + 4);
    uint32_t w2 = LoadWord(bytes + 8);
    uint32_t w3 = LoadWord(bytes + 12);
    return CrcSlice[14][w0 & 0xFF] ^ CrcSlice[13][w0 >> 8 & 0xFF] ^
           CrcSlice[12][w0 >> 16 & 0xFF] ^ CrcSlice[11][w0 >> 24] ^
           CrcSlice[10][w1 & 0xFF] ^ CrcSlice[9][w1 >> 8 & 0xFF] ^
           CrcSlice[8][w1 >> 16 & 0xFF] ^ CrcSlice[7][w1 >> 24] ^
           CrcSlice[6][w2 & 0xFF] ^ CrcSlice[5][w2 >> 8 & 0xFF] ^
           CrcSlice[4][w2 >> 16 & 0xFF] ^ CrcSlice[3][w2 >> 24] ^
           CrcSlice[2][w3 & 0xFF] ^ CrcSlice[1][w3 >> 8 & 0xFF] ^
           CrcSlice[0][w3 >> 16 & 0xFF] ^ CrcTable[w3 >> 24];
}

// Format notes: two lanes.
//   The register is linear: after bytes A then B it is the register after A
//   shifted on by as many zero bytes as B has, exclusive-or the register a
//   zero register would have after B. Shifting by zero bytes multiplies by a
//   power of x modulo the CRC polynomial, so a run of 2 * CRC_LANE bytes is
//   taken as two independent lanes, interleaved for speed, and joined with
//   one multiplication by LaneShift, x^(8 * CRC_LANE), made at start-up.
#define CRC_LANE 4096u
static uint32_t LaneShift;

// a * b modulo the CRC polynomial, both bit-reversed; a is not zero.
static uint32_t MultiplyModPoly(uint32_t a, uint32_t b)
{
    uint32_t m = (uint32_t)1 << 31;
    uint32_t product = 0;
    for (;;) {
        if (a & m) {
            product ^= b;
            if ((a & (m - 1)) == 0)
                break;
        }
        m >>= 1;
        b = b & 1 ? (b >> 1) ^ 0xEDB88320 : b >> 1;
    }
    return product;
}

static void MakeLaneShift()
{
    uint32_t c = (uint32_t)1 << 31;  // the polynomial 1
    for (uint32_t i = 0; i < CRC_LANE; i++)
        c = CrcTable[c & 0xFF] ^ (c >> 8);
    LaneShift = c;
}

uint32_t UpdateCrc(uint32_t crc, const uint8_t *bytes, uint16_t count)
{
    uint32_t n = count;
    for (; n >= 2 * CRC_LANE; n -= 2 * CRC_LANE, bytes += 2 * CRC_LANE) {
        uint32_t first = crc;
        uint32_t second = 0;
        for (uint32_t i = 0; i < CRC_LANE; i += 16) {
            first = Crc16Bytes(first, bytes + i);
            second = Crc16Bytes(second, bytes + CRC_LANE + i);
        }
        crc = MultiplyModPoly(LaneShift, first) ^ second;
    }
    for (; n >= 16; n -= 16, bytes += 16)
        crc = Crc16Bytes(crc, bytes);
    while (n--)
        crc = CrcTable[(crc ^ *bytes++) & 0xFF] ^ (crc >> 8);
    return crc;
}

// The order is fixed: CRC, then progress, then the write.
void FlushWindow()
{
    RunningCrc = UpdateCrc(RunningCrc, OutputWindow, WindowPos);
    if (MemorySinkNext) {
        if (WindowPos > (uintptr_t)(MemorySinkEnd - MemorySinkNext))
            ShowFatal(InternalErrorText);  // more output than the block holds
        CopyBytes(MemorySinkNext, OutputWindow, WindowPos);
        MemorySinkNext += WindowPos;
        return;
    }
    ProgressDone += WindowPos;
    if (ProgressRefreshHook)
        ProgressRefreshHook();
    if (WriteBytes(OutputFile, OutputWindow, WindowPos) != WindowPos)
        OutputWriteFailed = true;  // a full disk must not pass as a good entry
}

void CopyInputToWindow(uint32_t count)
{
    while (count != 0) {
        uint32_t run = BitCount == 0 ? SafeInputBytes() : 0;
        if (run == 0) {
            // Bytes still held in the bit buffer, a read, or the budget's end.
            StoreByte((uint8_t)TakeBits(8));
            count--;
            continue;
        }
        uint32_t room = WINDOW_SIZE - WindowPos;
        if (run > room)
            run = room;
        if (run > count)
            run = count;
        CopyBytes(OutputWindow + WindowPos, InputNext, run);
        SkipInputBytes(run);
        count -= run;
        WindowPos = (uint16_t)(WindowPos + run);
        if (WindowPos == WINDOW_SIZE) {
            FlushWindow();
            WindowPos = 0;
        }
    }
}

void ResetDecoder()
{
    ResetInput();
    RunningCrc = 0xFFFFFFFF;
    WindowPos = 0;
    OutputWriteFailed = false;
}

uint16_t CopyStoredEntry(uint32_t count)
{
    ResetDecoder();
    CopyInputToWindow(count);
    FlushWindow();
    return INFLATE_OK;
}
