// The CRC-32 of the output: the table and its slices made at start-up, and
// the running update by slices, two interleaved lanes, or carry-less
// multiplication where the CPU has it.
#include "inflate_internal.h"

#include <cpuid.h>
#include <emmintrin.h>
#include <wmmintrin.h>

uint32_t CrcTable[256] UNINITIALISED;
bool CrcFolding;

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
static bool CpuHasCarrylessMultiply();

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
    CrcFolding = CpuHasCarrylessMultiply();
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

// Format notes: the CRC by folding.
//   Read as a polynomial over GF(2), with bit 0 of the first byte as its
//   highest power, a run of bytes M leaves the register M * x^32 modulo the
//   CRC polynomial P, once the register it starts from is exclusive-or'ed
//   into the run's first four bytes. A block of M, times the power of x of
//   its place, may be replaced by anything congruent to it modulo P, and
//   PCLMULQDQ multiplies two 64-bit polynomials without carries. So four
//   16-byte accumulators take the run's first 64 bytes, and for every further
//   64 bytes each is carried 512 bits on: its two 64-bit halves are
//   multiplied by x^n mod P for their distances, and the products, 96 bits at
//   most, are exclusive-or'ed into the 16 bytes that lie 64 bytes further on.
//   At the end the same step over 128 bits folds the four into one and takes
//   in the 16-byte blocks that remain; that one is brought down to 64 bits
//   and a Barrett reduction (a multiplication by the quotient of x^64 by P,
//   one by P) leaves the remainder.
//   The registers hold the polynomials bit-reversed, so a product comes out
//   32 places above where the plain powers would put it; each constant is
//   therefore x^(distance - 32) mod P, bit-reversed into 33 bits: CRC_K1
//   and CRC_K2 for the two halves carried over 512 bits (distances 576 and
//   512), CRC_K3 and CRC_K4 over 128 bits (192 and 128), CRC_K5 for the
//   step to 64 bits. CRC_POLY and CRC_BARRETT are P and the quotient,
//   bit-reversed into 33 bits the same way.
//   Where the CPU lacks PCLMULQDQ or SSE2 (CrcFolding, set once in
//   MakeCrcTable), for runs shorter than CRC_FOLD_MIN and for the last 0 to
//   15 bytes of a run, the slices do the work. Only the folding routines are
//   built for that instruction set (FOLD_TARGET); the rest of the program
//   stays on the baseline CPU.
#define CRC_K1 0x154442BD4ull       // x^(512 + 64 - 32) mod P
#define CRC_K2 0x1C6E41596ull       // x^(512 - 32) mod P
#define CRC_K3 0x1751997D0ull       // x^(128 + 64 - 32) mod P
#define CRC_K4 0x0CCAA009Eull       // x^(128 - 32) mod P
#define CRC_K5 0x163CD6124ull       // x^64 mod P
#define CRC_POLY 0x1DB710641ull     // P
#define CRC_BARRETT 0x1F7011641ull  // x^64 / P, without the remainder

#define CPUID_ECX_PCLMULQDQ (1u << 1)
#define CPUID_EDX_SSE2 (1u << 26)

static bool CpuHasCarrylessMultiply()
{
    unsigned eax, ebx, ecx, edx;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return false;  // no CPUID, or no leaf 1
    return (ecx & CPUID_ECX_PCLMULQDQ) && (edx & CPUID_EDX_SSE2);
}

#define FOLD_TARGET __attribute__((target("pclmul,sse2")))

FOLD_TARGET static inline __m128i Load16(const uint8_t *bytes)
{
    return _mm_loadu_si128((const __m128i *)bytes);
}

// The accumulator carried over the distance of the constants k onto next.
FOLD_TARGET __attribute__((always_inline)) static inline __m128i Fold16(__m128i accumulator,
                                                                        __m128i k, __m128i next)
{
    __m128i first = _mm_clmulepi64_si128(accumulator, k, 0x00);
    __m128i second = _mm_clmulepi64_si128(accumulator, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(first, second), next);
}

// The register after count bytes, count a multiple of 16 and at least
// CRC_FOLD_MIN.
FOLD_TARGET static uint32_t FoldCrc(uint32_t crc, const uint8_t *bytes, uint32_t count)
{
    const uint8_t *end = bytes + count;
    __m128i a0 = _mm_xor_si128(Load16(bytes), _mm_cvtsi32_si128((int)crc));
    __m128i a1 = Load16(bytes + 16);
    __m128i a2 = Load16(bytes + 32);
    __m128i a3 = Load16(bytes + 48);
    const __m128i k1k2 = _mm_set_epi64x(CRC_K2, CRC_K1);
    for (bytes += 64; end - bytes >= 64; bytes += 64) {
        a0 = Fold16(a0, k1k2, Load16(bytes));
        a1 = Fold16(a1, k1k2, Load16(bytes + 16));
        a2 = Fold16(a2, k1k2, Load16(bytes + 32));
        a3 = Fold16(a3, k1k2, Load16(bytes + 48));
    }
    const __m128i k3k4 = _mm_set_epi64x(CRC_K4, CRC_K3);
    a0 = Fold16(a0, k3k4, a1);
    a0 = Fold16(a0, k3k4, a2);
    a0 = Fold16(a0, k3k4, a3);
    for (; bytes != end; bytes += 16)
        a0 = Fold16(a0, k3k4, Load16(bytes));

    // 128 bits to 64: the first half times CRC_K4 onto the second, then
    // the first 32 bits of the result times CRC_K5 onto the rest.
    const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);
    a0 = _mm_xor_si128(_mm_srli_si128(a0, 8), _mm_clmulepi64_si128(a0, k3k4, 0x10));
    __m128i rest = _mm_srli_si128(a0, 4);
    a0 = _mm_clmulepi64_si128(_mm_and_si128(a0, low32), _mm_set_epi64x(0, CRC_K5), 0x00);
    a0 = _mm_xor_si128(a0, rest);

    // Barrett: the low 32 bits times CRC_BARRETT give the quotient by P;
    // the quotient times P cancels all but the remainder, in bits 32 to 63.
    const __m128i poly = _mm_set_epi64x(CRC_BARRETT, CRC_POLY);
    __m128i q = _mm_clmulepi64_si128(_mm_and_si128(a0, low32), poly, 0x10);
    q = _mm_clmulepi64_si128(_mm_and_si128(q, low32), poly, 0x00);
    a0 = _mm_xor_si128(a0, q);
    return (uint32_t)_mm_cvtsi128_si32(_mm_srli_si128(a0, 4));
}

uint32_t UpdateCrc(uint32_t crc, const uint8_t *bytes, uint16_t count)
{
    uint32_t n = count;
    if (CrcFolding && n >= CRC_FOLD_MIN) {
        uint32_t folded = n & ~15u;
        crc = FoldCrc(crc, bytes, folded);
        bytes += folded;
        n -= folded;
    }
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
