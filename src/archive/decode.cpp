// One entry's data through the decoder: the one place where the decoder's
// global contract is kept. In: the file position, the input budget, the sink
// (a memory block, or OutputFile). Out: the decoder's result, RunningCrc, how
// much reached the sink and whether a file write failed.
#include "archive.h"

#include "../inflate/inflate.h"

uint32_t EntryBudget(const LocalHeader *header)
{
    uint32_t size = header->CompressedSize;
    return size > 0xFFFFFFFFu - BUDGET_SLACK ? 0xFFFFFFFFu : size + BUDGET_SLACK;
}

DecodeResult DecodeEntry(const LocalHeader *header, uint32_t budget, uint8_t *memory)
{
    InputBudget = budget;
    MemorySinkNext = memory;
    MemorySinkEnd = memory ? memory + header->UncompressedSize : nullptr;
    uint32_t doneBefore = ProgressDone;

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
    uint32_t produced = memory ? (uint32_t)(MemorySinkNext - memory) : ProgressDone - doneBefore;
    MemorySinkNext = nullptr;
    MemorySinkEnd = nullptr;

    // A full disk is what the user can mend: it is named before the data.
    if (!memory && OutputWriteFailed)
        return DECODE_WRITE_FAILED;
    if (result != INFLATE_OK)
        return DECODE_BAD_DATA;
    if (!sizesAgree || produced != header->UncompressedSize)
        return DECODE_SHORT;
    if (RunningCrc != ~header->Crc32)
        return DECODE_CRC_MISMATCH;
    return DECODE_OK;
}
