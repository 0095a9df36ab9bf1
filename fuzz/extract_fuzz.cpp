// Arbitrary bytes as a whole image, extracted below a scratch drive root:
// whatever the entries' names and data, nothing is created, changed or
// deleted outside the destination folder, and the run neither crashes nor
// hangs. Nothing is written from an archive whose central directory does not
// hold (read here on its own), and a run that ends without a fatal report and
// without a failed entry (exit code 0) has written exactly the directory's
// file entries, each whole. Every prompt takes its default answer (Yes, OK).
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

#include "archive/archive.h"
#include "archive/names.h"
#include "extract/extract.h"
#include "extract/progress.h"
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

// Where the archive ends, as the stub finds it: where a certificate table
// that lies within the image begins (after up to 7 bytes of padding), else
// at the image's end.
static void ArchiveEnd(const uint8_t *data, size_t size, size_t *end, size_t *padding)
{
    *end = size;
    *padding = 0;
    size_t count = size < 512 ? size : 512;
    if (HeadersEnd(data, (uint32_t)count) == 0)
        return;
    size_t optional = Le(data + 0x3C, 4) + 24;
    size_t directories = optional + (Le(data + optional, 2) == 0x20B ? 112 : 96);
    if (directories + 40 > count || Le(data + directories - 4, 4) < 5)
        return;
    size_t at = Le(data + directories + 32, 4), length = Le(data + directories + 36, 4);
    if (length != 0 && at <= size && length <= size - at) {
        *end = at;
        *padding = 7;
    }
}

// The archive's file entries as its central directory lists them, read on
// its own: by the host path each lands on, the last entry's size and CRC-32.
// False when no end record ends the archive or its records cannot be read.
static bool DirectoryEntries(const uint8_t *data, size_t size,
                             std::map<fs::path, std::pair<uint32_t, uint32_t>> *files)
{
    size_t first = 0;
    while (first + 4 <= size && first < 60000 && memcmp(data + first, "PK\3\4", 4) != 0)
        first++;
    size_t end, padding;
    ArchiveEnd(data, size, &end, &padding);
    if (first + 4 > size || first >= 60000 || end < first + 22)
        return false;
    size_t record = end - 22 + 1;
    do {
        if (record-- == first || end - record > 22 + 65535 + 7)
            return false;
    } while (memcmp(data + record, "PK\5\6", 4) != 0 || end - record - 22 < Le(data + record + 20, 2) ||
             end - record - 22 - Le(data + record + 20, 2) > padding);
    size_t count = Le(data + record + 10, 2), length = Le(data + record + 12, 4);
    if (length > record)
        return false;
    for (size_t at = record - length; count > 0; count--) {
        const uint8_t *r = data + at;
        if (at + 46 > record || memcmp(r, "PK\1\2", 4) != 0)
            return false;
        size_t nameLength = Le(r + 28, 2);
        if (at + 46 + nameLength > record)
            return false;
        // The name as the platform decodes it (UTF-8 with bit 11, else the
        // code page); one that does not decode is refused, never written.
        std::string bytes((const char *)r + 46, nameLength);
        std::vector<char16_t> wide(nameLength + 1);
        DecodeStored(bytes.c_str(), (uint32_t)nameLength, (Le(r + 8, 2) & ZIP_FLAG_UTF8) != 0, false,
                     wide.data());
        std::string name = HostUtf8(wide.data());
        if (!name.empty() && name.back() != '/') {
            std::string windows = "C:\\dest\\" + name;
            for (char &c : windows)
                if (c == '/')
                    c = '\\';
            (*files)[fs::path(HostPath(windows.c_str())).lexically_normal()] = {Le(r + 24, 4), Le(r + 16, 4)};
        }
        at += 46 + nameLength + Le(r + 30, 2) + Le(r + 32, 2);
    }
    return true;
}

// The files below the destination.
static std::vector<fs::path> Written()
{
    std::vector<fs::path> files;
    for (auto &item : fs::recursive_directory_iterator(Root / "C" / "dest"))
        if (!item.is_directory())
            files.push_back(item.path().lexically_normal());
    return files;
}

// Exactly the directory's files, each whole, and nothing else.
static void CheckEveryFileWritten(const std::map<fs::path, std::pair<uint32_t, uint32_t>> &files)
{
    for (const auto &[path, expected] : files) {
        std::ifstream in(path, std::ios::binary);
        std::string content((std::istreambuf_iterator<char>(in)), {});
        uint32_t crc = (uint32_t)crc32(0, (const Bytef *)content.data(), (uInt)content.size());
        if (!in.is_open() || content.size() != expected.first || crc != expected.second)
            abort();  // exit code 0, yet this file is missing or not what the directory says
    }
    for (const fs::path &path : Written())
        if (!files.count(path))
            abort();  // a file no record names
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (ImageFd < 0)
        Setup();
    LoadFuzzImage(ImageFd, data, size);
    HostDoubleByte = size > 0 && (data[size - 1] & 1);
    fs::remove_all(Root / "C" / "dest");

    // As start-up and the dialog run them: the check, then the extraction.
    // Whatever the stub writes, the archive's own directory must vouch for.
    std::map<fs::path, std::pair<uint32_t, uint32_t>> files;
    bool listed = DirectoryEntries(data, size, &files);
    char16_t destination[PATH_CHARS] = u"C:\\dest";
    fs::create_directories(Root / "C" / "dest");
    try {
        CheckImageArchive();
        ExtractAll(destination, 0);
        if (!ExtractionIncomplete)
            CheckEveryFileWritten(files);
    } catch (const HostExit &) {
        // A read past the image's end, or a walk that does not reach the
        // central directory: the stub would end here.
    }
    CurrentName = nullptr;
    if (!listed && !Written().empty())
        abort();  // written from an archive whose directory does not hold
    CheckNothingEscaped();
    return 0;
}
