// The program's main function.
#pragma once

#include "../platform/platform.h"

// Cuts a full path at its last backslash, in place; a path without one
// becomes empty.
void CutAtLastBackslash(char16_t *path);

// Prepares the shared state in its fixed order, loads the configuration and
// runs the main dialog. Returns the exit code: 2 when an entry could not be
// created, written or verified, else 0 (a fatal report ends the process
// with 1 before it returns).
int SfxMain(ModuleHandle instance);
