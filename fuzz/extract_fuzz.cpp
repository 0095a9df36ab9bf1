// Arbitrary bytes as a whole image, extracted below a scratch drive root:
// whatever the entries' names and data, nothing is created, changed or
// deleted outside the destination folder, and the run neither crashes nor
// hangs. Every prompt takes its default answer (Yes, OK).
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "extract/extract.h"
#include "fuzz_setup.h"

namespace fs = std::filesystem;

extern "C" const char *__asan_default_options()
{
    return "max_allocation_size_mb=64:allocator_may_return_null=1:detect_leaks=0";
}

static int ImageFd = -1;
static fs::path Root;

static void Setup()
{
    ImageFd = SetUpFuzzImage();
    char name[] = "/tmp/brevant-extract-fuzz-XXXXXX";
    Root = mkdtemp(name);
    HostDriveRoot = Root.string();
    HostTempFolder = "C:\\temp\\";
    // Something outside the destination that an escaping name could hit.
    fs::create_directories(Root / "C" / "outside");
    FILE *f = fopen((Root / "C" / "outside" / "x").c_str(), "w");
    fputs("keep", f);
    fclose(f);
    atexit([] { fs::remove_all(Root); });
}

// Everything below the root must be the destination, what lies below it, or
// the untouched file outside.
static void CheckNothingEscaped()
{
    fs::path dest = Root / "C" / "dest";
    for (auto &item : fs::recursive_directory_iterator(Root)) {
        const fs::path &p = item.path();
        if (p == Root / "C" || p == Root / "C" / "outside" || p == Root / "C" / "outside" / "x")
            continue;
        auto [end, unused] = std::mismatch(dest.begin(), dest.end(), p.begin(), p.end());
        if (end != dest.end())
            abort();  // written outside the destination
    }
    if (fs::file_size(Root / "C" / "outside" / "x") != 4)
        abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (ImageFd < 0)
        Setup();
    if (ftruncate(ImageFd, 0) != 0 || pwrite(ImageFd, data, size, 0) != (ssize_t)size)
        abort();
    ImageFile = (FileHandle)(intptr_t)ImageFd;
    HostResetBoxes();
    HostDoubleByte = size > 0 && (data[size - 1] & 1);
    fs::remove_all(Root / "C" / "dest");

    char destination[PATH_CHARS] = "C:\\dest";
    try {
        ExtractAll(destination, 0);
    } catch (const HostExit &) {
        // A read past the image's end; the file being written stays open
        // in a process that would have ended.
        if (OutputFile != INVALID_FILE)
            CloseFile(OutputFile);
    }
    OutputFile = INVALID_FILE;
    CurrentName = nullptr;
    CheckNothingEscaped();
    return 0;
}
