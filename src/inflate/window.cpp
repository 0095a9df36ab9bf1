// Output window: the 32 KiB circular window, its flush to the sink with
// the running CRC-32, and the copy of stored entries.
#include "inflate_internal.h"

DECODER_STATE uint8_t *OutputWindow;
DECODER_STATE uint16_t WindowPos;
DECODER_STATE uint32_t RunningCrc;
DECODER_STATE OutputSink *StreamSink;

static_assert(WINDOW_SIZE == 32768, "deflate distances reach back 32768 bytes");
static_assert(WINDOW_SIZE <= 0xFFFF + 1u, "WindowPos counts up to WINDOW_SIZE in 16 bits");

// The order is fixed: CRC, then the sink (a file's: progress, then the
// write).
void FlushWindow()
{
    RunningCrc = UpdateCrc(RunningCrc, OutputWindow, WindowPos);
    StreamSink->Count += WindowPos;
    if (!StreamSink->Take(StreamSink, OutputWindow, WindowPos))
        InputSpent = true;  // the stream takes nothing more, and fails
}

void CopyInputToWindow(uint32_t count)
{
    while (count != 0) {
        uint32_t run = BitCount == 0 ? SafeInputBytes() : 0;
        if (run == 0) {
            // Bytes still held in the bit buffer, a read, or the budget's end.
            uint8_t byte = (uint8_t)TakeBits(8);
            if (InputFailed)
                return;  // nothing after a failed read
            StoreByte(byte);
            count--;
            continue;
        }
        uint32_t room = WINDOW_SIZE - WindowPos;
        if (run > room)
            run = room;
        if (run > count)
            run = count;
        CopyBytes(OutputWindow + WindowPos, InputNext, run);
        SkipInputBytes(run);
        count -= run;
        WindowPos = (uint16_t)(WindowPos + run);
        if (WindowPos == WINDOW_SIZE) {
            FlushWindow();
            WindowPos = 0;
        }
    }
}

void ResetDecoder()
{
    ResetInput();
    RunningCrc = 0xFFFFFFFF;
    WindowPos = 0;
    StreamSink->Count = 0;
    StreamSink->Failed = false;
}

uint16_t CopyStoredEntry(uint32_t count)
{
    ResetDecoder();
    CopyInputToWindow(count);
    if (InputFailed)
        return INFLATE_BAD_DATA;  // the source ended or failed
    FlushWindow();
    return INFLATE_OK;
}
