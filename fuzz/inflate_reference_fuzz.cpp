// Arbitrary bytes inflated three ways: by the block decoder, by its build
// with the 32-bit bit word of the Win32 stub (tests/host/inflate_word32.h),
// and by the reference inflater of tests/host/inflate_reference.h. All three
// must give the same result, output, CRC and spent budget, and leave the
// image at the same position (the same reads), under a budget and a start
// offset that the input chooses.
//
// Input: byte 0 picks the budget (0: unlimited; else the stream's size plus
// 1 to 8, or a budget inside the stream), byte 1 the stream's offset in the
// image (0 to 255 bytes of filler before it, which moves the edges of the
// reads), the rest is the stream. The image goes on after it with
// bytes that byte 0 also picks, or ends there.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <vector>

#include "archive/archive.h"
#include "inflate_reference.h"
#include "inflate_word32.h"
#include "host_testing.h"
#include "fuzz_setup.h"

#define SINK_SIZE (1u << 20)

static int ImageFd = -1;
static std::vector<uint8_t> Sink(SINK_SIZE);

static void Setup() { ImageFd = SetUpFuzzImage(); }

struct Seen {
    bool readFailed;
    bool sinkFailed;
    uint16_t result;
    bool spent;
    uint32_t crc;
    off_t imageEnd;
    std::vector<uint8_t> output;
};

static Seen Observe(uint16_t (*inflate)(), unsigned skip, uint32_t budget)
{
    lseek(ImageFd, skip, SEEK_SET);
    ImageFile = (FileHandle)(intptr_t)ImageFd;
    for (unsigned i = 0; i < WINDOW_SIZE; i++)
        Window[i] = inflate_reference::Window[i] = (uint8_t)(i * 7);  // what earlier streams left
    HostResetBoxes();
    MemorySink sink;
    MakeMemorySink(&sink, Sink.data(), SINK_SIZE);
    StreamSource = &ImageSource;
    StreamSink = &sink;
    InputBudget = budget;
    Seen seen;
    seen.result = inflate();
    seen.readFailed = inflate == inflate_reference::Inflate ? inflate_reference::failed : InputFailed;
    seen.sinkFailed = sink.Failed;  // more output than the sink holds
    seen.spent = InputBudget == 0;  // only a refused byte leaves it at zero
    seen.crc = RunningCrc;
    seen.imageEnd = lseek(ImageFd, 0, SEEK_CUR);
    seen.output.assign(Sink.data(), sink.Next);
    StreamSink = nullptr;
    if (!HostBoxes.empty())
        abort();  // the decoder shows nothing
    return seen;
}

static bool Same(const Seen &a, const Seen &b)
{
    return a.readFailed == b.readFailed && a.sinkFailed == b.sinkFailed && a.result == b.result && a.spent == b.spent && a.crc == b.crc &&
           a.imageEnd == b.imageEnd && a.output == b.output;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (ImageFd < 0)
        Setup();
    if (size < 2)
        return 0;
    unsigned mode = data[0];
    unsigned skip = data[1];
    data += 2;
    size -= 2;

    std::vector<uint8_t> image(skip, 0xA5);
    image.insert(image.end(), data, data + size);
    if (mode & 0x80)
        image.insert(image.end(), 2 * INPUT_SIZE, (uint8_t)(mode & 0x40 ? 0xFF : 0x00));
    if (ftruncate(ImageFd, 0) != 0 ||
        pwrite(ImageFd, image.data(), image.size(), 0) != (ssize_t)image.size())
        abort();

    uint32_t budget;
    if ((mode & 0x3F) == 0)
        budget = 0;
    else if (mode & 0x20)
        budget = (uint32_t)size + 1 + (mode & 7);
    else
        budget = 1 + (uint32_t)((size * (mode & 0x1F)) / 32);

    Seen ref = Observe(inflate_reference::Inflate, skip, budget);
    Seen wide = Observe(InflateStream, skip, budget);
    Seen narrow = Observe(InflateStreamWord32, skip, budget);
    if (!Same(ref, wide) || !Same(ref, narrow))
        abort();  // the decoder and the reference part ways
    return 0;
}
