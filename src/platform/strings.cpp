// Helpers built on the platform's own operations, the same in every build.
#include "platform.h"

char *HeapCopyString(const char *text)
{
    uint32_t length = StringLength(text);
    char *copy = (char *)HeapAllocBlock(length + 1);
    if (copy)
        CopyBytes(copy, text, length + 1);
    return copy;
}
