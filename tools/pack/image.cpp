// Laying out the image: stub, configuration header and stream, ZIP local
// entries, central directory, end record; and every placement rule the stub
// relies on, checked before a byte is written.
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include <zlib.h>

#include "bytes.h"

namespace pack {

// The signatures as the stub scans for them: two little-endian halves.
static const uint8_t kLocalSignature[4] = {LOCAL_SIG_LOW & 0xFF, LOCAL_SIG_LOW >> 8,
                                           LOCAL_SIG_HIGH & 0xFF, LOCAL_SIG_HIGH >> 8};
static const uint8_t kConfigSignature[4] = {CONFIG_SIG_LOW & 0xFF, CONFIG_SIG_LOW >> 8,
                                            CONFIG_SIG_HIGH & 0xFF, CONFIG_SIG_HIGH >> 8};

// The first signature in bytes from the end of the PE headers, where the
// stub's scan begins, to the last byte: the stub's own scan without its
// limit (the callers refuse a stub or a configuration that ends past the
// limit by its size, with a message of their own).
static size_t Find(const Bytes &bytes, uint16_t low, uint16_t high)
{
    static_assert(kSmallFileLimit < INT32_MAX, "a stub's offsets are int32_t");
    int32_t at = FindSignatureIn(bytes.data(), (uint32_t)bytes.size(), HeadersEnd(bytes), low, high);
    return at < 0 ? std::string::npos : (size_t)at;
}

// ---- The configuration block ---------------------------------------------------------

Bytes BuildConfigBlock(const ConfigSettings &settings, size_t padding)
{
    Bytes block(CONFIG_FIXED_SIZE, 0);
    PutAt32(block, 0, settings.flags);
    PutAt32(block, 4, settings.destKind);
    uint32_t offsets[CONFIG_SLOTS];
    for (int slot = 0; slot < kTextSlots; slot++) {
        const std::string &text = settings.texts[slot];
        if (text.find('\0') != std::string::npos)
            throw PackError("a text holds a zero byte, which would end it early");
        // Equal texts (most often empty ones) share their bytes.
        int same = -1;
        for (int earlier = 0; earlier < slot && same < 0; earlier++)
            if (settings.texts[earlier] == text)
                same = earlier;
        if (same >= 0) {
            offsets[slot] = offsets[same];
            continue;
        }
        offsets[slot] = (uint32_t)block.size();
        block.insert(block.end(), text.begin(), text.end());
        block.push_back(0);
    }
    block.insert(block.end(), padding, 0);
    if (settings.icon.empty()) {
        // No icon: slot 7 points at a single zero byte, which no icon loader
        // accepts, so the icon control stays empty.
        offsets[CFG_ICON] = (uint32_t)block.size() - 1;
    } else {
        offsets[CFG_ICON] = (uint32_t)block.size();
        block.insert(block.end(), settings.icon.begin(), settings.icon.end());
    }
    for (int slot = 0; slot < CONFIG_SLOTS; slot++)
        PutAt32(block, 8 + 4 * slot, offsets[slot]);
    return block;
}

// ---- Checks -------------------------------------------------------------------------

void CheckStub(const Bytes &stub)
{
    PeLayout pe;
    ReadPeLayout(stub, &pe);
    if (!pe.dosHeader)
        throw PackError("the stub is not a Windows executable (no MZ header)");
    CheckUnsigned(stub);
    size_t at = Find(stub, CONFIG_SIG_LOW, CONFIG_SIG_HIGH);
    if (at != std::string::npos)
        throw PackError("the stub holds the bytes \"JAVA\" at offset " + std::to_string(at) +
                        "; it would find that instead of its configuration");
    at = Find(stub, LOCAL_SIG_LOW, LOCAL_SIG_HIGH);
    if (at != std::string::npos)
        throw PackError("the stub holds the bytes \"PK\\3\\4\" at offset " + std::to_string(at) +
                        "; it would take that for its first archive entry");
    if (stub.size() > kLastSignatureOffset)
        throw PackError("the stub is " + std::to_string(stub.size()) +
                        " bytes; the configuration must begin at offset " +
                        std::to_string(kLastSignatureOffset) + " or less");
}

std::string StubMachine(const Bytes &image)
{
    PeLayout pe;
    if (!ReadPeLayout(image, &pe))
        return pe.dosHeader ? "no PE executable" : "no Windows executable";
    unsigned machine = Get16(image, pe.fileHeader + image_file_header::Machine);
    if (machine == IMAGE_FILE_MACHINE_I386)
        return "x86";
    if (machine == IMAGE_FILE_MACHINE_AMD64)
        return "x64";
    char text[32];
    snprintf(text, sizeof text, "machine 0x%04X", machine);
    return text;
}

void CheckCountAndTotal(size_t count, uint64_t total)
{
    if (count == 0)
        throw PackError("nothing to pack: the archive needs at least one entry");
    if (count > 0xFFFF)
        throw PackError(std::to_string(count) + " entries; the archive has room for 65,535");
    if (total > 0xFFFFFFFFu)
        throw PackError("the entries add up to " + std::to_string(total) +
                        " bytes; the stub counts the total in 32 bits (at most 4,294,967,295)");
}

// The length of folder (TextEncoder::Units) once the stub has given it its
// trailing backslash: a backslash is added unless the last character already
// is one (in a double-byte code page a trail byte 0x5C is none; in UTF-8 no
// byte of a longer character is); an empty folder stays empty.
static size_t WithBackslash(const std::string &folder, const TextEncoder &encoder)
{
    const char *last = nullptr;
    for (size_t at = 0; at < folder.size(); at++) {
        last = &folder[at];
        if (encoder.IsLeadByte((uint8_t)folder[at]))
            at++;
    }
    return encoder.Units(folder) + (last && *last != '\\' ? 1 : 0);
}

void CheckPathLimits(const ConfigSettings &config, const std::vector<InputItem> &items,
                     const TextEncoder &encoder)
{
    const size_t most = kPathChars - 1;
    auto tooLong = [&](const std::string &what, size_t length, const char *unit) {
        return PackError(what + " " + std::to_string(length) + " " + unit + "; the stub's path buffer holds " +
                         std::to_string(most));
    };
    bool fixed = config.destKind == DEST_FIXED;
    const std::string &folder = config.texts[CFG_FIXED_DIR];
    if (fixed && encoder.Units(folder) > most)
        throw tooLong("--dest fixed: the folder is", encoder.Units(folder), encoder.UnitName());
    size_t base = fixed ? WithBackslash(folder, encoder) : 0;
    const std::string &run = config.texts[CFG_RUN_COMMAND];
    if (encoder.Units(run) > most)
        throw tooLong("--run: the command is", encoder.Units(run), encoder.UnitName());
    const std::string &wait = config.texts[CFG_WAIT_FILE];
    if (!wait.empty() && base + encoder.Units(wait) > most)
        throw tooLong(fixed ? "--wait-file: behind the fixed folder the file's path is" : "--wait-file: the name is",
                      base + encoder.Units(wait), encoder.UnitName());
    if (!fixed)
        return;
    const InputItem *longest = nullptr;
    size_t longestUnits = 0;
    for (const InputItem &item : items) {
        size_t units = encoder.Units(item.name);
        if (!longest || units > longestUnits)
            longest = &item, longestUnits = units;
    }
    if (longest && base + longestUnits > most)
        throw tooLong("--dest fixed: " + longest->utf8 + " would be extracted to a path of", base + longestUnits,
                      encoder.UnitName());
}

// ---- The configuration stream and its placement -------------------------------------

static std::vector<Encoding> DefaultEncodings(int level)
{
    std::vector<Encoding> list = {{Coder::Libdeflate, level}};
    for (int other = 12; other >= 1; other--)
        if (other != level)
            list.push_back({Coder::Libdeflate, other});
    list.push_back({Coder::Zlib, 9});
    list.push_back({Coder::ZlibFixed, 9});
    list.push_back({Coder::Stored, 0});
    return list;
}

// The largest part of the configuration: "--about (40000 bytes)".
static std::string LargestPart(const ConfigSettings &config)
{
    int largest = CFG_ICON;
    size_t most = config.icon.size();
    for (int slot = 0; slot < kTextSlots; slot++)
        if (config.texts[slot].size() > most) {
            largest = slot;
            most = config.texts[slot].size();
        }
    return std::string(kSlotOptions[largest]) + " (" + std::to_string(most) + " bytes)";
}

// Finds a stream for the block that the stub decodes, that keeps the first
// local header within the scan limit, and that puts no "PK\3\4" into the
// bytes before it. If the header's own CRC-32 and size make the bytes, no
// coder helps: unused padding in the block changes both.
static void PlaceConfig(const ImagePlan &plan, Bytes &prefix, BuiltImage &built)
{
    CheckStub(plan.stub);
    std::vector<Encoding> encodings =
        plan.configEncodings.empty() ? DefaultEncodings(plan.level) : plan.configEncodings;
    size_t smallest = SIZE_MAX;
    for (size_t padding = 0; padding < 256; padding++) {
        Bytes block = BuildConfigBlock(plan.config, padding);
        bool signatureOnly = false;  // some stream fitted but held the signature
        for (const Encoding &encoding : encodings) {
            Bytes stream = Deflate(block, encoding);
            if (!StubDecodes(stream, block))
                continue;
            Bytes candidate = plan.stub;
            candidate.insert(candidate.end(), kConfigSignature, kConfigSignature + 4);
            Put32(candidate, (uint32_t)crc32(0, block.data(), (uInt)block.size()));
            Put32(candidate, (uint32_t)block.size());
            candidate.insert(candidate.end(), stream.begin(), stream.end());
            smallest = std::min(smallest, candidate.size());
            if (candidate.size() > kLastSignatureOffset)
                continue;
            if (Find(candidate, LOCAL_SIG_LOW, LOCAL_SIG_HIGH) != std::string::npos) {
                signatureOnly = true;
                continue;
            }
            prefix = std::move(candidate);
            built.configSize = (uint32_t)block.size();
            built.configStreamSize = (uint32_t)stream.size();
            built.configEncoding = encoding;
            built.configPadding = padding;
            return;
        }
        if (!signatureOnly)
            break;  // padding only makes it larger
    }
    if (smallest != SIZE_MAX && smallest > kLastSignatureOffset)
        throw PackError(LargestPart(plan.config) + ": the stub and the configuration take " +
                        std::to_string(smallest) + " bytes; the first archive entry must begin at offset " +
                        std::to_string(kLastSignatureOffset) +
                        " or less (shorten the texts or use a smaller icon)");
    if (smallest == SIZE_MAX)
        throw PackError("the stub's decoder refused every configuration stream tried");
    throw PackError("every configuration stream tried put the bytes \"PK\\3\\4\" before the first entry");
}

// ---- The archive ---------------------------------------------------------------------

static void PutLocalHeader(Bytes &out, const ZipEntry &entry)
{
    out.reserve(out.size() + LOCAL_HEADER_SIZE + entry.name.size() + entry.extra.size());
    out.insert(out.end(), kLocalSignature, kLocalSignature + 4);
    Put16(out, 20);  // version needed: 2.0 (deflate, folders)
    Put16(out, entry.flags);  // sizes and CRC here, no data descriptor; bit 11 for a UTF-8 name
    Put16(out, entry.method);
    Put16(out, entry.time);
    Put16(out, entry.date);
    Put32(out, entry.crc);
    Put32(out, entry.compressedSize);
    Put32(out, entry.uncompressedSize);
    Put16(out, (uint32_t)entry.name.size());
    Put16(out, (uint32_t)entry.extra.size());
    out.insert(out.end(), entry.name.begin(), entry.name.end());
    out.insert(out.end(), entry.extra.begin(), entry.extra.end());
}

static void PutCentralHeader(Bytes &out, const ZipEntry &entry, uint32_t localOffset)
{
    Put32(out, 0x02014B50);
    Put16(out, 20);  // made by: MS-DOS (FAT) attributes, version 2.0
    Put16(out, 20);
    Put16(out, entry.flags);
    Put16(out, entry.method);
    Put16(out, entry.time);
    Put16(out, entry.date);
    Put32(out, entry.crc);
    Put32(out, entry.compressedSize);
    Put32(out, entry.uncompressedSize);
    Put16(out, (uint32_t)entry.name.size());
    Put16(out, (uint32_t)entry.extra.size());
    Put16(out, 0);  // comment length
    Put16(out, 0);  // disk number
    Put16(out, 0);  // internal attributes
    Put32(out, entry.folder ? 0x10 : 0x20);  // FILE_ATTRIBUTE_DIRECTORY or _ARCHIVE
    Put32(out, localOffset);
    out.insert(out.end(), entry.name.begin(), entry.name.end());
    out.insert(out.end(), entry.extra.begin(), entry.extra.end());
}

BuiltImage BuildPrefix(const ImagePlan &plan)
{
    BuiltImage built;
    PlaceConfig(plan, built.bytes, built);
    built.configOffset = (uint32_t)plan.stub.size();
    built.firstEntryOffset = (uint32_t)built.bytes.size();
    return built;
}

Bytes LocalHeaderBytes(const ZipEntry &entry)
{
    Bytes out;
    PutLocalHeader(out, entry);
    return out;
}

Bytes CentralDirectoryBytes(const std::vector<ZipEntry> &entries, const std::vector<uint32_t> &offsets,
                            uint32_t centralOffset, const std::string &comment)
{
    Bytes out;
    for (size_t i = 0; i < entries.size(); i++)
        PutCentralHeader(out, entries[i], offsets[i]);
    uint32_t centralSize = (uint32_t)out.size();
    Put32(out, 0x06054B50);  // end of central directory
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, (uint32_t)entries.size());
    Put16(out, (uint32_t)entries.size());
    Put32(out, centralSize);
    Put32(out, centralOffset);
    Put16(out, (uint32_t)comment.size());
    out.insert(out.end(), comment.begin(), comment.end());
    return out;
}

}  // namespace pack
