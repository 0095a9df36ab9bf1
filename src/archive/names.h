// Entry names and texts as Windows will read them: stored bytes decoded into
// UTF-16 (with Utf8ToWide of the platform layer), and the one check that a
// UTF-16 name creates itself below a folder.
//
// Platform-independent: the stub checks every name with it before anything
// is created, and the packer refuses with it what the stub would refuse.
#pragma once

#include <stdint.h>

#include "../platform/platform.h"

// General-purpose bit 11 of a ZIP entry: its name is UTF-8.
#define ZIP_FLAG_UTF8 0x0800

// The longest name in bytes of an entry with bit 11: a UTF-16 path within
// 259 units holds at most 259 characters of three UTF-8 bytes each (a
// character of four bytes takes two units).
#define MAX_UTF8_NAME_LENGTH 777

// Whether a name (length UTF-16 units, '/' or '\' between its parts) is
// created as itself below a destination: it does not start at a root, holds
// no ':' (a drive, a data stream), no control character and none of <>"|?*,
// and no part is a device name (CON, NUL.txt, COM1, LPT\u00B3, CONIN$, in any
// case) or ends in a dot or a space, which Windows would trim, creating
// another name or climbing out ("..").
bool WideNameIsCreatable(const char16_t *name, uint32_t length);

// Decodes length bytes of a stored name or text into out (room for length
// + 1 units; terminated), as UTF-8 or in the ANSI code page, where bytes[length]
// must be zero. Strict: -1 when bytes form no character (a NUL among them
// too). Lax: such bytes become U+FFFD (UTF-8) or '?' (ANSI). The count of
// units otherwise.
int32_t DecodeStored(const char *bytes, uint32_t length, bool utf8, bool strict, char16_t *out);
