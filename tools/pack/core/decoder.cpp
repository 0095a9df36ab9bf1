// The stub's own decoder run over the packer's streams, in memory and in the
// written image, exactly as the stub runs it.
#include <string.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include <zlib.h>

#include "core/core.h"

namespace pack {


namespace {

// A stream in memory as it stands in an image: the next entry follows it,
// and the decoder may look a byte or so past its end, so a few zeros follow.
constexpr size_t kSlack = 8;

struct MemorySource : InputSource {
    const uint8_t *next;
    uint32_t left;
    uint32_t zeros;  // then as many zero bytes
};

// The decoder hands its source back as given: a MemorySource of the caller's,
// which moves on as it is read.
uint32_t ReadMemory(const InputSource *source, uint8_t *buffer, uint32_t count)
{
    MemorySource *memory = (MemorySource *)source;
    uint32_t n = std::min(count, memory->left);
    memcpy(buffer, memory->next, n);
    memory->next += n;
    memory->left -= n;
    uint32_t zeros = std::min(count - n, memory->zeros);
    memset(buffer + n, 0, zeros);
    memory->zeros -= zeros;
    return n + zeros;
}

// Output that is counted and checked, and goes nowhere.
bool Discard(OutputSink *, const uint8_t *, uint32_t) { return true; }

// Output compared as it comes with what it must be, byte for byte.
struct CompareSink : OutputSink {
    const uint8_t *next;
    const uint8_t *end;
};

bool Compare(OutputSink *sink, const uint8_t *bytes, uint32_t count)
{
    CompareSink *expected = (CompareSink *)sink;
    if (sink->Failed || count > (size_t)(expected->end - expected->next) ||
        memcmp(expected->next, bytes, count) != 0) {
        sink->Failed = true;
        return false;
    }
    expected->next += count;
    return true;
}

// The CRC table, made once for every thread; the window and the input
// buffer are each thread's.
std::once_flag TablesMade;

// Windows and input buffers lent to threads that have none of their own
// (the workers), kept for the next stream until the program ends: not
// freed as a thread ends, for the reason the compressors are not.
std::mutex BuffersLock;
std::vector<std::pair<uint8_t *, uint8_t *>> SpareBuffers;

// The decoder ready for a stream on the calling thread, for as long as it
// lives.
class DecoderAtHand {
public:
    DecoderAtHand()
    {
        std::call_once(TablesMade, MakeCrcTable);
        if (OutputWindow)
            return;  // the thread's own (PrepareStubDecoder)
        std::lock_guard<std::mutex> hold(BuffersLock);
        if (!SpareBuffers.empty()) {
            OutputWindow = SpareBuffers.back().first;
            InputBuffer = SpareBuffers.back().second;
            SpareBuffers.pop_back();
        } else {
            OutputWindow = (uint8_t *)HeapAllocZeroed(WINDOW_SIZE);  // as the stub has it
            InputBuffer = (uint8_t *)HeapAllocBlock(INPUT_SIZE);
            if (!OutputWindow || !InputBuffer) {
                HeapFreeBlock(OutputWindow);
                HeapFreeBlock(InputBuffer);
                OutputWindow = InputBuffer = nullptr;
                throw PackError("out of memory for the stub's decoder");
            }
        }
        lent_ = true;
    }
    ~DecoderAtHand()
    {
        if (!lent_)
            return;
        std::lock_guard<std::mutex> hold(BuffersLock);
        SpareBuffers.emplace_back(OutputWindow, InputBuffer);
        OutputWindow = InputBuffer = nullptr;
    }
    DecoderAtHand(const DecoderAtHand &) = delete;
    DecoderAtHand &operator=(const DecoderAtHand &) = delete;

private:
    bool lent_ = false;
};

}  // namespace

void PrepareStubDecoder()
{
    std::call_once(TablesMade, MakeCrcTable);
    if (!OutputWindow)
        OutputWindow = (uint8_t *)HeapAllocZeroed(WINDOW_SIZE);  // as the stub has it
    if (!InputBuffer)
        InputBuffer = (uint8_t *)HeapAllocBlock(INPUT_SIZE);
}

DecodeResult DecodeInMemory(const uint8_t *bytes, size_t available, uint32_t budget, const LocalHeader &header,
                            uint8_t *out)
{
    DecoderAtHand decoder;
    MemorySource source;
    source.Read = ReadMemory;
    source.next = bytes;
    source.left = (uint32_t)std::min<size_t>(available, 0xFFFFFFFFu);
    source.zeros = 0;
    MemorySink sink;
    MakeMemorySink(&sink, out, header.UncompressedSize);
    return DecodeEntry(&header, budget, &source, &sink);
}

bool StubDecodes(const Bytes &stream, const Bytes &data, uint32_t crc)
{
    if (stream.size() > 0xFFFFFFFFu - kSlack || data.size() > 0xFFFFFFFFu)
        return false;
    DecoderAtHand decoder;
    MemorySource source;
    source.Read = ReadMemory;
    source.next = stream.data();
    source.left = (uint32_t)stream.size();
    source.zeros = kSlack;
    CompareSink sink;
    sink.Take = Compare;
    sink.Count = 0;
    sink.Failed = false;
    sink.next = data.data();
    sink.end = data.data() + data.size();
    LocalHeader header = {};
    header.Method = 8;
    header.Crc32 = crc;
    header.CompressedSize = (uint32_t)stream.size();
    header.UncompressedSize = (uint32_t)data.size();
    return DecodeEntry(&header, EntryBudget(&header), &source, &sink) == DECODE_OK;
}

bool StubDecodes(const Bytes &stream, const Bytes &data)
{
    return StubDecodes(stream, data, (uint32_t)crc32(0, data.data(), (uInt)data.size()));
}

DecodeResult DecodeInPlace(FileHandle file, uint32_t dataAt, const LocalHeader &header)
{
    DecoderAtHand decoder;
    FileSource source;
    MakeFileSource(&source, file);
    OutputSink sink = {Discard, 0, false};
    SeekTo(file, dataAt);
    return DecodeEntry(&header, EntryBudget(&header), &source, &sink);
}

}  // namespace pack
