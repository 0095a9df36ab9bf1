// Arbitrary bytes as a whole image: the configuration is found, inflated and
// checked, and the archive is checked against its directory. Whatever the
// bytes, no crash, no undefined behaviour and no endless walk; a
// configuration that ReadConfig accepts can be read in full (every string
// slot ends inside the block, and the icon slot lies inside it).
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include "archive/archive.h"
#include "archive/config.h"
#include "inflate/inflate.h"
#include "host_testing.h"
#include "fuzz_setup.h"

// A block of gigabytes, as a random Size asks for, would be refused by the
// Win32 heap; here it would only make every run slow. Large requests fail
// instead, which takes ReadConfig down its allocation-failure path. Blocks
// abandoned by a refusal belong to a process that would have ended.
extern "C" const char *__asan_default_options()
{
    return "max_allocation_size_mb=64:allocator_may_return_null=1:detect_leaks=0";
}

static int ImageFd = -1;

static void Setup() { ImageFd = SetUpFuzzImage(); }

// Reads every byte the rest of the program may read of an accepted block.
static void ReadAllOfTheConfiguration()
{
    volatile uint32_t sum = SfxConfig->Flags + SfxConfig->DestKind;
    for (int slot = 0; slot < CFG_ICON; slot++)
        sum = sum + (uint32_t)strlen(ConfigString(slot));
    const uint8_t *icon = (const uint8_t *)ConfigString(CFG_ICON);
    for (uint32_t i = SfxConfig->Offsets[CFG_ICON]; i < ConfigSize; i++)
        sum = sum + icon[i - SfxConfig->Offsets[CFG_ICON]];
    if (SfxConfig->DestKind == DEST_FIXED && strlen(ConfigString(CFG_FIXED_DIR)) >= PATH_CHARS)
        abort();  // a fixed destination must fit the path buffer
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (ImageFd < 0)
        Setup();
    LoadFuzzImage(ImageFd, data, size);

    SfxConfig = nullptr;
    InputBudget = 0;  // as at start-up: the configuration stream is not limited
    // Anything but CONFIG_OK: the stub would end here with its message.
    if (ReadConfig(ImageFile) == CONFIG_OK)
        ReadAllOfTheConfiguration();
    HeapFreeBlock(SfxConfig);
    SfxConfig = nullptr;

    ArchiveSummary archive;
    CheckArchive(ImageFile, &archive);
    return 0;
}
