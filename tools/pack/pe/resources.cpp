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

#include "pe/pe.h"

namespace pack {

using namespace resource;

namespace {

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

    std::vector<Resource> resources = ReadResources(stub, rsrc);
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
    return ReplaceSection(stub, pe, index, IMAGE_DIRECTORY_ENTRY_RESOURCE, LayOut(resources, rsrc.VirtualAddress));
}

}  // namespace pack
