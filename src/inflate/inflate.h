// The raw-deflate decoder: bit input from an input source under a per-stream
// byte budget, the 32 KiB output window with its sinks and the running CRC-32,
// decoding tables, and the block decoder.
//
// All state is one global instance: exactly one stream is decoded at a time.
// The packers, which check streams on several threads, build it with
// BREVANT_DECODER_PER_THREAD: then each thread has an instance of the state
// (DECODER_STATE), and decodes one stream at a time.
// The archive layer's DecodeEntry is the one caller that sets the state up
// for a stream (source, budget, sink) and reads the outcome (result,
// InputFailed, RunningCrc, what reached the sink and whether it took it).
// The decoder never ends the process: a failed read and output that the
// sink refuses are results, and the caller decides.
#pragma once

#include <stdint.h>

#include "../platform/platform.h"

#ifdef BREVANT_DECODER_PER_THREAD
#define DECODER_STATE thread_local
#else
#define DECODER_STATE
#endif

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
extern DECODER_STATE uint8_t *OutputWindow;    // WINDOW_SIZE bytes
extern DECODER_STATE uint8_t *InputBuffer;     // INPUT_SIZE bytes

extern DECODER_STATE uint32_t InputBudget;     // bytes the current stream may still take, plus one
// A stream of known size gets InputBudget = its size + BUDGET_SLACK: room for
// the one byte a valid stream may look past its end, and then some.
#define BUDGET_SLACK 4u
extern DECODER_STATE uint32_t RunningCrc;      // starts at 0xFFFFFFFF for every stream

// Where the compressed bytes come from: Read takes up to count bytes from
// where the source stands, and returns how many it took; 0 at its end or on
// a failure.
struct InputSource {
    uint32_t (*Read)(const InputSource *source, uint8_t *buffer, uint32_t count);
};

// Where the decoded bytes go: every flush of the window hands them to Take,
// after they have gone into RunningCrc and Count. Take returns false when
// the sink can take nothing more: the stream then takes no further input
// byte (as if its budget were spent) and fails. Failed: some output did not
// reach its place; a sink that sets it and still returns true sees the rest
// of the stream. The archive layer (archive.h) has the file sources and the
// memory sink; extraction has the file sink (extract/progress.h).
struct OutputSink {
    bool (*Take)(OutputSink *sink, const uint8_t *bytes, uint32_t count);
    uint32_t Count;  // bytes handed to Take in this stream
    bool Failed;
};

// The current stream's source and sink.
extern DECODER_STATE const InputSource *StreamSource;
extern DECODER_STATE OutputSink *StreamSink;
// Set when a read of the source failed in this stream (its end, or an
// unusable file): the stream takes no byte after it, and fails.
extern DECODER_STATE bool InputFailed;

void MakeCrcTable();
uint32_t UpdateCrc(uint32_t crc, const uint8_t *bytes, uint16_t count);

// Decodes one raw deflate stream from StreamSource into StreamSink.
uint16_t InflateStream();
// Copies count stored bytes from StreamSource into StreamSink; INFLATE_OK, or
// INFLATE_BAD_DATA when a read failed (no flush after it).
uint16_t CopyStoredEntry(uint32_t count);
// Whole bytes the bit input holds: taken from the image and charged to the
// budget, but not consumed by the stream. A stream has consumed the bytes
// charged to its budget less these.
uint32_t HeldInputBytes();
