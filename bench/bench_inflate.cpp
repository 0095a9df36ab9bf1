// Inflater throughput against zlib (raw inflate plus its CRC-32) and
// libdeflate (decompress plus its CRC-32): the same memory-resident streams,
// the decoders interleaved in one process, the median of several
// repetitions; per kind of input and over the mix, for streams from zlib
// level 6 and from libdeflate level 12 (what the packer writes). Then, where
// valgrind is installed, the instructions per output byte that callgrind
// counts, which a busy machine does not disturb, for the three decoders and
// for ours built with the stub's own flags (bench-inflate-stub).
//
//   bench-inflate [REPETITIONS]         the whole benchmark (default 11)
//   bench-inflate --count DECODER DIR   decodes the streams in DIR once, for
//                                       callgrind (DECODER: ours, ours-baseline,
//                                       zlib, libdeflate)
//
// The corpus is generated from fixed seeds, so it is the same on every
// machine whatever is installed: the CRC-32 of each kind is printed.
// Ours reads its stream through its input buffer (INPUT_SIZE) as in the
// stub; here the reads are served from memory (ReadBytes is wrapped), and
// once more, in a column of its own, from a file with a read() per refill.
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

#include "archive/archive.h"
#include "inflate/inflate_internal.h"

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

// ---- A memory-resident image ----------------------------------------------------
// ImageFile set to MemoryImage reads from Resident at ResidentAt.
static uint8_t MemoryImageMarker;
static FileHandle const MemoryImage = &MemoryImageMarker;
static const Bytes *Resident;
static size_t ResidentAt;

extern "C" uint32_t __real__Z9ReadBytesPvS_j(FileHandle file, void *buffer, uint32_t count);

extern "C" uint32_t __wrap__Z9ReadBytesPvS_j(FileHandle file, void *buffer, uint32_t count)
{
    if (file != MemoryImage)
        return __real__Z9ReadBytesPvS_j(file, buffer, count);
    size_t n = std::min((size_t)count, Resident->size() - ResidentAt);
    memcpy(buffer, Resident->data() + ResidentAt, n);
    ResidentAt += n;
    return (uint32_t)n;
}

// ---- Corpus -------------------------------------------------------------------
// Every generator draws from its own mt19937, whose sequence the C++
// standard fixes, and uses no library distribution (whose results it does not).
static Bytes MakeText(size_t size, uint32_t seed)
{
    static const char *words[] = {"the", "of", "and", "a", "to", "in", "is", "archive",
                                  "window", "program", "extract", "folder", "install",
                                  "which", "that", "with", "for", "as", "was", "on",
                                  "compressed", "setup", "files", "before", "after", "user",
                                  "could", "between", "system", "every", "there", "would"};
    const unsigned n = sizeof words / sizeof words[0];
    std::mt19937 rng(seed);
    Bytes out;
    bool capital = true;
    while (out.size() < size) {
        unsigned a = rng() % n;
        unsigned b = rng() % n;  // two draws in a fixed order: the same text everywhere
        const char *w = words[std::min(a, b)];
        size_t at = out.size();
        out.insert(out.end(), w, w + strlen(w));
        if (capital)
            out[at] = (uint8_t)(out[at] - 32);
        unsigned r = rng() % 100;
        capital = r < 10;
        out.push_back(r < 4 ? '\n' : r < 10 ? '.' : r < 17 ? ',' : ' ');
        if (r < 10)
            out.push_back(r < 4 ? '\n' : ' ');
        if (r == 99)
            out.push_back((uint8_t)('0' + rng() % 10));
    }
    out.resize(size);
    return out;
}

