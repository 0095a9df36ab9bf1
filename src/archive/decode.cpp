// One entry's data through the decoder: the one place where the decoder's
// global contract is kept. In: the source, the input budget, the sink. Out:
// the decoder's result, whether a read failed, RunningCrc, how much reached
// the sink and whether the sink took it. With the file sources and the
// memory sink.
#include "archive.h"

static uint32_t ReadFile(const InputSource *source, uint8_t *buffer, uint32_t count)
{
    return ReadBytes(((const FileSource *)source)->File, buffer, count);
}

static uint32_t ReadImage(const InputSource *, uint8_t *buffer, uint32_t count)
{
    return ReadBytes(ImageFile, buffer, count);
}

// Constant, so that the stub keeps no initialised writable data.
const InputSource ImageSource = {ReadImage};

void MakeFileSource(FileSource *source, FileHandle file)
{
    source->Read = ReadFile;
    source->File = file;
}

bool TakeIntoMemory(OutputSink *sink, const uint8_t *bytes, uint32_t count)
{
    MemorySink *memory = (MemorySink *)sink;
    if (sink->Failed || count > (uintptr_t)(memory->End - memory->Next)) {
        sink->Failed = true;
        return false;  // more output than the block holds
    }
    CopyBytes(memory->Next, bytes, count);
    memory->Next += count;
    return true;
}

uint32_t EntryBudget(const LocalHeader *header)
{
    uint32_t size = header->CompressedSize;
    return size > 0xFFFFFFFFu - BUDGET_SLACK ? 0xFFFFFFFFu : size + BUDGET_SLACK;
}

DecodeResult DecodeEntry(const LocalHeader *header, uint32_t budget, const InputSource *source,
                         OutputSink *sink)
{
    InputBudget = budget;
    StreamSource = source;
    StreamSink = sink;

    uint16_t result;
    bool sizesAgree = true;
    if (header->Method == 0) {
        // Stored bytes are their own size: a header that claims more output
        // than it holds bytes is damaged, and copying the claimed size would
        // fill the disk with up to 4 GiB of zeros.
        uint32_t count = header->UncompressedSize;
        sizesAgree = count == header->CompressedSize;
        if (count > header->CompressedSize)
            count = header->CompressedSize;
        result = CopyStoredEntry(count);
    } else {
        result = InflateStream();
        // A stream of known size ends where its data ends. One cut short
        // would otherwise pass whenever the next header's bytes happen to
        // complete it.
        if (result == INFLATE_OK && budget != 0 &&
            budget - InputBudget - HeldInputBytes() != header->CompressedSize)
            result = INFLATE_BAD_DATA;
    }
    // A read that fails ends the run at once, whatever else went wrong; a
    // full disk is what the user can mend: it is named before the data.
    if (InputFailed)
        return DECODE_READ_ERROR;
    if (sink->Failed)
        return DECODE_WRITE_FAILED;
    if (result != INFLATE_OK)
        return DECODE_BAD_DATA;
    if (!sizesAgree || sink->Count != header->UncompressedSize)
        return DECODE_SHORT;
    if (RunningCrc != ~header->Crc32)
        return DECODE_CRC_MISMATCH;
    return DECODE_OK;
}
