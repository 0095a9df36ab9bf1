// Output window and CRC: the 32 KiB circular window, its flush to the memory
// or file sink, the running CRC-32, and the copy of stored entries.
#include "inflate_internal.h"

#include "../messages/messages.h"

uint8_t *OutputWindow;
uint16_t WindowPos;
uint32_t RunningCrc;
uint8_t *MemorySinkNext;
uint8_t *MemorySinkEnd;
FileHandle OutputFile;
bool OutputWriteFailed;
uint32_t CrcTable[256];

uint32_t ProgressTotal;
uint32_t ProgressDone;
const char *CurrentName;
void (*ProgressRefreshHook)();

static_assert(WINDOW_SIZE == 32768, "deflate distances reach back 32768 bytes");
static_assert(WINDOW_SIZE <= 0xFFFF + 1u, "WindowPos counts up to WINDOW_SIZE in 16 bits");

void MakeCrcTable()
{
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t c = i;
        for (int k = 0; k < 8; k++)
            c = c & 1 ? (c >> 1) ^ 0xEDB88320 : c >> 1;
        CrcTable[i] = c;
    }
}

uint32_t UpdateCrc(uint32_t crc, const uint8_t *bytes, uint16_t count)
{
    while (count--)
        crc = CrcTable[(crc ^ *bytes++) & 0xFF] ^ (crc >> 8);
    return crc;
}

// The order is fixed: CRC, then progress, then the write.
void FlushWindow()
{
    RunningCrc = UpdateCrc(RunningCrc, OutputWindow, WindowPos);
    if (MemorySinkNext) {
        if (WindowPos > (uintptr_t)(MemorySinkEnd - MemorySinkNext))
            ShowFatal(InternalErrorText);  // more output than the block holds
        CopyBytes(MemorySinkNext, OutputWindow, WindowPos);
        MemorySinkNext += WindowPos;
        return;
    }
    ProgressDone += WindowPos;
    if (ProgressRefreshHook)
        ProgressRefreshHook();
    if (WriteBytes(OutputFile, OutputWindow, WindowPos) != WindowPos)
        OutputWriteFailed = true;  // a full disk must not pass as a good entry
}

uint16_t CopyStoredEntry(uint32_t count)
{
    ResetDecoder();
    CopyInputToWindow(count);
    FlushWindow();
    return INFLATE_OK;
}
