// The progress record, shared by the decoder (which advances ProgressDone at
// every flush to a file), the extraction loop (which sets the total and the
// name, and shows and hides the control) and the progress control (which
// draws it). Defined with the output window.
#pragma once

#include <stdint.h>

// Total and done bytes, and the base name of the entry in progress (null
// when none). The window flush advances ProgressDone and then calls
// ProgressRefreshHook, which the user interface installs; left null, the
// decoder repaints nothing. The extraction loop shows and hides the progress
// control through ProgressShowHook (installed likewise) and refreshes it
// through ProgressRefreshHook after setting CurrentName.
extern uint32_t ProgressTotal;
extern uint32_t ProgressDone;
extern const char16_t *CurrentName;
extern void (*ProgressRefreshHook)();
extern void (*ProgressShowHook)(bool shown);
