// The process entry. The stub carries no C runtime: the entry creates the
// program's heap, runs SfxMain with the instance handle of its own module and
// ends the process with SfxMain's result. Nothing is read from the command
// line.
#include <windows.h>

#include "../platform.h"

extern "C" void WINAPI StubEntry()
{
    CreateProgramHeap();
    ExitProcess((UINT)SfxMain(GetModuleHandleW(nullptr)));
}

// The compiler may turn plain loops and structure copies into calls to these
// two; without a C runtime the stub provides them itself. This file is built
// with -fno-tree-loop-distribute-patterns so that these loops stay loops.
extern "C" void *memset(void *to, int value, size_t count)
{
    unsigned char *t = (unsigned char *)to;
    while (count--)
        *t++ = (unsigned char)value;
    return to;
}

extern "C" void *memcpy(void *to, const void *from, size_t count)
{
    unsigned char *t = (unsigned char *)to;
    const unsigned char *f = (const unsigned char *)from;
    while (count--)
        *t++ = *f++;
    return to;
}