// C-like source: declarations and statements over a vocabulary of
// identifiers that grows, with indentation, comments and numbers.
static Bytes MakeSource(size_t size, uint32_t seed)
{
    static const char *keywords[] = {"if (", "while (", "return ", "for (", "static ",
                                     "const ", "unsigned ", "int ", "struct ", "else "};
    static const char *ops[] = {" = ", " + ", " - ", " == ", " != ", " < ", " && ", "->",
                                ", ", " * ", ".", " | "};
    static const char *syllables[] = {"buf", "len", "pos", "next", "count", "table", "entry",
                                      "bits", "code", "win", "size", "flag", "name", "data",
                                      "read", "write", "node", "list", "cur", "end"};
    std::mt19937 rng(seed);
    std::vector<std::string> names;
    Bytes out;
    unsigned depth = 0;
    while (out.size() < size) {
        std::string line(4 * depth, ' ');
        unsigned r = rng() % 100;
        if (r < 6) {
            line += "/* ";
            for (unsigned i = 0, k = 3 + rng() % 8; i < k; i++) {
                line += syllables[rng() % 20];
                line += ' ';
            }
            line += "*/";
        } else if (r < 12 && depth < 5) {
            line += keywords[rng() % 4];
            line += names.empty() ? "x" : names[rng() % names.size()];
            line += ") {";
            depth++;
        } else if (r < 20 && depth > 0) {
            line.resize(4 * --depth);
            line += "}";
        } else {
            if (names.empty() || rng() % 8 == 0) {
                std::string name = syllables[rng() % 20];
                name += "_";
                name += syllables[rng() % 20];
                if (rng() % 2)
                    name += std::to_string(rng() % 16);
                names.push_back(name);
            }
            line += keywords[4 + rng() % 6];
            for (unsigned i = 0, k = 1 + rng() % 4; i < k; i++) {
                line += names[rng() % names.size()];
                line += ops[rng() % 12];
            }
            line += rng() % 3 ? names[rng() % names.size()] : std::to_string(rng() % 4096);
            line += ";";
        }
        line += "\n";
        out.insert(out.end(), line.begin(), line.end());
    }
    out.resize(size);
    return out;
}

// Machine-code-like: opcodes from a small skewed set, little-endian
// addresses and offsets near each other, zero runs and tables.
static Bytes MakeBinary(size_t size, uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes out;
    uint32_t address = 0x401000;
    while (out.size() < size) {
        unsigned r = rng() % 100;
        if (r < 55) {
            static const uint8_t opcodes[] = {0x8B, 0x89, 0xE8, 0x83, 0x85, 0x74, 0x75, 0x50,
                                              0x51, 0x53, 0x56, 0x57, 0xC3, 0x0F, 0x8D, 0xFF};
            out.push_back(opcodes[std::min(rng() % 16, rng() % 16)]);
            out.push_back((uint8_t)(rng() % 4 ? 0x45 + 8 * (rng() % 4) : rng()));
            if (rng() % 3 == 0)
                out.push_back((uint8_t)(rng() % 64));
        } else if (r < 75) {
            address += (rng() % 64) * 4;
            for (int i = 0; i < 4; i++)
                out.push_back((uint8_t)(address >> (8 * i)));
        } else if (r < 80) {
            out.insert(out.end(), 1 + rng() % 24, 0);
        } else if (r < 90 && out.size() > 4096) {
            size_t from = out.size() - 1 - rng() % 4096;
            for (size_t i = 0, n = 3 + rng() % 20; i < n; i++)
                out.push_back(out[from + i]);
        } else {
            out.push_back((uint8_t)rng());
        }
    }
    out.resize(size);
    return out;
}

// Like a JPEG or a nested archive: nearly incompressible bytes, with a rare
// short run.
static Bytes MakeCompressed(size_t size, uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes out;
    while (out.size() < size) {
        uint32_t r = rng();
        if (r % 512 == 0)
            out.insert(out.end(), 3 + r / 512 % 6, (uint8_t)(r >> 24));
        else
            out.push_back((uint8_t)(r >> 8));
    }
    out.resize(size);
    return out;
}

static Bytes ZlibDeflate(const Bytes &data, int level)
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

static Bytes LibdeflateDeflate(const Bytes &data, int level)
{
    libdeflate_compressor *c = libdeflate_alloc_compressor(level);
    Bytes out(libdeflate_deflate_compress_bound(c, data.size()));
    out.resize(libdeflate_deflate_compress(c, data.data(), data.size(), out.data(), out.size()));
    libdeflate_free_compressor(c);
    return out;
}

// ---- Decoders -----------------------------------------------------------------
struct Stream {
    std::string kind, coder;
    Bytes data;   // the stream, and 4 bytes that follow it as in an archive
    size_t outSize;
    uint32_t crc;
};

static Bytes Sink;
static int ImageFd = -1;

