// Inflater throughput against zlib (raw inflate plus its CRC-32) and
// libdeflate (decompress plus its CRC-32), on the same streams in the same
// run: MB/s of output, the ratios, and the decoder's heap peak.
//
// The corpus, about 100 MB, is built reproducibly: generated text with a
// fixed seed, C headers and shared libraries that Debian installs, and files
// Debian ships already compressed (the .gz files under /usr/share), each kind
// falling back to generated data where the files run out.
#include <dirent.h>
#include <fcntl.h>
#include <libdeflate.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "inflate/inflate.h"

typedef std::vector<uint8_t> Bytes;

// ---- Heap accounting of the decoder's tables --------------------------------
extern "C" void *__real__Z14HeapAllocBlockj(uint32_t size);
extern "C" void __real__Z13HeapFreeBlockPv(void *block);
static bool Tracking;
static size_t LiveBytes, PeakBytes;
static std::unordered_map<void *, size_t> BlockSizes;

extern "C" void *__wrap__Z14HeapAllocBlockj(uint32_t size)
{
    void *block = __real__Z14HeapAllocBlockj(size);
    if (Tracking && block) {
        BlockSizes[block] = size;
        LiveBytes += size;
        PeakBytes = std::max(PeakBytes, LiveBytes);
    }
    return block;
}

extern "C" void __wrap__Z13HeapFreeBlockPv(void *block)
{
    if (Tracking) {
        auto it = BlockSizes.find(block);
        if (it != BlockSizes.end()) {
            LiveBytes -= it->second;
            BlockSizes.erase(it);
        }
    }
    __real__Z13HeapFreeBlockPv(block);
}

// ---- Corpus -------------------------------------------------------------------
static Bytes MakeText(size_t size)
{
    static const char *words[] = {"the", "of", "and", "a", "to", "in", "is", "archive",
                                  "window", "program", "extract", "folder", "install",
                                  "which", "that", "with", "for", "as", "was", "on"};
    std::mt19937 rng(12345);
    Bytes out;
    while (out.size() < size) {
        unsigned a = rng() % 20;
        unsigned b = rng() % 20;  // two draws in a fixed order: the same text everywhere
        const char *w = words[std::min(a, b)];
        out.insert(out.end(), w, w + strlen(w));
        unsigned r = rng() % 100;
        out.push_back(r < 8 ? '\n' : r < 15 ? ',' : ' ');
        if (r == 99)
            out.push_back('0' + rng() % 10);
    }
    out.resize(size);
    return out;
}

static bool EndsWith(const std::string &name, const char *suffix)
{
    size_t n = strlen(suffix);
    return name.size() >= n && name.compare(name.size() - n, n, suffix) == 0;
}

// Regular files of dir (sorted, recursively; only names ending in suffix),
// appended until size is reached. Symbolic links are skipped.
static size_t FilesTaken;

static void AppendFiles(const std::string &dir, size_t size, Bytes &out, const char *suffix = "")
{
    DIR *d = opendir(dir.c_str());
    if (!d)
        return;
    std::vector<std::string> names;
    while (dirent *e = readdir(d))
        if (e->d_name[0] != '.')
            names.push_back(e->d_name);
    closedir(d);
    std::sort(names.begin(), names.end());
    for (const std::string &n : names) {
        if (out.size() >= size)
            return;
        std::string path = dir + "/" + n;
        int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0)
            continue;
        struct stat st;
        bool known = fstat(fd, &st) == 0;
        bool isDir = known && S_ISDIR(st.st_mode);
        bool isFile = known && S_ISREG(st.st_mode);
        if (isFile && EndsWith(n, suffix)) {
            FilesTaken++;
            uint8_t buf[65536];
            ssize_t got;
            while ((got = read(fd, buf, sizeof buf)) > 0 && out.size() < size)
                out.insert(out.end(), buf, buf + got);
        }
        close(fd);
        if (isDir)
            AppendFiles(path, size, out, suffix);
    }
}

