// --describe: reads an image with the stub's own routines (signature scan,
// ReadConfig, the local-header walk, the inflater) and prints what the stub
// would see, checking every entry as the stub's extraction would.
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include <zlib.h>

#include "pack.h"
#include "platform.h"

#include "archive/archive.h"
#include "archive/config.h"
#include "inflate/inflate.h"
#include "resources/strings.h"
#include "resources/resource.h"
#include "platform/platform.h"

namespace pack {

namespace {

// A control character as \n, \r, \t, or \xNN (\u00NN in JSON).
std::string EscapeControl(uint8_t c, bool json)
{
    if (c == '\n')
        return "\\n";
    if (c == '\r')
        return "\\r";
    if (c == '\t')
        return "\\t";
    char hex[8];
    snprintf(hex, sizeof hex, json ? "\\u%04X" : "\\x%02X", c);
    return hex;
}

// The length of the well-formed UTF-8 character at text[at] that is not a
// control character (C1 included); 0 for anything else.
size_t PrintableLength(const std::string &text, size_t at)
{
    uint8_t c = (uint8_t)text[at];
    if (c < 0x80)
        return c >= 0x20 && c != 0x7F;
    size_t length = c >= 0xC2 && c < 0xE0 ? 2 : c >= 0xE0 && c < 0xF0 ? 3 : c >= 0xF0 && c < 0xF5 ? 4 : 0;
    if (!length || at + length > text.size())
        return 0;
    for (size_t i = 1; i < length; i++)
        if (((uint8_t)text[at + i] & 0xC0) != 0x80)
            return 0;
    uint8_t next = (uint8_t)text[at + 1];
    if ((c == 0xE0 && next < 0xA0) || (c == 0xED && next >= 0xA0) || (c == 0xF0 && next < 0x90) ||
        (c == 0xF4 && next >= 0x90) || (c == 0xC2 && next < 0xA0))
        return 0;  // overlong, a surrogate, beyond U+10FFFF, or a C1 control
    return length;
}

// The bytes of a text or name as UTF-8 between quotes: converted from the
// code page when they are its text (codepage null: as they are when they are
// UTF-8), else bytes beyond ASCII as \xNN; quotes, backslashes and control
// characters escaped, for a terminal or for JSON.
std::string Quote(const std::string &raw, const TextEncoder *codepage, bool json)
{
    std::string utf8 = raw;
    bool converted = codepage ? codepage->Decode(raw, &utf8) : IsUtf8(raw);
    const std::string &text = converted ? utf8 : raw;
    std::string out = "\"";
    for (char ch : text) {
        uint8_t c = (uint8_t)ch;
        char hex[8];
        if (c == '"' || c == '\\')
            out += std::string("\\") + (char)c;
        else if (c < 0x20 || c == 0x7F)
            out += EscapeControl(c, json);
        else if (c >= 0x80 && !converted) {
            snprintf(hex, sizeof hex, json ? "\\\\x%02X" : "\\x%02X", c);
            out += hex;
        } else
            out += (char)c;
    }
    return out + "\"";
}

// One of the stub's own texts (UTF-16) as UTF-8; "" for none.
std::string Utf8Of(const char16_t *text)
{
    std::string out;
    for (const char16_t *p = text; p && *p; p++) {
        uint32_t c = *p;
        if (c >= 0xD800 && c < 0xDC00 && p[1] >= 0xDC00 && p[1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (*++p - 0xDC00);
        int trail = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
        static const uint8_t lead[] = {0x00, 0xC0, 0xE0, 0xF0};
        out += (char)(lead[trail] | c >> (6 * trail));
        while (trail--)
            out += (char)(0x80 | ((c >> (6 * trail)) & 0x3F));
    }
    return out;
}

}  // namespace

std::string Printable(const std::string &text)
{
    std::string out;
    for (size_t at = 0; at < text.size();) {
        size_t length = PrintableLength(text, at);
        if (length) {
            out.append(text, at, length);
            at += length;
            continue;
        }
        uint8_t c = (uint8_t)text[at++];
        out += EscapeControl(c, false);
    }
    return out;
}

namespace {

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

// Runs one entry's stream through the stub's decoder as the extraction does.
// Empty when good, else what went wrong.
std::string CheckEntry(FileHandle image, uint32_t dataAt, const LocalHeader &header)
{
    if (header.GeneralFlags & 1)
        return "encrypted; the stub can't extract it";
    if (header.Method != 0 && header.Method != 8)
        return "method " + std::to_string(header.Method) + "; the stub skips it";
    switch (DecodeInPlace(image, dataAt, header)) {
    case DECODE_OK: return "";
    case DECODE_BAD_DATA: return "the stub's decoder fails";
    case DECODE_SHORT: return "yields fewer than " + std::to_string(header.UncompressedSize) + " bytes";
    case DECODE_CRC_MISMATCH: return "CRC-32 mismatch";
    case DECODE_WRITE_FAILED: return "can't be written";
    case DECODE_READ_ERROR: return "the stub stops: " STR_EN_READ_ERROR;
    }
    return "the stub stops";
}

// The UTF-8 name of an Info-ZIP Unicode Path field (0x7075) that belongs to
// name (its CRC-32 matches), or false.
bool UnicodePath(const std::string &extra, const std::string &name, std::string *utf8)
{
    for (size_t at = 0; at + 4 <= extra.size();) {
        unsigned id = (uint8_t)extra[at] | (uint8_t)extra[at + 1] << 8;
        size_t size = (uint8_t)extra[at + 2] | (uint8_t)extra[at + 3] << 8;
        if (at + 4 + size > extra.size())
            break;
        if (id == 0x7075 && size >= 5 && extra[at + 4] == 1) {
            uint32_t crc = 0;
            for (int i = 0; i < 4; i++)
                crc |= (uint32_t)(uint8_t)extra[at + 5 + i] << (8 * i);
            if (crc == (uint32_t)crc32(0, (const uint8_t *)name.data(), (uInt)name.size())) {
                *utf8 = extra.substr(at + 9, size - 5);
                return true;
            }
        }
        at += 4 + size;
    }
    return false;
}

struct EntryReport {
    std::string name;  // quoted
    bool quoted = false;
    LocalHeader header;
    std::string problem;
};

// What the stub sees in an image, gathered before it is printed.
struct Report {
    uint64_t size = 0;
    int32_t configAt = -1;
    bool loaded = false;
    std::string stop;  // the stub's fatal message at start-up, quoted
    unsigned exitCode = 0;
    std::string machine;
    bool haveProgram = false;
    ProgramInfo program;
    long streamLength = -1;
    uint32_t configCrc = 0;
    int32_t first = -1;
    bool firstInsideStream = false;
    std::vector<EntryReport> entries;
    uint64_t total = 0;
    uint32_t walkEnd = 0;
    std::string walkStop;  // why the walk ended early
    std::vector<std::string> refusals;  // what the stub refuses before writing anything
    int failures = 0;
    bool haveComment = false;
    std::string comment;  // the archive's comment: which packer and stub made it
};

// The icon slot's bytes as words: an icon image, none (the one zero byte
// the packer writes for no icon), or bytes that are no icon.
std::string IconWords(bool json)
{
    uint32_t length = ConfigSize - SfxConfig->Offsets[CFG_ICON];
    const uint8_t *bytes = (const uint8_t *)ConfigString(CFG_ICON);
    IconInfo icon;
    std::string size = std::to_string(length) + (json ? "" : length == 1 ? " byte" : " bytes");
    if (ReadIconImage(bytes, length, &icon))
        return json ? "{\"width\": " + std::to_string(icon.width) + ", \"height\": " + std::to_string(icon.height) +
                          ", \"bits\": " + std::to_string(icon.bitCount) + ", \"png\": " +
                          (icon.png ? "true" : "false") + ", \"bytes\": " + size + "}"
                    : std::to_string(icon.width) + "x" + std::to_string(icon.height) + ", " +
                          std::to_string(icon.bitCount) + " bits" + (icon.png ? ", PNG" : "") + ", " + size;
    if (length == 0 || (length == 1 && bytes[0] == 0))
        return json ? "null" : "none";
    return json ? "{\"not_an_icon\": " + size + "}" : "none: the slot holds " + size + " that are not an icon";
}

const char *const kFlagNames[] = {"autostart", "ctl3d", "overwrite", "delete-after", "extractor", "utf8-texts"};
constexpr int kFlagBits = sizeof kFlagNames / sizeof kFlagNames[0];
const char *const kDestNames[] = {"?", "temp", "image-dir", "unique-temp", "fixed"};
const char *const kSlotNames[] = {"start message", "init message", "about", "description",
                                  "fixed folder", "run", "wait file"};
const char *const kSlotKeys[] = {"start_message", "init_message", "about", "description",
                                 "fixed_folder", "run", "wait_file"};

const char *MethodName(uint16_t method) { return method == 8 ? "deflated" : method == 0 ? "stored" : "other"; }

void Walk(FileHandle image, Report &report, const TextEncoder &codepage, bool json)
{
    report.first = FindSignature(image, LOCAL_SIG_LOW, LOCAL_SIG_HIGH);
    if (report.first < 0) {
        report.failures++;
        return;
    }
    if (report.streamLength >= 0 && report.first < report.configAt + 12 + report.streamLength) {
        report.firstInsideStream = true;
        report.failures++;
    }
    LocalHeader header;
    uint32_t h = (uint32_t)report.first;
    WalkStep step;
    while ((step = ReadLocalHeader(image, h, &header)) == WALK_ENTRY) {
        std::string name(header.NameLength, '\0'), extra(header.ExtraLength, '\0');
        SeekTo(image, h + LOCAL_HEADER_SIZE);
        ReadBytes(image, name.data(), header.NameLength);
        ReadBytes(image, extra.data(), header.ExtraLength);
        EntryReport entry;
        entry.header = header;
        // Bit 11: the name is UTF-8, and a Unicode Path field has nothing to add.
        std::string utf8;
        if (header.GeneralFlags & ZIP_FLAG_UTF8)
            entry.name = Quote(name, nullptr, json);
        else
            entry.name = UnicodePath(extra, name, &utf8) ? Quote(utf8, nullptr, json) : Quote(name, &codepage, json);
        entry.problem = CheckEntry(image, h + LOCAL_HEADER_SIZE + header.NameLength + header.ExtraLength, header);
        if (!NameFits(&header))
            entry.problem = "a name of " + std::to_string(header.NameLength) + " bytes: the stub cannot create it";
        if (!entry.problem.empty())
            report.failures++;
        report.total += header.UncompressedSize;
        report.entries.push_back(entry);
        uint32_t next = NextHeaderOffset(h, &header);
        if (next == 0) {
            step = WALK_BROKEN;
            break;
        }
        h = next;
    }
    report.walkEnd = h;
    if (step == WALK_BROKEN) {
        LocalHeader broken = {};
        ReadLocalHeader(image, h, &broken);
        report.walkStop = "at " + std::to_string(h) + ": " +
                          (broken.NameLength > (broken.GeneralFlags & ZIP_FLAG_UTF8 ? MAX_UTF8_NAME_LENGTH
                                                                                    : MAX_NAME_LENGTH)
                               ? "a name of " + std::to_string(broken.NameLength) + " bytes"
                               : std::string("no local header, central directory or end record")) +
                          "; the stub reports a damaged archive here";
        report.failures++;
    }
}

// What the stub refuses before it writes anything: an archive that does not
// agree with its central directory (a missing first entry is the walk's).
void Refusals(FileHandle image, Report &report)
{
    ArchiveSummary archive;
    ArchiveCheck result = CheckArchive(image, &archive);
    if (result != ARCHIVE_OK && result != ARCHIVE_NO_ENTRIES)
        report.refusals.push_back(ArchiveRefusal(result, archive) +
                                  "; the stub stops with \"Error reading from archive.\" before writing anything");
    report.failures += (int)report.refusals.size();
}

// The title, banner and link of the dialog form the image shows, English
// then Japanese where that differs: a line each, or JSON members.
void PrintDialog(const ProgramInfo &program, uint32_t form, bool json, std::ostream &out)
{
    static const char *const kLabels[] = {"  title:         ", "  banner:        ", "  link:          "};
    static const char *const kKeys[] = {"title", "banner", "link"};
    const ProgramInfo::Dialog *dialog[2] = {};
    for (const ProgramInfo::Dialog &d : program.dialogs)
        if (d.form == form)
            dialog[d.japanese] = &d;
    if (!dialog[0])
        return;
    for (int k = 0; k < 3; k++) {
        std::string text[2];
        for (int l = 0; l < 2; l++) {
            const ProgramInfo::Dialog *d = dialog[l] ? dialog[l] : dialog[0];
            const std::u16string &t = k == 0 ? d->title : k == 1 ? d->banner : d->link;
            text[l] = k == 2 && t.empty() ? (json ? "null" : "none") : Quote(Utf8Of(t.c_str()), nullptr, json);
        }
        if (json) {
            out << ", \"" << kKeys[k] << "\": " << text[0] << ", \"" << kKeys[k] << "_ja\": " << text[1];
            continue;
        }
        out << kLabels[k] << text[0];
        if (text[1] != text[0])
            out << " (Japanese: " << text[1] << ")";
        out << "\n";
    }
}

// Names in the table go without their quotes where nothing needed escaping.
std::string Bare(const std::string &quoted)
{
    std::string inner = quoted.substr(1, quoted.size() - 2);
    return inner.find('\\') == std::string::npos && inner.find(' ') == std::string::npos ? inner : quoted;
}

void PrintText(const std::string &path, const Report &report, const TextEncoder &codepage, std::ostream &out)
{
    out << path << ": " << report.size << " bytes\n";
    if (report.configAt < 0)
        out << "not a brevant image: no configuration header among the first " << kScanLimit
            << " bytes (a program or a ZIP archive of another tool)\n";
    if (!report.loaded) {
        out << "configuration: the stub stops with " << report.stop << " (exit code " << report.exitCode << ")\n";
    } else {
        out << "stub:            " << report.configAt << " bytes, " << report.machine << "\n";
        if (report.haveProgram) {
            const ProgramInfo &program = report.program;
            out << "  execution:     " << (program.executionLevel.empty() ? "no manifest" : program.executionLevel)
                << "\n  program icon:  ";
            for (size_t i = 0; i < program.icons.size(); i++)
                out << (i ? ", " : "") << program.icons[i];
            out << (program.icons.empty() ? "none\n" : "\n");
            PrintDialog(program, SfxConfig->Flags & SFX_EXTRACTOR_UI ? IDD_EXTRACTOR : IDD_INSTALLER, false, out);
            if (!program.fileVersion.empty())
                out << "  version:       " << program.fileVersion << "\n";
            for (auto &field : program.version) {
                std::string label = field.first + ":";
                label.resize(std::max<size_t>(label.size(), 17), ' ');
                out << "    " << label << Quote(field.second, nullptr, false) << "\n";
            }
        }
        out << "configuration:   at " << report.configAt << ", " << ConfigSize << " bytes in " << report.streamLength
            << " compressed, CRC-32 " << Hex(report.configCrc) << "\n";
        uint32_t flags = SfxConfig->Flags;
        out << "  form:          " << (flags & SFX_EXTRACTOR_UI ? "extractor" : "installer") << "\n";
        out << "  flags:        ";
        for (int bit = 0; bit < kFlagBits; bit++)
            if (flags & (1u << bit))
                out << " " << kFlagNames[bit];
        if (flags >> kFlagBits)
            out << " (unused bits 0x" << Hex(flags & ~((1u << kFlagBits) - 1)) << ")";
        out << (flags ? "" : " none") << "\n";
        uint32_t kind = SfxConfig->DestKind;
        out << "  destination:   " << (kind >= 1 && kind <= 4 ? kDestNames[kind] : "unknown") << " (" << kind << ")\n";
        for (int slot = 0; slot < 7; slot++) {
            std::string label = std::string(kSlotNames[slot]) + ":";
            label.resize(15, ' ');
            out << "  " << label << Quote(ConfigString(slot), flags & SFX_UTF8_TEXTS ? nullptr : &codepage, false)
                << "\n";
        }
        out << "  icon:          " << IconWords(false) << "\n";

        if (report.first < 0) {
            out << "entries: no local header among the first " << kScanLimit << " bytes; the stub would stop with \""
                << STR_EN_INTERNAL_ERROR "\"\n";
        } else {
            if (report.firstInsideStream)
                out << "  \"PK\\3\\4\" at offset " << report.first
                    << " lies inside the configuration stream; the stub would start its walk there\n";
            out << "entries:         first at " << report.first << "\n";
            char line[160];
            snprintf(line, sizeof line, "  %-5s %-8s %10s %10s  %-19s  %-8s  %s\n", "check", "method", "size", "packed",
                     "date and time", "CRC-32", "name");
            out << line;
            for (const EntryReport &e : report.entries) {
                snprintf(line, sizeof line, "  %-5s %-8s %10u %10u  %s  %s  ", e.problem.empty() ? "ok" : "BAD",
                         MethodName(e.header.Method), e.header.UncompressedSize, e.header.CompressedSize,
                         DosStamp(e.header.ModDate, e.header.ModTime).c_str(), Hex(e.header.Crc32).c_str());
                out << line << Bare(e.name) << (e.problem.empty() ? "" : "  (" + e.problem + ")") << "\n";
            }
            if (!report.walkStop.empty())
                out << "  " << report.walkStop << "\n";
            size_t count = report.entries.size();
            out << count << (count == 1 ? " entry, " : " entries, ") << report.total << " bytes; the walk ends at "
                << report.walkEnd << "\n";
        }
        for (const std::string &refusal : report.refusals)
            out << "refused: " << refusal << "\n";
    }
    if (report.haveComment)
        out << "archive comment: " << Quote(report.comment, nullptr, false) << "\n";
    out << (report.failures ? "the image does NOT check: " + std::to_string(report.failures) + " problem(s)\n"
                            : std::string("the image checks: the stub reads every entry\n"));
}

void PrintJson(const std::string &path, const Report &report, const TextEncoder &codepage, std::ostream &out)
{
    out << "{\n  \"image\": " << Quote(path, nullptr, true) << ",\n  \"size\": " << report.size << ",\n";
    out << "  \"brevant_image\": " << (report.configAt < 0 ? "false" : "true") << ",\n";
    if (report.haveComment)
        out << "  \"comment\": " << Quote(report.comment, nullptr, true) << ",\n";
    if (!report.loaded) {
        out << "  \"stub_stops\": " << report.stop << ",\n  \"exit_code\": " << report.exitCode << ",\n";
    } else {
        uint32_t flags = SfxConfig->Flags, kind = SfxConfig->DestKind;
        out << "  \"stub\": {\"size\": " << report.configAt << ", \"machine\": " << Quote(report.machine, nullptr, true);
        if (report.haveProgram) {
            const ProgramInfo &program = report.program;
            out << ",\n    \"execution_level\": " << Quote(program.executionLevel, nullptr, true) << ", \"icons\": [";
            for (size_t i = 0; i < program.icons.size(); i++)
                out << (i ? ", " : "") << Quote(program.icons[i], nullptr, true);
            out << "], \"file_version\": " << Quote(program.fileVersion, nullptr, true) << ", \"version\": {";
            for (size_t i = 0; i < program.version.size(); i++)
                out << (i ? ", " : "") << Quote(program.version[i].first, nullptr, true) << ": "
                    << Quote(program.version[i].second, nullptr, true);
            out << "}";
            PrintDialog(program, flags & SFX_EXTRACTOR_UI ? IDD_EXTRACTOR : IDD_INSTALLER, true, out);
        }
        out << "},\n";
        out << "  \"configuration\": {\n    \"offset\": " << report.configAt << ", \"size\": " << ConfigSize
            << ", \"compressed\": " << report.streamLength << ", \"crc32\": \"" << Hex(report.configCrc) << "\",\n";
        out << "    \"form\": \"" << (flags & SFX_EXTRACTOR_UI ? "extractor" : "installer") << "\", \"flags\": [";
        const char *comma = "";
        for (int bit = 0; bit < kFlagBits; bit++)
            if (flags & (1u << bit)) {
                out << comma << "\"" << kFlagNames[bit] << "\"";
                comma = ", ";
            }
        out << "], \"flag_bits\": " << flags << ",\n    \"destination\": \""
            << (kind >= 1 && kind <= 4 ? kDestNames[kind] : "unknown") << "\", \"destination_kind\": " << kind << ",\n";
        for (int slot = 0; slot < 7; slot++)
            out << "    \"" << kSlotKeys[slot] << "\": "
                << Quote(ConfigString(slot), flags & SFX_UTF8_TEXTS ? nullptr : &codepage, true) << ",\n";
        out << "    \"icon\": " << IconWords(true) << "\n";
        out << "  },\n  \"first_entry\": " << report.first << ",\n  \"entries\": [";
        comma = "\n";
        for (const EntryReport &e : report.entries) {
            out << comma << "    {\"name\": " << e.name << ", \"method\": \"" << MethodName(e.header.Method)
                << "\", \"size\": " << e.header.UncompressedSize << ", \"packed\": " << e.header.CompressedSize
                << ", \"time\": \"" << DosStamp(e.header.ModDate, e.header.ModTime) << "\", \"crc32\": \""
                << Hex(e.header.Crc32) << "\", \"ok\": " << (e.problem.empty() ? "true" : "false");
            if (!e.problem.empty())
                out << ", \"problem\": " << Quote(e.problem, nullptr, true);
            out << "}";
            comma = ",\n";
        }
        out << (report.entries.empty() ? "" : "\n  ") << "],\n  \"total\": " << report.total
            << ",\n  \"walk_ends_at\": " << report.walkEnd << ",\n  \"refusals\": [";
        for (size_t i = 0; i < report.refusals.size(); i++)
            out << (i ? ", " : "") << Quote(report.refusals[i], nullptr, true);
        out << "],\n";
    }
    out << "  \"problems\": " << report.failures << ",\n  \"checks\": " << (report.failures ? "false" : "true")
        << "\n}\n";
}

}  // namespace

int DescribeImage(const std::string &path, std::ostream &out, std::ostream &err, int codepage, bool json)
{
    // Only the scan's bytes and the configuration stream are read whole;
    // entries are checked where they lie.
    Bytes head;
    Report report;
    TextEncoder encoder(codepage);
    {
        FileStatus st;
        int fd = OpenForReading(path);
        if (fd < 0 || StatusOf(fd, &st) != 0 || st.kind != FileStatus::Regular) {
            int error = errno;
            err << "brevant-pack: " << Printable(path) << ": " << (fd >= 0 ? "not a regular file" : strerror(error))
                << "\n";
            Failure failure = fd >= 0 ? Failure::Refused : FailureOf(error);
            if (fd >= 0)
                CloseDescriptor(fd);
            return (int)failure;
        }
        head.resize(2 * kScanLimit);
        long got = ReadUpTo(fd, head.data(), head.size());
        head.resize(got > 0 ? (size_t)got : 0);
        report.size = st.size;
        CloseDescriptor(fd);
    }
    PrepareStubDecoder();
    FileHandle image = OpenReadShared(path.c_str());

    report.configAt = FindSignature(image, CONFIG_SIG_LOW, CONFIG_SIG_HIGH);
    ConfigResult config = ReadConfig(image);
    if (config == CONFIG_OK) {
        report.loaded = true;
    } else {
        // What the stub's start-up shows before it ends with exit code 1.
        const char *text = config == CONFIG_READ_ERROR ? STR_EN_READ_ERROR : STR_EN_INTERNAL_ERROR;
        report.stop = Quote(text, nullptr, json);
        report.exitCode = 1;
        report.failures++;
    }
    if (report.loaded) {
        size_t at = (size_t)report.configAt;
        report.streamLength = StreamLength(head, at + 12);
        report.configCrc = head[at + 4] | head[at + 5] << 8 | head[at + 6] << 16 | (uint32_t)head[at + 7] << 24;
        report.machine = StubMachine(head);
        head.resize(std::min(head.size(), (size_t)report.configAt));
        std::string problem = ProgramHeadersProblem(head);
        if (!problem.empty())
            report.refusals.push_back("the program in front of the archive: " + problem);
        report.haveProgram = ReadProgramInfo(head, &report.program);
        Walk(image, report, encoder, json);
        Refusals(image, report);
    }
    if (image != INVALID_FILE)
        CloseFile(image);
    report.haveComment = ReadArchiveComment(path, &report.comment) && !report.comment.empty();
    if (json)
        PrintJson(path, report, encoder, out);
    else
        PrintText(path, report, encoder, out);
    return report.failures ? 1 : 0;
}

}  // namespace pack
