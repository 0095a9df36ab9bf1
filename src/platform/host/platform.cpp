// Host implementation of the platform layer, the rest of what the packers
// need (brevant-pack, and brevant-pack.exe on Windows): they embed the core
// to read images and check streams with the stub's own decoder, which
// never asks for a window, a folder or a process. The native tests run on
// a double of the whole layer instead (tests/host/double/).
#include "../platform.h"

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#ifdef _WIN32
#include <io.h>
#endif

uint32_t WriteBytes(FileHandle file, const void *buffer, uint32_t count)
{
    uint32_t put = 0;
    while (put < count) {
        ssize_t n = write((int)(intptr_t)file, (const char *)buffer + put, count - put);
        if (n <= 0)
            break;
        put += (uint32_t)n;
    }
    return put;
}

void CreateProgramHeap() {}

void *HeapAllocBlock(uint32_t size) { return malloc(size ? size : 1); }

void *HeapAllocZeroed(uint32_t size) { return calloc(size ? size : 1, 1); }

void HeapFreeBlock(void *block) { free(block); }

// Bytes beyond ASCII as Latin-1: the packer decodes no text of the code
// page with the core (it converts with its own tables).
uint32_t DecodeChar(const char *p, char16_t *out, uint32_t *units)
{
    *out = (uint8_t)*p;
    *units = 1;
    return 1;
}
