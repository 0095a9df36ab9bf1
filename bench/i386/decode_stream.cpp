// One raw deflate stream through the decoder, as a freestanding i386 Linux
// program: no C library, system calls by int 0x80. The decoder's objects are
// built with the x86 stub's own flags (bench/x86_decoder_count.py) and linked
// to this file, so that callgrind counts the instructions of the code the x86
// stub runs, which the host's x86-64 build does not show.
//
//   decode_stream FILE      prints the CRC-32 of the output in hex and its
//                           size; exit code the decoder's result (0: good)
//
// The stream is mapped whole and served from memory through the decoder's
// input buffer; the output is counted and dropped, as the file sink would
// write it.
#include <stddef.h>
#include <stdint.h>

#include "inflate/inflate.h"

#define SYS_EXIT 1
#define SYS_WRITE 4
#define SYS_OPEN 5
#define SYS_LSEEK 19
#define SYS_MMAP2 192

static long Call(long number, long a = 0, long b = 0, long c = 0, long d = 0, long e = 0)
{
    long result;
    asm volatile("int $0x80"
                 : "=a"(result)
                 : "a"(number), "b"(a), "c"(b), "d"(c), "S"(d), "D"(e)
                 : "memory");
    return result;
}

[[noreturn]] static void Exit(int code)
{
    Call(SYS_EXIT, code);
    __builtin_unreachable();
}

// What the compiler may call for copies and clearing.
extern "C" void *memcpy(void *to, const void *from, size_t count)
{
    uint8_t *out = (uint8_t *)to;
    const uint8_t *in = (const uint8_t *)from;
    while (count--)
        *out++ = *in++;
    return to;
}

extern "C" void *memset(void *to, int value, size_t count)
{
    uint8_t *out = (uint8_t *)to;
    while (count--)
        *out++ = (uint8_t)value;
    return to;
}

void CopyBytes(void *to, const void *from, uint32_t count) { memcpy(to, from, count); }

// The decoding tables' blocks: a free list for each power of two, from an
// arena that is never given back. The same calls in the same order for every
// build of the decoder, so they cost each the same.
static uint8_t Arena[16 << 20];
static uint32_t ArenaUsed;
static void *FreeBlocks[32];

void *HeapAllocBlock(uint32_t size)
{
    unsigned order = 4;
    while (((uint32_t)1 << order) < size + 8)
        order++;
    uint8_t *block = (uint8_t *)FreeBlocks[order];
    if (block) {
        FreeBlocks[order] = *(void **)block;
    } else {
        if (ArenaUsed + ((uint32_t)1 << order) > sizeof Arena)
            return nullptr;
        block = Arena + ArenaUsed + 8;
        ArenaUsed += (uint32_t)1 << order;
    }
    ((uint32_t *)block)[-1] = order;
    return block;
}

void HeapFreeBlock(void *block)
{
    if (!block)
        return;
    unsigned order = ((uint32_t *)block)[-1];
    *(void **)block = FreeBlocks[order];
    FreeBlocks[order] = block;
}

static const uint8_t *StreamNext;
static uint32_t StreamLeft;

static uint32_t ReadStream(const InputSource *, uint8_t *buffer, uint32_t count)
{
    if (count > StreamLeft)
        count = StreamLeft;
    memcpy(buffer, StreamNext, count);
    StreamNext += count;
    StreamLeft -= count;
    return count;
}

static bool DropOutput(OutputSink *, const uint8_t *, uint32_t) { return true; }

static uint8_t Window[WINDOW_SIZE];
static uint8_t Input[INPUT_SIZE];

extern "C" [[noreturn]] __attribute__((used)) void Start(int argc, char **argv)
{
    if (argc != 2)
        Exit(2);
    long file = Call(SYS_OPEN, (long)argv[1], 0);
    if (file < 0)
        Exit(2);
    long size = Call(SYS_LSEEK, file, 0, 2);
    const long PROT_READ = 1, MAP_PRIVATE = 2;
    long map = Call(SYS_MMAP2, 0, size, PROT_READ, MAP_PRIVATE, file);
    if (size <= 0 || (unsigned long)map > -4096ul)
        Exit(2);
    StreamNext = (const uint8_t *)map;
    StreamLeft = (uint32_t)size;

    OutputWindow = Window;
    InputBuffer = Input;
    MakeCrcTable();
    InputSource source = {ReadStream};
    OutputSink sink = {DropOutput, 0, false};
    StreamSource = &source;
    StreamSink = &sink;
    InputBudget = 0;  // no budget: the stream ends where it says
    uint16_t result = InflateStream();

    // "crc size": the CRC-32 in hex, the output's size in decimal.
    char line[24], digits[10];
    int n = 0, d = 0;
    uint32_t crc = ~RunningCrc;
    for (int shift = 28; shift >= 0; shift -= 4)
        line[n++] = "0123456789abcdef"[(crc >> shift) & 15];
    line[n++] = ' ';
    uint32_t made = sink.Count;
    do
        digits[d++] = (char)('0' + made % 10);
    while (made /= 10);
    while (d)
        line[n++] = digits[--d];
    line[n++] = '\n';
    Call(SYS_WRITE, 1, (long)line, n);
    Exit(result);
}

// The process entry: argc and argv from the stack, which is then aligned.
asm(".globl _start\n"
    "_start:\n"
    "  xor %ebp, %ebp\n"
    "  mov (%esp), %eax\n"
    "  lea 4(%esp), %ecx\n"
    "  and $-16, %esp\n"
    "  sub $8, %esp\n"
    "  push %ecx\n"
    "  push %eax\n"
    "  call Start\n");
