// --describe's printing: the report as a table for a terminal, or as JSON.
#include <stdio.h>

#include "base/escape.h"
#include "base/utf8.h"
#include "cli/describe.h"

#include "resources/strings.h"


namespace pack {

// The bytes of a text or name as UTF-8 between quotes (Quoted): converted
// from the code page when they are its text (codepage null: as they are
// when they are UTF-8), else bytes beyond ASCII as \xNN.
std::string Quote(const std::string &raw, const TextEncoder *codepage, bool json)
{
    std::string utf8 = raw;
    bool converted = codepage ? codepage->Decode(raw, &utf8) : IsUtf8(raw);
    return Quoted(converted ? utf8 : raw, converted, json);
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
            text[l] = k == 2 && t.empty() ? (json ? "null" : "none") : Quote(Utf8(t.c_str()), nullptr, json);
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

}  // namespace

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

}  // namespace pack