// noinline: callgrind counts each decoder from its entry here.
__attribute__((noinline)) static uint32_t RunOurs(const Stream &s, bool fromFile)
{
    if (fromFile) {
        lseek(ImageFd, 0, SEEK_SET);
        ImageFile = (FileHandle)(intptr_t)ImageFd;
    } else {
        Resident = &s.data;
        ResidentAt = 0;
        ImageFile = MemoryImage;
    }
    MemorySink sink;
    MakeMemorySink(&sink, Sink.data(), (uint32_t)s.outSize);
    StreamSink = &sink;
    StreamSource = &ImageSource;
    InputBudget = 0;
    if (InflateStream() != INFLATE_OK || (size_t)(sink.Next - Sink.data()) != s.outSize) {
        fprintf(stderr, "our inflater failed on %s %s\n", s.kind.c_str(), s.coder.c_str());
        exit(1);
    }
    StreamSink = nullptr;
    return ~RunningCrc;
}

__attribute__((noinline)) static uint32_t RunZlib(const Stream &s)
{
    z_stream z = {};
    inflateInit2(&z, -15);
    z.next_in = const_cast<uint8_t *>(s.data.data());
    z.avail_in = (uInt)s.data.size();
    z.next_out = Sink.data();
    z.avail_out = (uInt)s.outSize;
    if (inflate(&z, Z_FINISH) != Z_STREAM_END) {
        fprintf(stderr, "zlib failed\n");
        exit(1);
    }
    inflateEnd(&z);
    return (uint32_t)crc32(0, Sink.data(), (uInt)s.outSize);
}

static libdeflate_decompressor *Libdeflate;

__attribute__((noinline)) static uint32_t RunLibdeflate(const Stream &s)
{
    if (libdeflate_deflate_decompress(Libdeflate, s.data.data(), s.data.size() - 4, Sink.data(),
                                      s.outSize, nullptr) != LIBDEFLATE_SUCCESS) {
        fprintf(stderr, "libdeflate failed\n");
        exit(1);
    }
    return libdeflate_crc32(0, Sink.data(), s.outSize);
}

enum { OURS, OURS_FILE, ZLIB, LIBDEFLATE, DECODERS };
static const char *DecoderNames[DECODERS] = {"ours", "ours-file", "zlib", "libdeflate"};

static uint32_t Run(int decoder, const Stream &s)
{
    switch (decoder) {
    case OURS: return RunOurs(s, false);
    case OURS_FILE: return RunOurs(s, true);
    case ZLIB: return RunZlib(s);
    default: return RunLibdeflate(s);
    }
}

static double Now()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

static const char *Kinds[] = {"text", "source", "binary", "compressed"};
static const char *Coders[] = {"zlib-6", "libdeflate-12"};

static std::vector<Stream> MakeStreams(size_t size)
{
    Bytes (*make[])(size_t, uint32_t) = {MakeText, MakeSource, MakeBinary, MakeCompressed};
    std::vector<Stream> streams;
    for (int c = 0; c < 2; c++) {
        for (int k = 0; k < 4; k++) {
            Bytes data = make[k](size, 1000 + k);
            Stream s;
            s.kind = Kinds[k];
            s.coder = Coders[c];
            s.data = c == 0 ? ZlibDeflate(data, 6) : LibdeflateDeflate(data, 12);
            s.data.resize(s.data.size() + 4, 0);
            s.outSize = data.size();
            s.crc = (uint32_t)crc32(0, data.data(), (uInt)data.size());
            streams.push_back(std::move(s));
        }
    }
    return streams;
}

static void SetUpDecoders()
{
    static uint8_t window[WINDOW_SIZE], input[INPUT_SIZE];
    OutputWindow = window;
    InputBuffer = input;
    MakeCrcTable();
    ImageFd = memfd_create("image", 0);
    Libdeflate = libdeflate_alloc_decompressor();
}

static bool WriteFile(const std::string &path, const Bytes &bytes)
{
    FILE *f = fopen(path.c_str(), "wb");
    bool good = f && fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return f && fclose(f) == 0 && good;
}

static bool ReadFile(const std::string &path, Bytes &bytes)
{
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return false;
    bytes.clear();
    uint8_t buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        bytes.insert(bytes.end(), buf, buf + n);
    fclose(f);
    return true;
}

