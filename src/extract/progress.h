// The progress record: set by the extraction loop (the total, the name, and
// the done count at every flush of the window to an output file) and drawn
// by the progress control of the user interface, which installs the hooks.
// Left null, the hooks show and repaint nothing.
#pragma once

#include <stdint.h>

#include "../inflate/inflate.h"

// Total and done bytes, and the base name of the entry in progress (null
// when none). The file sink advances ProgressDone at every flush and then
// calls ProgressRefreshHook; the extraction loop shows and hides the
// progress control through ProgressShowHook and refreshes it through
// ProgressRefreshHook after setting CurrentName.
extern uint32_t ProgressTotal;
extern uint32_t ProgressDone;
extern const char16_t *CurrentName;
extern void (*ProgressRefreshHook)();
extern void (*ProgressShowHook)(bool shown);

// A file, as extraction writes it: each flush first advances ProgressDone and
// calls ProgressRefreshHook, then writes. A write that fails or falls short
// fails the sink; none is tried again (the file would get holes where space
// came free), but the stream is decoded to its end.
struct FileSink : OutputSink {
    FileHandle File;
};
bool TakeIntoFile(OutputSink *sink, const uint8_t *bytes, uint32_t count);
inline void MakeFileSink(FileSink *sink, FileHandle file)
{
    sink->Take = TakeIntoFile;
    sink->Count = 0;
    sink->Failed = false;
    sink->File = file;
}
