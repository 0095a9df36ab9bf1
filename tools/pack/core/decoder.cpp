// The stub's own decoder run over the packer's streams, in memory and in the
// written image, exactly as the stub runs it.
#include <string.h>

#include <algorithm>

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
    return n;
}

// Output that is counted and checked, and goes nowhere.
bool Discard(OutputSink *, const uint8_t *, uint32_t) { return true; }

}  // namespace

void PrepareStubDecoder()
{
    static bool ready;
    if (ready)
        return;
    MakeCrcTable();
    if (!OutputWindow)
        OutputWindow = (uint8_t *)HeapAllocZeroed(WINDOW_SIZE);  // as the stub has it
    if (!InputBuffer)
        InputBuffer = (uint8_t *)HeapAllocBlock(INPUT_SIZE);
    ready = true;
}

DecodeResult DecodeInMemory(const uint8_t *bytes, size_t available, uint32_t budget, const LocalHeader &header,
                            uint8_t *out)
{
    PrepareStubDecoder();
    MemorySource source;
    source.Read = ReadMemory;
    source.next = bytes;
    source.left = (uint32_t)std::min<size_t>(available, 0xFFFFFFFFu);
    MemorySink sink;
    MakeMemorySink(&sink, out, header.UncompressedSize);
    return DecodeEntry(&header, budget, &source, &sink);
}

bool StubDecodes(const Bytes &stream, const Bytes &data)
{
    Bytes image(stream);
    image.resize(image.size() + kSlack, 0);
    Bytes out(data.size() + 1);
    LocalHeader header = {};
    header.Method = 8;
    header.Crc32 = (uint32_t)crc32(0, data.data(), (uInt)data.size());
    header.CompressedSize = (uint32_t)stream.size();
    header.UncompressedSize = (uint32_t)data.size();
    return DecodeInMemory(image.data(), image.size(), header.CompressedSize + BUDGET_SLACK, header, out.data()) ==
               DECODE_OK &&
           memcmp(out.data(), data.data(), data.size()) == 0;
}

DecodeResult DecodeInPlace(FileHandle file, uint32_t dataAt, const LocalHeader &header)
{
    PrepareStubDecoder();
    FileSource source;
    MakeFileSource(&source, file);
    OutputSink sink = {Discard, 0, false};
    SeekTo(file, dataAt);
    return DecodeEntry(&header, EntryBudget(&header), &source, &sink);
}

}  // namespace pack
