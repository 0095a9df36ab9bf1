// The program's own resources in the image: the stub's resource section laid
// out anew with the publisher's icon group, a version resource and the
// execution level in the manifest; the sections after it (the relocations)
// moved and the headers updated. The stub file itself is never changed.
//
// Resource format notes. The section begins with a tree of three levels of
// IMAGE_RESOURCE_DIRECTORY (16 bytes: characteristics, time stamp, version,
// NumberOfNamedEntries, NumberOfIdEntries) each followed by its entries
// (8 bytes: a name or id, then an offset): type, name, language. A name
// with the high bit set is the offset of a counted UTF-16 string
// (IMAGE_RESOURCE_DIR_STRING_U); an offset with the high bit set leads to a
// lower directory, else to an IMAGE_RESOURCE_DATA_ENTRY (16 bytes: the
// data's RVA, size, code page, reserved). Offsets count from the section's
// start; named entries come first, then ids in ascending order.
//
// An icon group (RT_GROUP_ICON) is a GRPICONDIR: reserved 0, type 1, count,
// then 14-byte GRPICONDIRENTRY records, the .ico file's 16-byte entries
// with the image's file offset replaced by the 16-bit id of its RT_ICON
// resource.
#include <string.h>

#include <algorithm>
#include <map>

#include "resources.h"

