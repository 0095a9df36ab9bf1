// Path helpers shared by the extraction loop and the folder routines.
#pragma once

#include <stdint.h>

// True when the last unit of path is a backslash.
bool EndsInBackslash(const char16_t *path);
// The trailing-backslash rule, in a PATH_CHARS buffer: appends a backslash
// when path is not empty and does not end in one. The new length (0 for an
// empty path); -1 when the backslash does not fit.
int32_t AddBackslash(char16_t *path);
