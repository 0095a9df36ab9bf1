// --describe: reads an image with the stub's own routines (signature scan,
// LoadConfig, the local-header walk, the inflater) and prints what the stub
// would see, checking every entry as the stub's extraction would.
#include <stdio.h>
#include <string.h>

#include <zlib.h>

#include "pack.h"

#include "archive/archive.h"
#include "archive/config.h"
#include "inflate/inflate.h"
#include "messages/messages.h"
#include "platform/host/host_platform.h"
#include "platform/platform.h"

namespace pack {

namespace {

std::string Quote(const char *text)
{
    std::string out = "\"";
    for (const char *p = text; *p; p++) {
        uint8_t c = (uint8_t)*p;
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c == '"' || c == '\\')
            out += std::string("\\") + (char)c;
        else if (c < 0x20 || c == 0x7F) {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else
            out += (char)c;  // bytes of the code page pass as they are
    }
    return out + "\"";
}

std::string DosStamp(uint16_t date, uint16_t time)
{
    char text[32];
    snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", 1980 + (date >> 9), (date >> 5) & 15,
             date & 31, time >> 11, (time >> 5) & 63, (time & 31) * 2);
    return text;
}

std::string Hex(uint32_t v)
{
    char text[16];
    snprintf(text, sizeof text, "%08X", v);
    return text;
}

// How many bytes the configuration stream takes, measured with zlib: the
// first local header must not begin inside it.
long StreamLength(const Bytes &image, size_t at)
{
    if (at > image.size())
        return -1;
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK)
        return -1;
    Bytes out(65536);
    z.next_in = const_cast<uint8_t *>(image.data() + at);
    z.avail_in = (uInt)(image.size() - at);
    int status;
    do {
        z.next_out = out.data();
        z.avail_out = (uInt)out.size();
        status = inflate(&z, Z_NO_FLUSH);
    } while (status == Z_OK);
    long length = status == Z_STREAM_END ? (long)z.total_in : -1;
    inflateEnd(&z);
    return length;
}

// Runs one entry's stream through the stub's decoder as the extraction does:
// budget CompressedSize + 4, then the CRC-32 comparison. Empty when good,
// else what went wrong.
std::string CheckEntry(uint32_t dataAt, const LocalHeader &header)
{
    if (header.GeneralFlags & 1)
        return "encrypted; the stub can't extract it";
    if (header.Method != 0 && header.Method != 8)
        return "method " + std::to_string(header.Method) + "; the stub skips it";
    Bytes out((size_t)header.UncompressedSize + 1);
    std::string problem;
    try {
        SeekTo(ImageFile, dataAt);
        switch (DecodeEntry(&header, header.CompressedSize + BUDGET_SLACK, out.data())) {
        case DECODE_OK: break;
        case DECODE_BAD_DATA: problem = "the stub's decoder fails"; break;
        case DECODE_SHORT:
            problem = "yields fewer than " + std::to_string(header.UncompressedSize) + " bytes";
            break;
        case DECODE_CRC_MISMATCH: problem = "CRC-32 mismatch"; break;
        case DECODE_WRITE_FAILED: problem = "can't be written"; break;
        }
    } catch (const HostExit &) {
        problem = HostBoxes.empty() ? "the stub stops" : "the stub stops: " + HostBoxes.back().text;
    }
    MemorySinkNext = nullptr;
    return problem;
}

void PrintConfig(std::ostream &out)
{
    static const char *const kFlagNames[] = {"autostart", "ctl3d", "overwrite", "delete-after", "extractor"};
    static const char *const kDestNames[] = {"?", "temp", "image-dir", "unique-temp", "fixed"};
    static const char *const kSlotNames[] = {"start message", "init message", "about", "description",
                                             "fixed folder", "run", "wait file"};
    uint32_t flags = SfxConfig->Flags;
    out << "  form:          " << (flags & SFX_EXTRACTOR_UI ? "extractor" : "installer") << "\n";
    out << "  flags:        ";
    bool any = false;
    for (int bit = 0; bit < 5; bit++)
        if (flags & (1u << bit)) {
            out << " " << kFlagNames[bit];
            any = true;
        }
    if (flags >> 5)
        out << " (unused bits 0x" << Hex(flags & ~0x1Fu) << ")";
    out << (any || flags >> 5 ? "" : " none") << "\n";
    uint32_t kind = SfxConfig->DestKind;
    out << "  destination:   " << (kind >= 1 && kind <= 4 ? kDestNames[kind] : "unknown") << " (" << kind
        << ")\n";
    for (int slot = 0; slot < 7; slot++) {
        std::string label = std::string(kSlotNames[slot]) + ":";
        label.resize(15, ' ');
        out << "  " << label << Quote(ConfigString(slot)) << "\n";
    }
    uint32_t iconAt = SfxConfig->Offsets[CFG_ICON];
    uint32_t iconLength = ConfigSize - iconAt;
    IconInfo icon;
    out << "  icon:          ";
    if (ReadIconImage((const uint8_t *)ConfigString(CFG_ICON), iconLength, &icon))
        out << icon.width << "x" << icon.height << ", " << icon.bitCount << " bits"
            << (icon.png ? ", PNG" : "") << ", " << iconLength << " bytes\n";
    else
        out << "none (" << iconLength << (iconLength == 1 ? " byte" : " bytes") << " that are no icon)\n";
}

}  // namespace

