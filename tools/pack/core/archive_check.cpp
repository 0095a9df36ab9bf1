// The stub's check of the whole archive against its central directory, for
// --describe and for the packer's own output before it is renamed into place.
#include "core/core.h"

namespace pack {

std::string ArchiveRefusal(ArchiveCheck result, const ArchiveSummary &archive)
{
    std::string record = "record " + std::to_string(archive.Entries + 1) + " of the central directory";
    switch (result) {
    case ARCHIVE_OK: return "";
    case ARCHIVE_NO_ENTRIES: return "no local header among the first " + std::to_string(kScanLimit) + " bytes";
    case ARCHIVE_NO_END_RECORD:
        return "no end record ends the archive (missing, cut, a comment that runs past the end, bytes behind it, "
               "or an image of 4 GiB or more)";
    case ARCHIVE_ZIP64: return "ZIP64 fields or an archive on several disks";
    case ARCHIVE_DATA_DESCRIPTOR: return record + " has its sizes after its data (a data descriptor)";
    case ARCHIVE_BAD_DIRECTORY:
        return "the central directory is damaged at " + record + ", or does not end where the end record begins";
    case ARCHIVE_DISAGREES:
        return record + " disagrees with the local headers (its header missing or elsewhere, another name, flags, "
                        "method, time, CRC-32 or size, its data past the directory), or a local entry that no "
                        "record lists";
    }
    return "check result " + std::to_string((int)result);
}

void CheckWrittenArchive(const std::string &path)
{
    FileHandle image = OpenReadShared(path.c_str());
    if (image == INVALID_FILE)
        throw PackError("can't read back " + path, Failure::Io);
    ArchiveSummary archive;
    ArchiveCheck result = CheckArchive(image, &archive);
    CloseFile(image);
    if (result != ARCHIVE_OK)
        throw PackError(path + ": the stub would refuse the archive written: " + ArchiveRefusal(result, archive),
                        Failure::Io);
}

}  // namespace pack