// ---- Instruction counts ---------------------------------------------------------
// DIR holds the streams as files kind.coder (and .size, the output size).
static int CountMode(const char *decoder, const char *dir)
{
    SetUpDecoders();
    int which = -1;
    for (int d = 0; d < DECODERS; d++)
        if (strcmp(decoder, DecoderNames[d]) == 0)
            which = d;
    if (which < 0)
        return 2;
    size_t largest = 0;
    std::vector<Stream> streams;
    for (const char *coder : Coders) {
        for (const char *kind : Kinds) {
            Stream s;
            s.kind = kind;
            s.coder = coder;
            Bytes size;
            std::string base = std::string(dir) + "/" + kind + "." + coder;
            if (!ReadFile(base, s.data) || !ReadFile(base + ".size", size) || size.size() != 8)
                return 1;
            memcpy(&s.outSize, size.data(), 8);
            largest = std::max(largest, s.outSize);
            streams.push_back(std::move(s));
        }
    }
    Sink.assign(largest, 0);
    for (const Stream &s : streams) {
        if (which == OURS_FILE) {
            if (ftruncate(ImageFd, 0) != 0 ||
                pwrite(ImageFd, s.data.data(), s.data.size(), 0) != (ssize_t)s.data.size())
                return 1;
        }
        Run(which, s);
    }
    return 0;
}

// The instructions callgrind counts inside function of the program, or -1.
static double Callgrind(const std::string &program, const char *function, const char *decoder,
                        const std::string &dir)
{
    std::string out = dir + "/callgrind.out";
    std::string command = "valgrind --tool=callgrind --collect-atstart=no --toggle-collect='" +
                          std::string(function) + "' --callgrind-out-file=" + out + " " +
                          program + " --count " + decoder + " " + dir + " >/dev/null 2>&1";
    if (system(command.c_str()) != 0)
        return -1;
    FILE *f = fopen(out.c_str(), "r");
    if (!f)
        return -1;
    char line[256];
    double total = -1;
    while (fgets(line, sizeof line, f))
        if (strncmp(line, "summary:", 8) == 0 || strncmp(line, "totals:", 7) == 0)
            total = atof(line + (line[0] == 's' ? 8 : 7));
    fclose(f);
    unlink(out.c_str());
    return total;
}

static void CountInstructions(const char *self, const std::vector<Stream> &small, size_t outSize)
{
    if (system("valgrind --version >/dev/null 2>&1") != 0) {
        printf("\ninstruction counts: valgrind is not installed\n");
        return;
    }
    char dir[] = "/tmp/bench-inflate-XXXXXX";
    if (!mkdtemp(dir))
        return;
    Bytes size(8);
    for (const Stream &s : small) {
        std::string base = std::string(dir) + "/" + s.kind + "." + s.coder;
        memcpy(size.data(), &s.outSize, 8);
        WriteFile(base, s.data);
        WriteFile(base + ".size", size);
    }
    std::string program = self;
    std::string stubBuild = program.substr(0, program.rfind('/') + 1) + "bench-inflate-stub";
    struct Counted {
        const char *label;
        std::string program;
        const char *function;
        const char *decoder;
    } counted[] = {
        {"ours", program, "*RunOurs*", "ours"},
        {"ours, stub flags", stubBuild, "*RunOurs*", "ours"},
        {"zlib", program, "*RunZlib*", "zlib"},
        {"libdeflate", program, "*RunLibdeflate*", "libdeflate"},
    };
    double total = 8.0 * outSize;  // both coders, four kinds
    printf("\ninstructions per output byte (callgrind, decoder and its CRC-32, %zu KiB of each\n"
           "kind from both coders):\n",
           outSize >> 10);
    double ours = 0;
    for (const Counted &c : counted) {
        double n = Callgrind(c.program, c.function, c.decoder, dir);
        if (n < 0) {
            printf("  %-18s not measured (%s)\n", c.label, c.program.c_str());
            continue;
        }
        if (ours == 0)
            ours = n;
        printf("  %-18s %6.2f  (%.2fx ours)\n", c.label, n / total, n / ours);
    }
    for (const Stream &s : small) {
        std::string base = std::string(dir) + "/" + s.kind + "." + s.coder;
        unlink(base.c_str());
        unlink((base + ".size").c_str());
    }
    rmdir(dir);
}

