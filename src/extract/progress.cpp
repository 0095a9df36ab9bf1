// The progress record and the output file sink that advances it.
#include "progress.h"

uint32_t ProgressTotal;
uint32_t ProgressDone;
const char16_t *CurrentName;
void (*ProgressRefreshHook)();
void (*ProgressShowHook)(bool shown);

bool TakeIntoFile(OutputSink *sink, const uint8_t *bytes, uint32_t count)
{
    ProgressDone += count;
    if (ProgressRefreshHook)
        ProgressRefreshHook();
    // A full disk must not pass as a good entry.
    if (!sink->Failed && WriteBytes(((FileSink *)sink)->File, bytes, count) != count)
        sink->Failed = true;
    return true;
}