int DescribeImage(const std::string &path, std::ostream &out, std::ostream &err)
{
    Bytes image;
    try {
        image = ReadWholeFile(path);
    } catch (const PackError &error) {
        err << "brevant-pack: " << error.what() << "\n";
        return 1;
    }
    PrepareStubDecoder();
    FileHandle savedImage = ImageFile;
    void (*savedHook)(unsigned) = HostExitHook;
    ImageFile = OpenReadShared(path.c_str());
    HostThrowOnExit();
    HostResetBoxes();
    int failures = 0;

    out << path << ": " << image.size() << " bytes\n";
    int32_t configAt = FindSignature(CONFIG_SIG_LOW, CONFIG_SIG_HIGH);
    bool loaded = false;
    try {
        InputBudget = 0;  // as at the stub's start-up
        MemorySinkNext = nullptr;
        LoadConfig();
        loaded = true;
    } catch (const HostExit &exit) {
        out << "configuration: the stub stops with "
            << (HostBoxes.empty() ? std::string("no message") : Quote(HostBoxes.back().text.c_str()))
            << " (exit code " << exit.code << ")\n";
        if (configAt < 0)
            out << "  no \"JAVA\" header among the first " << kScanLimit << " bytes\n";
        failures++;
    }
    MemorySinkNext = nullptr;

    if (loaded) {
        long streamLength = StreamLength(image, (size_t)configAt + 12);
        uint32_t crc = image[configAt + 4] | image[configAt + 5] << 8 | image[configAt + 6] << 16 |
                       (uint32_t)image[configAt + 7] << 24;
        out << "stub:            " << configAt << " bytes, " << StubMachine(image) << "\n";
        out << "configuration:   at " << configAt << ", " << ConfigSize << " bytes in " << streamLength
            << " compressed, CRC-32 " << Hex(crc) << "\n";
        PrintConfig(out);

        int32_t first = FindSignature(LOCAL_SIG_LOW, LOCAL_SIG_HIGH);
        if (first < 0) {
            out << "entries: no local header among the first " << kScanLimit
                << " bytes; the stub would stop with \"" << InternalErrorText << "\"\n";
            failures++;
        } else {
            if (streamLength >= 0 && first < configAt + 12 + streamLength) {
                out << "  \"PK\\3\\4\" at offset " << first
                    << " lies inside the configuration stream; the stub would start its walk there\n";
                failures++;
            }
            out << "entries:         first at " << first << "\n";
            LocalHeader header;
            uint32_t count = 0;
            uint64_t total = 0;
            uint32_t h = (uint32_t)first;
            while (ReadLocalHeader(h, &header)) {
                if (header.NameLength > MAX_NAME_LENGTH) {
                    out << "  at " << h << ": a name of " << header.NameLength
                        << " bytes; the stub stops its walk here\n";
                    failures++;
                    break;
                }
                std::string name(header.NameLength, '\0');
                SeekTo(ImageFile, h + LOCAL_HEADER_SIZE);
                ReadBytes(ImageFile, name.data(), header.NameLength);
                std::string problem = CheckEntry(h + LOCAL_HEADER_SIZE + header.NameLength + header.ExtraLength, header);
                char line[128];
                snprintf(line, sizeof line, "  %-4s %-8s %10u %10u  %s  %s  ", problem.empty() ? "ok" : "BAD",
                         header.Method == 8 ? "deflated" : header.Method == 0 ? "stored" : "other",
                         header.UncompressedSize, header.CompressedSize,
                         DosStamp(header.ModDate, header.ModTime).c_str(), Hex(header.Crc32).c_str());
                out << line << name << (problem.empty() ? "" : "  (" + problem + ")") << "\n";
                if (!problem.empty())
                    failures++;
                count++;
                total += header.UncompressedSize;
                uint32_t next = NextHeaderOffset(h, &header);
                if (next <= h)
                    break;
                h = next;
            }
            out << count << (count == 1 ? " entry, " : " entries, ") << total << " bytes; the walk ends at "
                << h << "\n";
        }
    }
    if (ImageFile != INVALID_FILE)
        CloseFile(ImageFile);
    ImageFile = savedImage;
    HostExitHook = savedHook;
    out << (failures ? "the image does NOT check: " + std::to_string(failures) + " problem(s)\n"
                     : std::string("the image checks: the stub reads every entry\n"));
    return failures ? 1 : 0;
}

}  // namespace pack
