// Arbitrary bytes as a whole image, extracted below a scratch drive root:
// whatever the entries' names and data, nothing is created, changed or
// deleted outside the destination folder, and the run neither crashes nor
// hangs. A run that ends without a fatal report and without a failed entry
// (exit code 0) has written every file entry of the archive whole. Every
// prompt takes its default answer (Yes, OK).
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "archive/names.h"
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

static uint32_t Le(const uint8_t *p, int bytes)
{
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; i--)
        v = v << 8 | p[i];
    return v;
}

// The archive's file entries as the image holds them, walked from the first
// "PK\3\4" on its own: by the host path each lands on, the last entry's size
// and CRC-32.
static std::map<fs::path, std::pair<uint32_t, uint32_t>> FileEntries(const uint8_t *data,
                                                                    size_t size)
{
    std::map<fs::path, std::pair<uint32_t, uint32_t>> files;
    size_t at = 0;
    while (at + 4 <= size && at < 60000 && memcmp(data + at, "PK\3\4", 4) != 0)
        at++;
    while (at + 30 <= size && memcmp(data + at, "PK\3\4", 4) == 0) {
        const uint8_t *h = data + at;
        size_t nameLength = Le(h + 26, 2);
        if (at + 30 + nameLength > size)
            break;
        // The name as the platform decodes it (UTF-8 with bit 11, else the
        // code page); one that does not decode is refused, never written.
        std::string bytes((const char *)h + 30, nameLength);
        std::vector<char16_t> wide(nameLength + 1);
        DecodeStored(bytes.c_str(), (uint32_t)nameLength, (Le(h + 6, 2) & ZIP_FLAG_UTF8) != 0, false,
                     wide.data());
        std::string name = HostUtf8(wide.data());
        if (!name.empty() && name.back() != '/') {
            std::string windows = "C:\\dest\\" + name;
            for (char &c : windows)
                if (c == '/')
                    c = '\\';
            files[fs::path(HostPath(windows.c_str())).lexically_normal()] = {Le(h + 22, 4),
                                                                             Le(h + 14, 4)};
        }
        at += 30 + nameLength + Le(h + 28, 2) + (size_t)Le(h + 18, 4);
    }
    return files;
}

// Exactly the archive's files, each whole, and nothing else.
static void CheckEveryFileWritten(const uint8_t *data, size_t size)
{
    auto files = FileEntries(data, size);
    for (const auto &[path, expected] : files) {
        std::ifstream in(path, std::ios::binary);
        std::string content((std::istreambuf_iterator<char>(in)), {});
        uint32_t crc = (uint32_t)crc32(0, (const Bytef *)content.data(), (uInt)content.size());
        if (!in.is_open() || content.size() != expected.first || crc != expected.second)
            abort();  // exit code 0, yet this file is missing or not what the archive holds
    }
    for (auto &item : fs::recursive_directory_iterator(Root / "C" / "dest"))
        if (!item.is_directory() && !files.count(item.path().lexically_normal()))
            abort();  // a file no entry names
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

    char16_t destination[PATH_CHARS] = u"C:\\dest";
    try {
        ExtractAll(destination, 0);
        if (!ExtractionIncomplete)
            CheckEveryFileWritten(data, size);
    } catch (const HostExit &) {
        // A read past the image's end, or a walk that does not reach the
        // central directory: the stub would end here.
    }
    CurrentName = nullptr;
    CheckNothingEscaped();
    return 0;
}
