// Laying out the image: stub, configuration header and stream, ZIP local
// entries, central directory, end record; and every placement rule the stub
// relies on, checked before a byte is written.
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include <zlib.h>

#include "base/files.h"
#include "image/image.h"
#include "pe/pe.h"

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

// The fields a local header and its central record share, from the version
// needed to extract through the extra field's length.
static void PutSharedFields(Bytes &out, const ZipEntry &entry)
{
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
}

static void PutLocalHeader(Bytes &out, const ZipEntry &entry)
{
    out.reserve(out.size() + LOCAL_HEADER_SIZE + entry.name.size() + entry.extra.size());
    out.insert(out.end(), kLocalSignature, kLocalSignature + 4);
    PutSharedFields(out, entry);
    out.insert(out.end(), entry.name.begin(), entry.name.end());
    out.insert(out.end(), entry.extra.begin(), entry.extra.end());
}

static void PutCentralHeader(Bytes &out, const ZipEntry &entry, uint32_t localOffset)
{
    Put32(out, 0x02014B50);
    Put16(out, 20);  // made by: MS-DOS (FAT) attributes, version 2.0
    PutSharedFields(out, entry);
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
