// Bit input: bytes from the input source through InputBuffer, handed out bit
// by bit, least significant bit first, under the stream's byte budget.
//
// Format notes: the budget.
//   An archive entry's stream may take at most CompressedSize + 3 bytes: the
//   caller sets InputBudget to CompressedSize + 4, and every byte costs one
//   unit, charged before the byte is taken. The charge lowers the budget by
//   one modulo 2^32; a result of zero refuses the byte. Set to B, the budget
//   therefore allows B - 1 bytes, and the budget of zero left at start-up
//   allows 2^32 - 1, which is how the configuration stream runs unlimited.
//   A valid stream looks at most one byte past its end, so it is never
//   refused. After a refusal the stream has spent its budget: no later fill
//   takes a byte (InputSpent), the missing bits read as zero, and the block
//   decoder fails the stream rather than decode zeros for ever. Stored
//   entries are bounded by their size and simply receive zeros.
//   A read that yields nothing (the source's end, or a failure) spends the
//   budget the same way and sets InputFailed; a stored copy stops there,
//   and nothing more is flushed.
//   The slack is for looking ahead, not for data: a stream of known size
//   must end where its data ends, which the caller checks afterwards from
//   the budget spent less the whole bytes still held (HeldInputBytes).
#include "inflate_internal.h"

DECODER_STATE uint8_t *InputBuffer;
DECODER_STATE const InputSource *StreamSource;
DECODER_STATE bool InputFailed;
DECODER_STATE uint32_t InputBudget;
DECODER_STATE uint32_t BitBuffer;
DECODER_STATE uint16_t BitCount;
DECODER_STATE const uint8_t *InputNext;
DECODER_STATE uint32_t InputLeft;
DECODER_STATE bool InputSpent;


// Charges the budget for one byte; false when it refuses the byte.
static bool ChargeByte()
{
    if (InputSpent)
        return false;
    if (--InputBudget == 0) {
        InputSpent = true;
        return false;
    }
    return true;
}

// Reads on from where the image stands: as much as the buffer holds, but no
// byte that the budget (already charged for the first of them) would refuse.
// One read of up to 32 KiB per window, and a small entry's data in one read
// of its own size: each read costs a system call, and under Wine a round
// trip to its server.
// False when the read yields nothing: the end of the source, or an unusable
// file.
static bool ReadInput()
{
    uint32_t wanted = InputBudget < INPUT_SIZE ? InputBudget : INPUT_SIZE;
    InputLeft = StreamSource->Read(StreamSource, InputBuffer, wanted);
    InputNext = InputBuffer;
    if (InputLeft == 0) {
        InputFailed = true;
        InputSpent = true;
        return false;
    }
    return true;
}

void FillBits(unsigned n)
{
    while (BitCount < n) {
        if (!ChargeByte())
            return;
        if (InputLeft == 0 && !ReadInput())
            return;
        BitBuffer |= (uint32_t)*InputNext++ << BitCount;
        InputLeft--;
        BitCount += 8;
    }
}

uint32_t SafeInputBytes()
{
    if (InputSpent)
        return 0;
    uint32_t allowed = InputBudget - 1;  // the charge that reaches zero is refused
    return allowed < InputLeft ? allowed : InputLeft;
}

void SkipInputBytes(uint32_t count)
{
    InputNext += count;
    InputLeft -= count;
    InputBudget -= count;
}

uint32_t HeldInputBytes() { return BitCount / 8u; }

void ResetInput()
{
    BitCount = 0;
    BitBuffer = 0;
    InputLeft = 0;
    InputSpent = false;
    InputFailed = false;
}
