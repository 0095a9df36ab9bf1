// The stub as a Windows program: its PE headers and sections, the icon,
// version, manifest and dialog resources the packer writes into its copy of
// the stub, and what an image's resources tell.
#pragma once

#include <stdint.h>

#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "base/bytes.h"
#include "base/errors.h"
#include "core/core.h"

namespace pack {

// ---- PE layout (layout.cpp, sections.cpp) ----------------------------------------
// Where the stub's scans begin in image: the end of its PE headers
// (SizeOfHeaders), 0 when the headers are not sound. The headers' checksum
// and certificate fields belong to whoever signs the image: no rule looks
// at the bytes before this offset.
uint32_t HeadersEnd(const Bytes &image);
// Where a PE image's headers lie (offsets into the file), as read by
// ReadPeLayout; false when the image has no sound PE headers.
// dosHeader is set whenever the image begins with an IMAGE_DOS_HEADER ("MZ"),
// whatever follows it.
struct PeLayout {
    bool dosHeader = false;
    size_t fileHeader = 0;      // IMAGE_FILE_HEADER, after "PE\0\0"
    size_t optionalHeader = 0;  // IMAGE_OPTIONAL_HEADER32 or 64
    size_t directories = 0;     // the data directories
    uint32_t directoryCount = 0;
    size_t sectionTable = 0;
    uint32_t sections = 0;
    bool is64 = false;
};
bool ReadPeLayout(const Bytes &image, PeLayout *layout);
// Offsets of the fields the packer reads and writes, within their structures,
// named as Microsoft's winnt.h names them.
namespace image_file_header {
constexpr size_t Machine = 0, NumberOfSections = 2, SizeOfOptionalHeader = 16;
}
namespace image_optional_header {  // the same in IMAGE_OPTIONAL_HEADER32 and 64
constexpr size_t Magic = 0, SizeOfInitializedData = 8, SectionAlignment = 32, FileAlignment = 36,
                 SizeOfImage = 56, SizeOfHeaders = 60, CheckSum = 64;
}
namespace image_section_header {
constexpr size_t VirtualSize = 8, VirtualAddress = 12, SizeOfRawData = 16, PointerToRawData = 20;
}
namespace image_data_directory {
constexpr size_t VirtualAddress = 0, Size = 4;
}
constexpr uint16_t IMAGE_DOS_SIGNATURE = 0x5A4D;  // "MZ"
constexpr uint32_t IMAGE_NT_SIGNATURE = 0x4550;   // "PE\0\0"
constexpr uint16_t IMAGE_FILE_MACHINE_I386 = 0x014C;
constexpr uint16_t IMAGE_FILE_MACHINE_AMD64 = 0x8664;
constexpr uint32_t IMAGE_DIRECTORY_ENTRY_RESOURCE = 2;
constexpr uint32_t IMAGE_DIRECTORY_ENTRY_SECURITY = 4;
constexpr uint32_t IMAGE_DIRECTORY_ENTRY_BASERELOC = 5;
// A data directory's address (for the certificate table a file offset) and
// size; 0 for one the header does not have.
uint32_t PeDirectory(const Bytes &image, const PeLayout &layout, uint32_t index, uint32_t *size = nullptr);
// Refuses a stub that carries a certificate table: appending to it breaks
// the signature, and its table would lie inside the image's scan.
void CheckUnsigned(const Bytes &stub);
// The machine a stub (or an image) is built for, from its PE header: "x86",
// "x64", or a description of anything else.
std::string StubMachine(const Bytes &image);

constexpr size_t IMAGE_SIZEOF_SECTION_HEADER = 40;
inline uint32_t AlignUp(uint32_t v, uint32_t alignment) { return (v + alignment - 1) / alignment * alignment; }
// One IMAGE_SECTION_HEADER, as read.
struct Section {
    size_t header;  // its offset in the file
    uint32_t VirtualSize, VirtualAddress, SizeOfRawData, PointerToRawData;
};
Section ReadSection(const Bytes &image, const PeLayout &pe, uint32_t index);
// image with section index replaced by section (the sections after it
// must be movable: only the relocations), the sections after it moved, the
// directories within them with them; the size of the section's own
// directory (directory), SizeOfImage and SizeOfInitializedData updated. The
// checksum is left to WritePeChecksum. Throws PackError.
Bytes ReplaceSection(const Bytes &image, const PeLayout &pe, uint32_t index, uint32_t directory,
                     const Bytes &section);

// ---- Icons ---------------------------------------------------------------------
constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
struct IconInfo {
    int width = 0, height = 0, bitCount = 0;
    bool png = false;
};
// Checks one icon image in the CreateIconFromResource layout (BITMAPINFOHEADER
// of doubled height, colour table, XOR bits, AND bits) or PNG.
bool ReadIconImage(const uint8_t *bytes, size_t size, IconInfo *info);
// The image of an .ico file nearest to 32x32 (exactly 32x32 when there is one;
// then the deepest colour, a bitmap before a PNG). Throws PackError.
Bytes ExtractIcon(const Bytes &ico, const std::string &what, IconInfo *info = nullptr);

// One icon image made smaller without loss: a PNG deflated anew at
// libdeflate's level 12, a bitmap of 48 pixels and more as PNG where PNG
// holds it exactly; the image itself when that is not smaller.
Bytes SmallerIconImage(const Bytes &image);
// An .ico file (already checked by ExtractIcon) with only its images of at
// most most pixels (0: all), each SmallerIconImage with smaller. The result
// may hold no image.
Bytes RebuildIcon(const Bytes &ico, int most, bool smaller);

// ---- The program's own resources ----------------------------------------------------
// What Explorer, the file's properties and UAC show of the image, written
// into the stub's resource section in the image.
struct ProgramResources {
    Bytes icon;                 // an .ico file: every image into one icon group; empty: none
    std::string iconName;       // its path, for messages
    bool version = false;       // write a version resource
    uint16_t fileVersion[4] = {}, productVersion[4] = {};
    std::string fileVersionText, productVersionText;  // as given, for the string table
    std::string product, company, copyright, fileDescription;  // UTF-8
    std::string executionLevel;  // into the manifest; empty: the stub's own
    bool iconImplied = false;    // the dialog's --icon, not an --exe-icon of its own
    // The dialogs' title, banner and link (UTF-8), [0] English, [1] Japanese:
    // an empty title or banner keeps the stub's, an empty link hides it.
    std::string title[2], banner[2], link[2];
    bool dialogAsked = false;   // --title, --banner or --link, or a -ja form
    int iconMost = 0;            // --exe-icon-max: only the images up to this size; 0 all
    bool any() const;
};
// The options of the dialogs' texts, each also with "-ja".
extern const char *const kDialogOptions[3];  // --title, --banner, --link
// The resources the options give (--exe-icon, else icon; --file-version,
// --product-version, --product, --company, --copyright, --file-description,
// which defaults to the product, else to description; --execution-level).
// Throws PackError.
ProgramResources ProgramResourcesFrom(const std::map<std::string, std::string> &given, const std::string &icon,
                                      const std::string &description);
// The stub with the program's resources (BuildPrefix checks it as a stub);
// the stub as it is when there are none. --icon alone on a stub without resources is a
// warning on err.
Bytes WithProgramResources(const Bytes &stub, const ProgramResources &program, std::ostream &err);
// What an image's resources tell: the version resource's strings (key,
// UTF-8 value) and fixed file version, the manifest's execution level, the
// icon group's sizes. False when it has no readable resource section.
struct ProgramInfo {
    std::vector<std::pair<std::string, std::string>> version;
    std::string fileVersion, executionLevel;
    std::vector<std::string> icons;
    struct Dialog {
        uint32_t form = 0;  // IDD_INSTALLER, IDD_EXTRACTOR
        bool japanese = false;
        std::u16string title, banner, link;  // link: empty when none is shown
    };
    std::vector<Dialog> dialogs;
};
bool ReadProgramInfo(const Bytes &image, ProgramInfo *info);
// What keeps the program in image from starting as itself: PE headers that
// its DOS header names but that do not read, or a resource directory within
// no section; "" when nothing does (a stub without PE headers at all, as a
// test's stand-in, names none).
std::string ProgramHeadersProblem(const Bytes &image);
// The stub with its resource section laid out anew: the icon group (RT_ICON
// 1 to n, RT_GROUP_ICON 1), the version resource (RT_VERSION 1) and the
// manifest's execution level; the sections after it (only relocations)
// moved, SizeOfImage, SizeOfInitializedData and the directories updated.
// The checksum is left to WritePeChecksum. Throws PackError.
Bytes RewriteResources(const Bytes &stub, const ProgramResources &resources);
// A.B.C.D, each 0 to 65535, into parts; throws PackError naming what.
void ParseVersion(const std::string &text, const std::string &what, uint16_t parts[4]);
std::string IconSize(const IconInfo &info);  // "48x48", "256x256 PNG"

namespace resource {

// ---- The resource section's tree (resources.cpp, resource_read.cpp) -------------
constexpr uint32_t RT_ICON = 3;
constexpr uint32_t RT_DIALOG = 5;
constexpr uint32_t RT_GROUP_ICON = 14;
constexpr uint32_t RT_VERSION = 16;
constexpr uint32_t RT_MANIFEST = 24;
constexpr uint32_t kLangNeutral = 0;
constexpr uint32_t kLangEnglishUs = 0x0409;
constexpr uint32_t kHighBit = 0x80000000;
constexpr size_t IMAGE_SIZEOF_RESOURCE_DIRECTORY_ENTRY = 8;
namespace image_resource_directory {
constexpr size_t NumberOfNamedEntries = 12, NumberOfIdEntries = 14;
}
namespace image_resource_directory_entry {
constexpr size_t Name = 0, OffsetToData = 4;
}
namespace image_resource_data_entry {
constexpr size_t OffsetToData = 0, Size = 4, CodePage = 8;
}

// A resource's type or name: a number, or a string when name is not empty.
struct ResourceId {
    uint32_t id = 0;
    std::u16string name;
    bool operator<(const ResourceId &other) const
    {
        if (name.empty() != other.name.empty())
            return !name.empty();  // named entries first
        return name.empty() ? id < other.id : name < other.name;
    }
};

struct Resource {
    ResourceId type, name;
    uint32_t language = 0, codePage = 0;
    Bytes data;
    size_t dataAt = 0, entryAt = 0;  // as read: the file offsets of the data and its data entry
};
// The resources of section (the stub's resource section), in the order
// stored. Throws PackError when the tree is damaged.
std::vector<Resource> ReadResources(const Bytes &image, const Section &section);

// ---- What the resources hold ------------------------------------------------------

// The RT_VERSION resource of the program: VS_VERSION_INFO, its string table
// in U.S. English and Unicode, the Translation that names it.
Bytes VersionInfo(const ProgramResources &resources);
// The option whose text takes the most room in the version resource, with
// its length ("--copyright, 40000 characters"): what a message about the
// resource's size names.
std::string LongestVersionText(const ProgramResources &resources);
// The fixed file version and the strings of a version resource, into info.
void ReadVersionStrings(const Bytes &data, ProgramInfo *info);

// A dialog template (RT_DIALOG) of the stub in language with the
// publisher's title, banner and link (dialogs.cpp). Throws PackError.
Bytes BrandDialog(const Bytes &data, uint32_t language, const ProgramResources &program);
// The dialogs' title, banner and link from the options (their -ja forms
// defaulting to the plain ones, the banner to --product), into program;
// refuses a link that is no web address and a text that does not fit its
// line. Throws PackError.
void DialogTextsFrom(const std::map<std::string, std::string> &given, ProgramResources &program);
// The dialog texts of a template, into info (nothing for a damaged one).
void ReadDialogTexts(const Bytes &data, uint32_t form, uint32_t language, ProgramInfo *info);

}  // namespace resource

}  // namespace pack