// ---- The benchmark ----------------------------------------------------------------
static double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

int main(int argc, char **argv)
{
    if (argc == 4 && strcmp(argv[1], "--count") == 0)
        return CountMode(argv[2], argv[3]);
    int repetitions = argc > 1 ? atoi(argv[1]) : 11;
    if (repetitions < 1)
        repetitions = 1;
    SetUpDecoders();

    const size_t size = 6u << 20;
    std::vector<Stream> streams = MakeStreams(size);
    printf("corpus: four kinds of %zu MiB from fixed seeds, CRC-32", size >> 20);
    for (int k = 0; k < 4; k++)
        printf(" %s %08x", Kinds[k], (unsigned)streams[k].crc);
    printf("\n%d repetitions, decoders interleaved, median MB/s of output\n", repetitions);
    Sink.assign(size, 0);

    // times[stream][decoder][repetition]; the order of the decoders turns
    // with each repetition, so that none always runs first on a warm cache.
    std::vector<std::vector<std::vector<double>>> times(
        streams.size(), std::vector<std::vector<double>>(DECODERS));
    std::vector<size_t> peak(streams.size());
    for (int r = 0; r < repetitions; r++) {
        for (size_t i = 0; i < streams.size(); i++) {
            const Stream &s = streams[i];
            if (ftruncate(ImageFd, 0) != 0 ||
                pwrite(ImageFd, s.data.data(), s.data.size(), 0) != (ssize_t)s.data.size())
                return 1;
            for (int j = 0; j < DECODERS; j++) {
                int d = (j + r) % DECODERS;
                Tracking = d == OURS && r == 0;
                PeakBytes = LiveBytes = 0;
                double t0 = Now();
                uint32_t crc = Run(d, s);
                times[i][d].push_back(Now() - t0);
                if (Tracking)
                    peak[i] = PeakBytes;
                Tracking = false;
                if (crc != s.crc) {
                    fprintf(stderr, "CRC mismatch: %s on %s %s\n", DecoderNames[d], s.kind.c_str(),
                            s.coder.c_str());
                    return 1;
                }
            }
        }
    }

    for (int c = 0; c < 2; c++) {
        printf("\n%-13s %-10s %6s | %8s %9s %8s %10s | %6s %6s | %s\n", Coders[c], "input",
               "ratio", "ours", "ours-file", "zlib", "libdeflate", "/zlib", "/libd.",
               "table peak");
        double sum[DECODERS] = {0};
        double mb = 0;
        for (size_t i = 4 * c; i < 4 * c + 4; i++) {
            const Stream &s = streams[i];
            double t[DECODERS];
            for (int d = 0; d < DECODERS; d++) {
                t[d] = Median(times[i][d]);
                sum[d] += t[d];
            }
            double m = s.outSize / 1e6;
            mb += m;
            printf("%-13s %-10s %5.1f%% | %8.0f %9.0f %8.0f %10.0f | %5.2fx %5.2fx | %zu bytes\n",
                   "", s.kind.c_str(), 100.0 * (s.data.size() - 4) / s.outSize, m / t[OURS],
                   m / t[OURS_FILE], m / t[ZLIB], m / t[LIBDEFLATE], t[ZLIB] / t[OURS],
                   t[LIBDEFLATE] / t[OURS], peak[i]);
        }
        printf("%-13s %-10s %6s | %8.0f %9.0f %8.0f %10.0f | %5.2fx %5.2fx |\n", "", "all", "",
               mb / sum[OURS], mb / sum[OURS_FILE], mb / sum[ZLIB], mb / sum[LIBDEFLATE],
               sum[ZLIB] / sum[OURS], sum[LIBDEFLATE] / sum[OURS]);
    }
    printf("fixed working memory: window %u + input buffer %u + packed tables %u bytes\n",
           WINDOW_SIZE, INPUT_SIZE, 4 * (PACKED_LIT_ENTRIES + PACKED_DIST_ENTRIES));

    // Instruction counts do not need the full size: 1 MiB of each kind.
    std::vector<Stream> small = MakeStreams(1u << 20);
    CountInstructions(argv[0], small, 1u << 20);
    libdeflate_free_decompressor(Libdeflate);
    return 0;
}
