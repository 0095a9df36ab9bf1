// The raw-deflate decoder: bit input under a per-stream byte budget, the 32 KiB
// output window with its memory and file sinks and the running CRC-32, decoding
// tables, and the block decoder.
//
// All state is one global instance: exactly one stream is decoded at a time.
// The archive layer's DecodeEntry is the one caller that sets the state up
// for a stream (position, budget, sink) and reads the outcome (result,
// RunningCrc, what reached the sink, OutputWriteFailed).
#pragma once

#include <stdint.h>

#include "../platform/platform.h"
#include "progress.h"

// Result codes; callers treat every nonzero value as failure.
enum : uint16_t {
    INFLATE_OK = 0,
    INFLATE_BAD_DATA = 1,
    INFLATE_BAD_CODES = 2,
    INFLATE_NO_MEMORY = 3,
};

#define WINDOW_SIZE 32768u
#define INPUT_SIZE 32768u  // as large as the window: one read for every flush

// Buffers allocated once at start-up and used by every stream of the run.
extern uint8_t *OutputWindow;    // WINDOW_SIZE bytes
extern uint8_t *InputBuffer;     // INPUT_SIZE bytes

extern uint32_t InputBudget;     // bytes the current stream may still take, plus one
// A stream of known size gets InputBudget = its size + BUDGET_SLACK: room for
// the one byte a valid stream may look past its end, and then some.
#define BUDGET_SLACK 4u
extern uint32_t RunningCrc;      // starts at 0xFFFFFFFF for every stream
extern uint8_t *MemorySinkNext;  // not null: flushes go to memory here
extern uint8_t *MemorySinkEnd;   // one past the memory sink's last byte
extern FileHandle OutputFile;    // flushes go here while MemorySinkNext is null
extern bool OutputWriteFailed;   // a write to OutputFile failed or fell short in this stream

void MakeCrcTable();
uint32_t UpdateCrc(uint32_t crc, const uint8_t *bytes, uint16_t count);

// Decodes one raw deflate stream from ImageFile into the current sink.
uint16_t InflateStream();
// Copies count stored bytes from ImageFile into the current sink; INFLATE_OK.
uint16_t CopyStoredEntry(uint32_t count);
// Whole bytes the bit input holds: taken from the image and charged to the
// budget, but not consumed by the stream. A stream has consumed the bytes
// charged to its budget less these.
uint32_t HeldInputBytes();
