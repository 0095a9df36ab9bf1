// Arbitrary bytes as the image, inflated into memory or into a file under the
// entry budget: no crash, no undefined behaviour, no table left allocated, no
// byte taken past the budget, and where zlib decodes the same bytes, the same
// result (a refusal of ours is a finding unless it is one by design), the same
// output and CRC, and the stream ending at the same byte.
//
// The first input byte picks the sink (bit 0); the rest is the stream. The image is
// the stream followed by a few bytes, as in an archive, so the budget and not
// the end of the file ends a runaway stream.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <vector>

#include "archive/archive.h"
#include "extract/progress.h"
#include "inflate/inflate_internal.h"
#include "host_testing.h"
#include "fuzz_setup.h"

#define SINK_SIZE (1u << 20)

// The decoding tables' builds pass through here (the target links with
// --wrap): a literal/length code of one single one-bit code, which zlib takes
// and ours refuses as incomplete, by design, is noted. The lengths are looked
// at here, not the builder's result alone, so that a builder that refused a
// usable code would still be found.
extern "C" uint16_t __real__Z14BuildCodeTablePKtttS0_PKhPP9CodeEntryPt(
    const uint16_t *lengths, uint16_t count, uint16_t simpleCount, const uint16_t *baseTable,
    const uint8_t *extraTable, CodeEntry **rootOut, uint16_t *widthInOut);
static bool SingleOneBitLiteralCode;

extern "C" uint16_t __wrap__Z14BuildCodeTablePKtttS0_PKhPP9CodeEntryPt(
    const uint16_t *lengths, uint16_t count, uint16_t simpleCount, const uint16_t *baseTable,
    const uint8_t *extraTable, CodeEntry **rootOut, uint16_t *widthInOut)
{
    uint16_t result = __real__Z14BuildCodeTablePKtttS0_PKhPP9CodeEntryPt(
        lengths, count, simpleCount, baseTable, extraTable, rootOut, widthInOut);
    if (simpleCount == 257 && result == INFLATE_BAD_DATA) {
        unsigned codes = 0, longest = 0;
        for (unsigned s = 0; s < count; s++) {
            codes += lengths[s] != 0;
            longest = lengths[s] > longest ? lengths[s] : longest;
        }
        if (codes == 1 && longest == 1)
            SingleOneBitLiteralCode = true;
    }
    return result;
}

static int ImageFd = -1;
static int NullFd = -1;
static std::vector<uint8_t> Sink(SINK_SIZE);
static std::vector<uint8_t> Expected(SINK_SIZE + 1);

static void Setup()
{
    ImageFd = SetUpFuzzImage();
    NullFd = open("/dev/null", O_WRONLY);
    if (NullFd < 0)
        abort();
}

// zlib's raw inflate of the same bytes: the output length, or -1 when zlib
// does not reach the stream's end within the sink's size. *used: the bytes
// the stream takes up (zlib holds no whole byte it has not consumed).
static long ZlibReference(const uint8_t *data, size_t size, size_t *used)
{
    z_stream z = {};
    if (inflateInit2(&z, -15) != Z_OK)
        abort();
    z.next_in = const_cast<uint8_t *>(data);
    z.avail_in = (uInt)size;
    z.next_out = Expected.data();
    z.avail_out = (uInt)Expected.size();
    int rc = inflate(&z, Z_FINISH);
    long n = rc == Z_STREAM_END && z.total_out <= SINK_SIZE ? (long)z.total_out : -1;
    *used = z.total_in;
    inflateEnd(&z);
    return n;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (ImageFd < 0)
        Setup();
    if (size < 1)
        return 0;
    bool toMemory = data[0] & 1;
    data++;
    size--;

    static const uint8_t tail[4] = {0x50, 0x4B, 0x01, 0x02};
    if (ftruncate(ImageFd, 0) != 0 || pwrite(ImageFd, data, size, 0) != (ssize_t)size ||
        pwrite(ImageFd, tail, sizeof tail, (off_t)size) != (ssize_t)sizeof tail)
        abort();
    lseek(ImageFd, 0, SEEK_SET);
    ImageFile = (FileHandle)(intptr_t)ImageFd;
    memset(Window, 0, sizeof Window);  // deterministic far back-references
    HostResetBoxes();

    long live = HostLiveBlocks;
    uint32_t budget = (uint32_t)size + 4;
    InputBudget = budget;
    SingleOneBitLiteralCode = false;
    MemorySink memory;
    MakeMemorySink(&memory, Sink.data(), SINK_SIZE);
    FileSink file;
    MakeFileSink(&file, (FileHandle)(intptr_t)NullFd);
    StreamSource = &ImageSource;
    StreamSink = toMemory ? (OutputSink *)&memory : &file;
    uint16_t result = InflateStream();
    size_t produced = toMemory ? (size_t)(memory.Next - Sink.data()) : 0;
    bool overflow = StreamSink->Failed;
    StreamSink = nullptr;

    if (result > INFLATE_NO_MEMORY)
        abort();  // not a result code
    if (HostLiveBlocks != live)
        abort();  // a decoding table was not freed
    if (InputBudget > budget)
        abort();  // the budget wrapped: bytes were taken past it
    if (InputFailed || !HostBoxes.empty())
        abort();  // the image never ends first, and the decoder shows nothing
    if (overflow) {
        // Only the memory sink can refuse output, and only more than it holds.
        if (!toMemory || result == INFLATE_OK || produced > SINK_SIZE)
            abort();
        return 0;
    }

    size_t used = 0;
    long reference = ZlibReference(data, size, &used);
    if (reference >= 0) {
        // zlib reads the stream: so must we, identically. The two differ only
        // in which odd code sets they accept: zlib also takes a literal/length
        // code of one single one-bit code, we also take incomplete distance
        // codes and a leading repeat of zeros. Any other refusal is wrong.
        if (result != INFLATE_OK) {
            if (SingleOneBitLiteralCode && result == INFLATE_BAD_DATA)
                return 0;
            abort();  // a stream that zlib decodes, refused
        }
        if (budget - InputBudget - HeldInputBytes() != used)
            abort();  // the stream ended at another byte than zlib's
        if (toMemory &&
            (produced != (size_t)reference || memcmp(Sink.data(), Expected.data(), produced) != 0))
            abort();
        uint32_t crc = (uint32_t)crc32(0, Expected.data(), (uInt)reference);
        if (RunningCrc != ~crc)
            abort();
    }
    return 0;
}