static Bytes FilesOr(const char *dir, size_t size, Bytes (*fallback)(size_t),
                     const char *suffix = "")
{
    Bytes out;
    FilesTaken = 0;
    AppendFiles(dir, size, out, suffix);
    if (out.size() < size) {
        Bytes more = fallback(size - out.size());
        out.insert(out.end(), more.begin(), more.end());
    }
    out.resize(size);
    return out;
}

static Bytes MakeBinaryLike(size_t size)
{
    std::mt19937 rng(777);
    Bytes out;
    while (out.size() < size) {
        if (rng() % 3 == 0 && out.size() > 1000) {
            size_t from = out.size() - 1 - rng() % 1000;
            for (size_t i = 0, n = 4 + rng() % 30; i < n; i++)
                out.push_back(out[from + i]);
        } else {
            out.push_back((uint8_t)(rng() % 7 == 0 ? rng() : rng() % 16));
        }
    }
    return out;
}

static Bytes RawDeflate(const Bytes &data, int level)
{
    z_stream z = {};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    Bytes out(deflateBound(&z, (uLong)data.size()));
    z.next_in = const_cast<uint8_t *>(data.data());
    z.avail_in = (uInt)data.size();
    z.next_out = out.data();
    z.avail_out = (uInt)out.size();
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

static Bytes AlreadyCompressed(size_t size)
{
    // Deflate output of a varied input: nearly incompressible, like a JPEG
    // or a nested archive.
    Bytes src = MakeBinaryLike(size * 3);
    Bytes text = MakeText(size * 2);
    src.insert(src.end(), text.begin(), text.end());
    Bytes out = RawDeflate(src, 1);
    out.resize(std::min(out.size(), size));
    return out;
}

// ---- Decoders -----------------------------------------------------------------
static double Now()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

static int ImageFd;
static Bytes Sink;

static uint32_t Ours(const Bytes &stream, size_t outSize)
{
    lseek(ImageFd, 0, SEEK_SET);
    MemorySinkNext = Sink.data();
    MemorySinkEnd = Sink.data() + outSize;
    InputBudget = 0;
    if (InflateStream() != INFLATE_OK || (size_t)(MemorySinkNext - Sink.data()) != outSize) {
        fprintf(stderr, "our inflater failed\n");
        exit(1);
    }
    MemorySinkNext = nullptr;
    return ~RunningCrc;
}

static uint32_t Zlib(const Bytes &stream, size_t outSize)
{
    z_stream z = {};
    inflateInit2(&z, -15);
    z.next_in = const_cast<uint8_t *>(stream.data());
    z.avail_in = (uInt)stream.size();
    z.next_out = Sink.data();
    z.avail_out = (uInt)outSize;
    if (inflate(&z, Z_FINISH) != Z_STREAM_END) {
        fprintf(stderr, "zlib failed\n");
        exit(1);
    }
    inflateEnd(&z);
    return (uint32_t)crc32(0, Sink.data(), (uInt)outSize);
}

static libdeflate_decompressor *Libdeflate;

static uint32_t LibdeflateRun(const Bytes &stream, size_t outSize)
{
    if (libdeflate_deflate_decompress(Libdeflate, stream.data(), stream.size(), Sink.data(),
                                      outSize, nullptr) != LIBDEFLATE_SUCCESS) {
        fprintf(stderr, "libdeflate failed\n");
        exit(1);
    }
    return libdeflate_crc32(0, Sink.data(), outSize);
}

// Best of a few runs, in MB/s of output.
static double Measure(uint32_t (*run)(const Bytes &, size_t), const Bytes &stream,
                      size_t outSize, uint32_t expectCrc)
{
    double best = 1e9;
    for (int i = 0; i < 5; i++) {
        double t0 = Now();
        uint32_t crc = run(stream, outSize);
        double t = Now() - t0;
        if (crc != expectCrc) {
            fprintf(stderr, "CRC mismatch\n");
            exit(1);
        }
        best = std::min(best, t);
    }
    return outSize / best / 1e6;
}

int main()
{
    static uint8_t window[WINDOW_SIZE], input[INPUT_SIZE];
    OutputWindow = window;
    InputBuffer = input;
    MakeCrcTable();
    ImageFd = memfd_create("image", 0);
    Libdeflate = libdeflate_alloc_decompressor();

    // About 100 MB in four kinds, each from a fixed seed or from files that
    // Debian packages install, taken in sorted order; a kind falls back to
    // generated data where the files run out. The origin and the CRC-32 of
    // each input are printed, so that runs on other machines can be compared.
    const size_t size = 24u << 20;
    struct Sample {
        const char *name;
        Bytes data;
        std::string origin;
    } samples[4];
    samples[0] = {"text", MakeText(size), "generated, fixed seed"};
    samples[1] = {"source", FilesOr("/usr/include", size, MakeText), ""};
    samples[1].origin = std::to_string(FilesTaken) + " files of /usr/include";
    samples[2] = {"binary", FilesOr("/usr/lib/x86_64-linux-gnu", size, MakeBinaryLike), ""};
    samples[2].origin = std::to_string(FilesTaken) + " files of /usr/lib/x86_64-linux-gnu";
    samples[3] = {"compressed", FilesOr("/usr/share", size, AlreadyCompressed, ".gz"), ""};
    samples[3].origin = std::to_string(FilesTaken) + " .gz files of /usr/share";
    for (Sample &s : samples)
        printf("%-11s %s, CRC-32 %08x\n", s.name, s.origin.c_str(),
               (unsigned)crc32(0, s.data.data(), (uInt)s.data.size()));
    printf("\n");

    printf("%-11s %7s %7s | %9s %9s %9s | %6s %6s | %s\n", "input", "MB", "ratio", "ours",
           "zlib", "libdefl.", "/zlib", "/libd.", "table peak");
    double totalOut = 0, tOurs = 0, tZlib = 0, tLd = 0;
    for (Sample &s : samples) {
        Bytes stream = RawDeflate(s.data, 6);
        Bytes image = stream;
        image.resize(image.size() + 4, 0);  // something follows, as in an archive
        if (ftruncate(ImageFd, 0) != 0 ||
            pwrite(ImageFd, image.data(), image.size(), 0) != (ssize_t)image.size())
            return 1;
        ImageFile = (FileHandle)(intptr_t)ImageFd;
        Sink.assign(s.data.size(), 0);
        uint32_t crc = (uint32_t)crc32(0, s.data.data(), (uInt)s.data.size());

        Tracking = true;
        PeakBytes = LiveBytes = 0;
        Ours(stream, s.data.size());
        Tracking = false;

        double ours = Measure(Ours, stream, s.data.size(), crc);
        double zlib = Measure(Zlib, stream, s.data.size(), crc);
        double ld = Measure(LibdeflateRun, stream, s.data.size(), crc);
        double mb = s.data.size() / 1e6;
        totalOut += mb;
        tOurs += mb / ours;
        tZlib += mb / zlib;
        tLd += mb / ld;
        printf("%-11s %7.1f %6.1f%% | %6.0f MB/s %6.0f MB/s %6.0f MB/s | %5.2fx %5.2fx | %zu bytes\n",
               s.name, mb, 100.0 * stream.size() / s.data.size(), ours, zlib, ld, ours / zlib,
               ours / ld, PeakBytes);
    }
    printf("%-11s %7.1f %7s | %6.0f MB/s %6.0f MB/s %6.0f MB/s | %5.2fx %5.2fx |\n", "all",
           totalOut, "", totalOut / tOurs, totalOut / tZlib, totalOut / tLd, tZlib / tOurs,
           tLd / tOurs);
    printf("fixed working memory: window %u + input buffer %u bytes\n", WINDOW_SIZE, INPUT_SIZE);
    libdeflate_free_decompressor(Libdeflate);
    return 0;
}
