// The raw-deflate decoder: bit input under a per-stream byte budget, the 32 KiB
// output window with its memory and file sinks and the running CRC-32, decoding
// tables, and the block decoder.
//
// All state is one global instance: exactly one stream is decoded at a time.
// Before a stream the caller positions ImageFile at its first byte, chooses the
// sink (MemorySinkNext for memory, else OutputFile) and, for an archive entry,
// sets InputBudget to CompressedSize + 4. Afterwards it compares RunningCrc
// with the complement of the stored CRC-32.
#pragma once

#include <stdint.h>

#include "../platform/platform.h"

// Result codes; callers treat every nonzero value as failure.
enum : uint16_t {
    INFLATE_OK = 0,
    INFLATE_BAD_DATA = 1,
    INFLATE_BAD_CODES = 2,
    INFLATE_NO_MEMORY = 3,
};

#define WINDOW_SIZE 32768u
#define INPUT_SIZE 4096u

// Buffers allocated once at start-up and used by every stream of the run.
extern uint8_t *OutputWindow;    // WINDOW_SIZE bytes
extern uint8_t *InputBuffer;     // INPUT_SIZE bytes

extern uint32_t InputBudget;     // bytes the current stream may still take, plus one
extern uint32_t RunningCrc;      // starts at 0xFFFFFFFF for every stream
extern uint8_t *MemorySinkNext;  // not null: flushes go to memory here
extern uint8_t *MemorySinkEnd;   // one past the memory sink's last byte
extern FileHandle OutputFile;    // flushes go here while MemorySinkNext is null
extern bool OutputWriteFailed;   // a write to OutputFile failed or fell short in this stream

// The progress record: total and done bytes, and the name of the entry in
// progress. The window flush advances ProgressDone and then calls
// ProgressRefreshHook, which the user interface installs; left null, the
// decoder repaints nothing. The extraction loop shows and hides the progress
// control through ProgressShowHook (installed likewise) and refreshes it
// through ProgressRefreshHook after setting CurrentName.
extern uint32_t ProgressTotal;
extern uint32_t ProgressDone;
extern const char *CurrentName;
extern void (*ProgressRefreshHook)();
extern void (*ProgressShowHook)(bool shown);

void MakeCrcTable();
uint32_t UpdateCrc(uint32_t crc, const uint8_t *bytes, uint16_t count);

// Decodes one raw deflate stream from ImageFile into the current sink.
uint16_t InflateStream();
// Copies count stored bytes from ImageFile into the current sink; INFLATE_OK.
uint16_t CopyStoredEntry(uint32_t count);