namespace pack {

using namespace resource;

namespace {

constexpr uint32_t RT_ICON = 3;
constexpr uint32_t RT_DIALOG = 5;
constexpr uint32_t RT_GROUP_ICON = 14;
constexpr uint32_t RT_VERSION = 16;
constexpr uint32_t RT_MANIFEST = 24;
constexpr uint32_t kLangNeutral = 0;
constexpr uint32_t kLangEnglishUs = 0x0409;
constexpr uint32_t kHighBit = 0x80000000;
constexpr size_t IMAGE_SIZEOF_SECTION_HEADER = 40;
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

uint32_t AlignUp(uint32_t v, uint32_t alignment) { return (v + alignment - 1) / alignment * alignment; }

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

// One IMAGE_SECTION_HEADER, as read.
struct Section {
    size_t header;  // its offset in the file
    uint32_t VirtualSize, VirtualAddress, SizeOfRawData, PointerToRawData;
};

Section ReadSection(const Bytes &image, const PeLayout &pe, uint32_t index)
{
    using namespace image_section_header;
    size_t at = pe.sectionTable + IMAGE_SIZEOF_SECTION_HEADER * index;
    return {at, Get32(image, at + VirtualSize), Get32(image, at + VirtualAddress), Get32(image, at + SizeOfRawData),
            Get32(image, at + PointerToRawData)};
}

[[noreturn]] void Damaged(const std::string &what)
{
    throw PackError("the stub's resource section is damaged: " + what);
}

// ---- Reading the stub's resources -------------------------------------------------

class ResourceReader {
public:
    ResourceReader(const Bytes &image, const Section &section) : image_(image), section_(section)
    {
        if ((uint64_t)section.PointerToRawData + section.SizeOfRawData > image.size())
            Damaged("it lies beyond the end of the file");
        size_ = std::min(section.SizeOfRawData, section.VirtualSize);
    }
    std::vector<Resource> Read()
    {
        Resource path;
        Level(0, 0, path);
        return found_;
    }

private:
    uint32_t At(uint32_t offset, uint32_t count)
    {
        if (offset > size_ || count > size_ - offset)
            Damaged("an offset points outside it");
        return section_.PointerToRawData + offset;
    }
    ResourceId Id(uint32_t raw)
    {
        ResourceId id;
        if (!(raw & kHighBit)) {
            id.id = raw;
            return id;
        }
        uint32_t at = At(raw & ~kHighBit, 2);
        uint32_t length = Get16(image_, at);
        at = At((raw & ~kHighBit) + 2, 2 * length);
        for (uint32_t i = 0; i < length; i++)
            id.name.push_back((char16_t)Get16(image_, at + 2 * i));
        return id;
    }
    void Level(uint32_t offset, int depth, Resource &path)
    {
        uint32_t at = At(offset, 16);
        uint32_t count = Get16(image_, at + image_resource_directory::NumberOfNamedEntries) +
                         Get16(image_, at + image_resource_directory::NumberOfIdEntries);
        at = At(offset + 16, 8 * count);
        for (uint32_t i = 0; i < count; i++) {
            size_t item = at + IMAGE_SIZEOF_RESOURCE_DIRECTORY_ENTRY * i;
            uint32_t name = Get32(image_, item + image_resource_directory_entry::Name),
                     target = Get32(image_, item + image_resource_directory_entry::OffsetToData);
            if (depth == 0)
                path.type = Id(name);
            else if (depth == 1)
                path.name = Id(name);
            else
                path.language = name & 0xFFFF;
            if ((target & kHighBit) != 0 && depth < 2) {
                Level(target & ~kHighBit, depth + 1, path);
                continue;
            }
            if ((target & kHighBit) != 0 || depth != 2)
                Damaged("its tree is not three levels deep");
            uint32_t entry = At(target, 16);
            uint32_t rva = Get32(image_, entry + image_resource_data_entry::OffsetToData),
                     size = Get32(image_, entry + image_resource_data_entry::Size);
            if (rva < section_.VirtualAddress)
                Damaged("a resource's data lies outside it");
            uint32_t data = At(rva - section_.VirtualAddress, size);
            path.codePage = Get32(image_, entry + image_resource_data_entry::CodePage);
            path.data.assign(image_.begin() + data, image_.begin() + data + size);
            path.dataAt = data;
            path.entryAt = entry;
            found_.push_back(path);
        }
    }
    const Bytes &image_;
    Section section_;
    uint32_t size_;
    std::vector<Resource> found_;
};

// ---- Laying the section out ---------------------------------------------------------

void PutDirectory(Bytes &out, uint32_t named, uint32_t ids)
{
    out.insert(out.end(), 12, 0);  // characteristics, time stamp, version
    Put16(out, named);
    Put16(out, ids);
}

template <class Children>
void PutDirectoryOf(Bytes &out, const Children &children)
{
    uint32_t named = 0;
    for (auto &child : children)
        named += !child.first.name.empty();
    PutDirectory(out, named, (uint32_t)children.size() - named);
}

// The tree, its strings, the data entries and the data, the data's RVAs
// counted from address, where the section begins.
Bytes LayOut(const std::vector<Resource> &resources, uint32_t address)
{
    std::map<ResourceId, std::map<ResourceId, std::map<uint32_t, const Resource *>>> tree;
    for (const Resource &r : resources)
        tree[r.type][r.name][r.language] = &r;

    // Sizes first: every directory, then the data entries, then the strings.
    uint32_t directories = 16 + 8 * (uint32_t)tree.size(), entries = 0;
    for (auto &type : tree) {
        directories += 16 + 8 * (uint32_t)type.second.size();
        for (auto &name : type.second) {
            directories += 16 + 8 * (uint32_t)name.second.size();
            entries += (uint32_t)name.second.size();
        }
    }
    Bytes strings;
    uint32_t stringsAt = directories + 16 * entries;
    std::map<std::u16string, uint32_t> stringOffsets;
    auto nameOf = [&](const ResourceId &id) -> uint32_t {
        if (id.name.empty())
            return id.id;
        auto known = stringOffsets.find(id.name);
        if (known != stringOffsets.end())
            return known->second;
        uint32_t offset = kHighBit | (stringsAt + (uint32_t)strings.size());
        Put16(strings, (uint32_t)id.name.size());
        for (char16_t c : id.name)
            Put16(strings, c);
        return stringOffsets[id.name] = offset;
    };
    for (auto &type : tree) {
        nameOf(type.first);
        for (auto &name : type.second)
            nameOf(name.first);
    }
    uint32_t dataAt = AlignUp(stringsAt + (uint32_t)strings.size(), 8);

    // Breadth first: the root with its entries, each type's directory,
    // then each name's; an entry's target is known once the directory it
    // leads to is placed, so the entries of the name level are patched then.
    Bytes out, entryTable, data;
    PutDirectoryOf(out, tree);
    size_t typeEntries = out.size();
    out.resize(out.size() + 8 * tree.size());
    size_t i = 0;
    std::vector<std::pair<size_t, const std::map<uint32_t, const Resource *> *>> languageLevels;
    for (auto &type : tree) {
        PutAt32(out, typeEntries + 8 * i, nameOf(type.first));
        PutAt32(out, typeEntries + 8 * i + 4, kHighBit | (uint32_t)out.size());
        i++;
        PutDirectoryOf(out, type.second);
        for (auto &name : type.second) {
            Put32(out, nameOf(name.first));
            languageLevels.push_back({out.size(), &name.second});
            Put32(out, 0);
        }
    }
    uint32_t entryAt = directories;
    for (auto &level : languageLevels) {
        PutAt32(out, level.first, kHighBit | (uint32_t)out.size());
        PutDirectory(out, 0, (uint32_t)level.second->size());
        for (auto &language : *level.second) {
            const Resource &r = *language.second;
            Put32(out, language.first);
            Put32(out, entryAt);
            entryAt += 16;
            Put32(entryTable, address + dataAt + (uint32_t)data.size());
            Put32(entryTable, (uint32_t)r.data.size());
            Put32(entryTable, r.codePage);
            Put32(entryTable, 0);
            data.insert(data.end(), r.data.begin(), r.data.end());
            Pad(data, 8);
        }
    }
    out.insert(out.end(), entryTable.begin(), entryTable.end());
    out.insert(out.end(), strings.begin(), strings.end());
    Pad(out, 8);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// ---- What the packer adds -------------------------------------------------------------

// The images of an .ico file as RT_ICON resources 1 to n and their group.
void AddIconGroup(std::vector<Resource> &resources, const ProgramResources &program)
{
    const Bytes &ico = program.icon;
    const std::string &what = program.iconName;
    ExtractIcon(ico, what);  // the directory and every image checked
    size_t count = Get16(ico, 4);
    Resource group;
    group.type.id = RT_GROUP_ICON;
    group.name.id = 1;
    group.language = kLangNeutral;
    Put16(group.data, 0);
    Put16(group.data, 1);
    Put16(group.data, (uint32_t)count);
    for (size_t i = 0; i < count; i++) {
        size_t entry = 6 + 16 * i;
        uint32_t length = Get32(ico, entry + 8), offset = Get32(ico, entry + 12);
        Resource image;
        image.type.id = RT_ICON;
        image.name.id = (uint32_t)(i + 1);
        image.language = kLangNeutral;
        image.data.assign(ico.begin() + offset, ico.begin() + offset + length);
        IconInfo info;
        ReadIconImage(image.data.data(), image.data.size(), &info);
        for (const char *signature : {"JAVA", "PK\3\4"})
            if (std::search(image.data.begin(), image.data.end(), signature, signature + 4) != image.data.end())
                throw PackError(what + ": icon image " + std::to_string(i + 1) + " (" + IconSize(info) +
                                ") holds the bytes \"" + (signature[0] == 'J' ? "JAVA" : "PK\\3\\4") +
                                "\", which the stub would take for its own; leave it out of the file");
        resources.push_back(image);
        // GRPICONDIRENTRY: the .ico entry's first 12 bytes, planes and bit
        // count from the image where the file leaves them 0, then the id.
        group.data.insert(group.data.end(), ico.begin() + entry, ico.begin() + entry + 4);
        Put16(group.data, Get16(ico, entry + 4) ? Get16(ico, entry + 4) : 1);
        Put16(group.data, Get16(ico, entry + 6) ? Get16(ico, entry + 6) : (uint32_t)info.bitCount);
        Put32(group.data, length);
        Put16(group.data, (uint32_t)(i + 1));
    }
    resources.push_back(group);
}

// The stub's manifest with the execution level set.
void SetExecutionLevel(std::vector<Resource> &resources, const std::string &level)
{
    static const std::string kAttribute = "requestedExecutionLevel level=\"";
    for (Resource &r : resources) {
        if (r.type.id != RT_MANIFEST || !r.type.name.empty())
            continue;
        std::string text(r.data.begin(), r.data.end());
        size_t at = text.find(kAttribute);
        size_t end = at == std::string::npos ? at : text.find('"', at + kAttribute.size());
        if (end == std::string::npos)
            break;
        at += kAttribute.size();
        text.replace(at, end - at, level);
        r.data.assign(text.begin(), text.end());
        return;
    }
    throw PackError("--execution-level: the stub has no manifest with a requestedExecutionLevel to set");
}

}  // namespace

Bytes RewriteResources(const Bytes &stub, const ProgramResources &program)
{
    PeLayout pe;
    if (!ReadPeLayout(stub, &pe))
        throw PackError("the stub has no PE headers, so it can't be given resources");
    uint32_t resourcesAt = PeDirectory(stub, pe, IMAGE_DIRECTORY_ENTRY_RESOURCE);
    uint32_t relocationsAt = PeDirectory(stub, pe, IMAGE_DIRECTORY_ENTRY_BASERELOC);
    uint32_t index = 0;
    while (index < pe.sections && ReadSection(stub, pe, index).VirtualAddress != resourcesAt)
        index++;
    if (!resourcesAt || index == pe.sections)
        throw PackError("the stub has no resource section of its own to give resources to");
    Section rsrc = ReadSection(stub, pe, index);
    // Only the relocations may follow: nothing refers to them by address,
    // so they can move. A section of code or data could not.
    for (uint32_t later = index + 1; later < pe.sections; later++) {
        Section s = ReadSection(stub, pe, later);
        if (relocationsAt < s.VirtualAddress || relocationsAt >= s.VirtualAddress + std::max(s.VirtualSize, s.SizeOfRawData) ||
            s.PointerToRawData < rsrc.PointerToRawData + rsrc.SizeOfRawData)
            throw PackError("the stub has sections other than its relocations after its resources; "
                            "they can't be moved");
    }

    std::vector<Resource> resources = ResourceReader(stub, rsrc).Read();
    auto drop = [&](uint32_t type) {
        resources.erase(std::remove_if(resources.begin(), resources.end(),
                                       [&](const Resource &r) { return r.type.name.empty() && r.type.id == type; }),
                        resources.end());
    };
    if (!program.icon.empty()) {
        drop(RT_ICON);
        drop(RT_GROUP_ICON);
        AddIconGroup(resources, program);
    }
    if (program.version) {
        drop(RT_VERSION);
        Resource version;
        version.type.id = RT_VERSION;
        version.name.id = 1;
        version.language = kLangEnglishUs;
        version.data = VersionInfo(program);
        resources.push_back(version);
    }
    if (!program.executionLevel.empty())
        SetExecutionLevel(resources, program.executionLevel);
    // The dialogs alone, each no longer than before, are written over their
    // own bytes: the rest of the stub stays as built.
    bool dialogs = false, inPlace = !program.any();
    Bytes patched = stub;
    for (Resource &r : resources)
        if (r.type.name.empty() && r.type.id == RT_DIALOG && r.name.name.empty()) {
            Bytes branded = BrandDialog(r.data, r.language, program);
            inPlace &= branded.size() <= r.data.size();
            if (inPlace) {
                std::fill(patched.begin() + r.dataAt, patched.begin() + r.dataAt + r.data.size(), 0);
                std::copy(branded.begin(), branded.end(), patched.begin() + r.dataAt);
                PutAt32(patched, r.entryAt + image_resource_data_entry::Size, (uint32_t)branded.size());
            }
            r.data = branded;
            dialogs = true;
        }
    if (!dialogs && program.dialogAsked)
        throw PackError("the stub has no dialog templates to write --title, --banner or --link into");
    if (inPlace)
        return patched;
    Bytes section = LayOut(resources, rsrc.VirtualAddress);

    using namespace image_optional_header;
    size_t optional = pe.optionalHeader;
    uint32_t sectionAlignment = Get32(stub, optional + SectionAlignment),
             fileAlignment = Get32(stub, optional + FileAlignment);
    if (!sectionAlignment || !fileAlignment)
        throw PackError("the stub's headers give no section alignment");
    uint32_t rawSize = AlignUp((uint32_t)section.size(), fileAlignment);
    int64_t rawDelta = (int64_t)rawSize - rsrc.SizeOfRawData;
    int64_t addressDelta = (int64_t)AlignUp((uint32_t)section.size(), sectionAlignment) -
                           AlignUp(std::max(rsrc.VirtualSize, 1u), sectionAlignment);

    Bytes out(stub.begin(), stub.begin() + rsrc.PointerToRawData);
    out.insert(out.end(), section.begin(), section.end());
    out.resize(out.size() + (rawSize - section.size()), 0);
    out.insert(out.end(), stub.begin() + rsrc.PointerToRawData + rsrc.SizeOfRawData, stub.end());
    PutAt32(out, rsrc.header + image_section_header::VirtualSize, (uint32_t)section.size());
    PutAt32(out, rsrc.header + image_section_header::SizeOfRawData, rawSize);
    uint32_t imageEnd = rsrc.VirtualAddress + (uint32_t)section.size();
    for (uint32_t later = index + 1; later < pe.sections; later++) {
        Section s = ReadSection(stub, pe, later);
        PutAt32(out, s.header + image_section_header::VirtualAddress, (uint32_t)(s.VirtualAddress + addressDelta));
        if (s.PointerToRawData)
            PutAt32(out, s.header + image_section_header::PointerToRawData, (uint32_t)(s.PointerToRawData + rawDelta));
        imageEnd = (uint32_t)(s.VirtualAddress + addressDelta) + std::max(s.VirtualSize, 1u);
    }
    // Directories in the moved sections move with them (the certificate
    // table's "address" is a file offset, and a stub has none).
    uint32_t movedFrom = rsrc.VirtualAddress + AlignUp(std::max(rsrc.VirtualSize, 1u), sectionAlignment);
    for (uint32_t d = 0; d < pe.directoryCount; d++) {
        uint32_t at = PeDirectory(stub, pe, d);
        if (d != IMAGE_DIRECTORY_ENTRY_SECURITY && at >= movedFrom)
            PutAt32(out, pe.directories + 8 * d + image_data_directory::VirtualAddress,
                    (uint32_t)(at + addressDelta));
    }
    PutAt32(out, pe.directories + 8 * IMAGE_DIRECTORY_ENTRY_RESOURCE + image_data_directory::Size,
            (uint32_t)section.size());
    PutAt32(out, optional + SizeOfImage, AlignUp(imageEnd, sectionAlignment));
    PutAt32(out, optional + SizeOfInitializedData, (uint32_t)(Get32(stub, optional + SizeOfInitializedData) + rawDelta));
    return out;
}

std::string ProgramHeadersProblem(const Bytes &image)
{
    PeLayout pe;
    if (!ReadPeLayout(image, &pe))
        return pe.dosHeader && image.size() >= 0x40 && Get32(image, 0x3C)
                   ? "its PE headers are damaged: Windows does not start it"
                   : "";
    uint32_t size = 0, resourcesAt = PeDirectory(image, pe, IMAGE_DIRECTORY_ENTRY_RESOURCE, &size);
    if (!resourcesAt)
        return "";
    for (uint32_t index = 0; index < pe.sections; index++) {
        Section s = ReadSection(image, pe, index);
        if (resourcesAt >= s.VirtualAddress && (uint64_t)resourcesAt + size <= (uint64_t)s.VirtualAddress + s.VirtualSize)
            return "";
    }
    return "its resource directory lies outside every section: the stub finds none of its texts and dialogs";
}

bool ReadProgramInfo(const Bytes &image, ProgramInfo *info)
{
    PeLayout pe;
    if (!ReadPeLayout(image, &pe))
        return false;
    uint32_t resourcesAt = PeDirectory(image, pe, IMAGE_DIRECTORY_ENTRY_RESOURCE);
    for (uint32_t index = 0; index < pe.sections && resourcesAt; index++) {
        Section rsrc = ReadSection(image, pe, index);
        if (rsrc.VirtualAddress != resourcesAt)
            continue;
        std::vector<Resource> resources;
        try {
            resources = ResourceReader(image, rsrc).Read();
        } catch (const PackError &) {
            return false;
        }
        for (const Resource &r : resources) {
            if (!r.type.name.empty())
                continue;
            if (r.type.id == RT_MANIFEST) {
                std::string text(r.data.begin(), r.data.end());
                size_t at = text.find("requestedExecutionLevel level=\"");
                size_t end = at == std::string::npos ? at : text.find('"', at + 31);
                if (end != std::string::npos)
                    info->executionLevel = text.substr(at + 31, end - at - 31);
            } else if (r.type.id == RT_GROUP_ICON && r.data.size() >= 6) {
                size_t count = Get16(r.data, 4);
                for (size_t i = 0; i < count && 6 + 14 * (i + 1) <= r.data.size(); i++) {
                    const uint8_t *entry = &r.data[6 + 14 * i];
                    info->icons.push_back(std::to_string(entry[0] ? entry[0] : 256) + "x" +
                                          std::to_string(entry[1] ? entry[1] : 256));
                }
            } else if (r.type.id == RT_VERSION) {
                ReadVersionStrings(r.data, info);
            } else if (r.type.id == RT_DIALOG && r.name.name.empty()) {
                ReadDialogTexts(r.data, r.name.id, r.language, info);
            }
        }
        return true;
    }
    return false;
}

}  // namespace pack
