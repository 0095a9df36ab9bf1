// --describe: reads an image with the stub's own routines (signature scan,
// ReadConfig, the local-header walk, the inflater) and prints what the stub
// would see, checking every entry as the stub's extraction would.
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include <zlib.h>

#include "base/escape.h"
#include "base/utf8.h"
#include "cli/cli.h"
#include "cli/describe.h"
#include "image/image.h"
#include "os/os.h"
#include "pe/pe.h"
#include "core/core.h"

#include "resources/strings.h"

namespace pack {

namespace {

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
