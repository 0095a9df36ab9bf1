// Helpers built on the platform's own operations, the same in every build.
#include "platform.h"

char16_t *HeapCopyText(const char16_t *text)
{
    uint32_t size = (TextLength(text) + 1) * 2;
    char16_t *copy = (char16_t *)HeapAllocBlock(size);
    if (copy)
        CopyBytes(copy, text, size);
    return copy;
}
