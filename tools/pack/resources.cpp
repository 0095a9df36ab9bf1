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
// resource. A version resource (RT_VERSION) is a tree of nodes, each
// wLength, wValueLength, wType (0 binary, 1 text), a zero-terminated UTF-16
// key, padding to 32 bits, the value, padding, and the children:
// VS_VERSION_INFO with a VS_FIXEDFILEINFO, StringFileInfo with one string
// table per language and code page ("040904B0": U.S. English, Unicode),
// VarFileInfo with the Translation those name.
#include <string.h>

#include <algorithm>
#include <map>

#include "pack.h"

namespace pack {

namespace {

constexpr uint32_t RT_ICON = 3;
constexpr uint32_t RT_GROUP_ICON = 14;
constexpr uint32_t RT_VERSION = 16;
constexpr uint32_t RT_MANIFEST = 24;
constexpr uint32_t kLangNeutral = 0;
constexpr uint32_t kLangEnglishUs = 0x0409;
constexpr uint32_t kCodePageUnicode = 1200;  // the string table's "04B0"
constexpr uint32_t kHighBit = 0x80000000;
constexpr size_t IMAGE_SIZEOF_SECTION_HEADER = 40;

uint32_t Get16(const Bytes &b, size_t at) { return b[at] | b[at + 1] << 8; }
uint32_t Get32(const Bytes &b, size_t at) { return Get16(b, at) | Get16(b, at + 2) << 16; }

void Put16(Bytes &out, uint32_t v)
{
    out.push_back((uint8_t)v);
    out.push_back((uint8_t)(v >> 8));
}

void Put32(Bytes &out, uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

void Set32(Bytes &out, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        out[at + i] = (uint8_t)(v >> (8 * i));
}

void Pad(Bytes &out, size_t alignment)
{
    while (out.size() % alignment)
        out.push_back(0);
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
};

// One section header, as read.
struct Section {
    size_t header;  // its offset in the file
    uint32_t virtualSize, address, rawSize, rawAt;
};

Section ReadSection(const Bytes &image, const PeLayout &pe, uint32_t index)
{
    size_t at = pe.sectionTable + IMAGE_SIZEOF_SECTION_HEADER * index;
    return {at, Get32(image, at + 8), Get32(image, at + 12), Get32(image, at + 16), Get32(image, at + 20)};
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
        if ((uint64_t)section.rawAt + section.rawSize > image.size())
            Damaged("it lies beyond the end of the file");
        size_ = std::min(section.rawSize, section.virtualSize);
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
        return section_.rawAt + offset;
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
        uint32_t count = Get16(image_, at + 12) + Get16(image_, at + 14);
        at = At(offset + 16, 8 * count);
        for (uint32_t i = 0; i < count; i++) {
            uint32_t name = Get32(image_, at + 8 * i), target = Get32(image_, at + 8 * i + 4);
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
            uint32_t rva = Get32(image_, entry), size = Get32(image_, entry + 4);
            if (rva < section_.address)
                Damaged("a resource's data lies outside it");
            uint32_t data = At(rva - section_.address, size);
            path.codePage = Get32(image_, entry + 8);
            path.data.assign(image_.begin() + data, image_.begin() + data + size);
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
        Set32(out, typeEntries + 8 * i, nameOf(type.first));
        Set32(out, typeEntries + 8 * i + 4, kHighBit | (uint32_t)out.size());
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
        Set32(out, level.first, kHighBit | (uint32_t)out.size());
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

// A node of a version resource; children already built.
Bytes VersionNode(const std::u16string &key, const Bytes &value, uint32_t valueLength, bool text,
                  const std::vector<Bytes> &children = {})
{
    Bytes node;
    Put16(node, 0);  // wLength, set below
    Put16(node, valueLength);
    Put16(node, text ? 1 : 0);
    for (char16_t c : key)
        Put16(node, c);
    Put16(node, 0);
    Pad(node, 4);
    node.insert(node.end(), value.begin(), value.end());
    for (const Bytes &child : children) {
        Pad(node, 4);
        node.insert(node.end(), child.begin(), child.end());
    }
    node[0] = (uint8_t)node.size();
    node[1] = (uint8_t)(node.size() >> 8);
    return node;
}

Bytes VersionString(const char *key, const std::u16string &value)
{
    Bytes text;
    for (char16_t c : value)
        Put16(text, c);
    Put16(text, 0);
    std::string k = key;
    return VersionNode(std::u16string(k.begin(), k.end()), text, (uint32_t)value.size() + 1, true);
}

Bytes VersionInfo(const ProgramResources &resources)
{
    const uint16_t *file = resources.fileVersion, *product = resources.productVersion;
    Bytes fixed;
    Put32(fixed, 0xFEEF04BD);  // VS_FIXEDFILEINFO's signature
    Put32(fixed, 0x00010000);  // its structure version
    Put32(fixed, (uint32_t)file[0] << 16 | file[1]);
    Put32(fixed, (uint32_t)file[2] << 16 | file[3]);
    Put32(fixed, (uint32_t)product[0] << 16 | product[1]);
    Put32(fixed, (uint32_t)product[2] << 16 | product[3]);
    Put32(fixed, 0x3F);        // VS_FFI_FILEFLAGSMASK
    Put32(fixed, 0);           // no flags: a release build
    Put32(fixed, 0x00040004);  // VOS_NT_WINDOWS32
    Put32(fixed, 1);           // VFT_APP
    Put32(fixed, 0);
    Put32(fixed, 0);           // no file date
    Put32(fixed, 0);

    std::vector<Bytes> strings;
    auto add = [&](const char *key, const std::string &utf8, const char *option) {
        if (!utf8.empty())
            strings.push_back(VersionString(key, Utf16(utf8, option)));
    };
    add("CompanyName", resources.company, "--company");
    add("FileDescription", resources.fileDescription, "--file-description");
    add("FileVersion", resources.fileVersionText, "--file-version");
    add("LegalCopyright", resources.copyright, "--copyright");
    add("ProductName", resources.product, "--product");
    add("ProductVersion", resources.productVersionText, "--product-version");
    Bytes table = VersionNode(u"040904B0", {}, 0, true, strings);
    Bytes stringInfo = VersionNode(u"StringFileInfo", {}, 0, true, {table});
    Bytes translation;
    Put16(translation, kLangEnglishUs);
    Put16(translation, kCodePageUnicode);
    Bytes var = VersionNode(u"Translation", translation, 4, false);
    Bytes varInfo = VersionNode(u"VarFileInfo", {}, 0, true, {var});
    return VersionNode(u"VS_VERSION_INFO", fixed, (uint32_t)fixed.size(), false, {stringInfo, varInfo});
}

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

std::string Utf8(const Bytes &bytes, size_t at, size_t units)
{
    std::string out;
    for (size_t i = 0; i < units && at + 2 * i + 1 < bytes.size(); i++) {
        uint32_t c = Get16(bytes, at + 2 * i);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < units && at + 2 * i + 3 < bytes.size()) {
            uint32_t low = Get16(bytes, at + 2 * i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                i++;
            }
        }
        if (c == 0)
            break;
        if (c < 0x80) {
            out += (char)c;
        } else if (c < 0x800) {
            out += (char)(0xC0 | c >> 6);
            out += (char)(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += (char)(0xE0 | c >> 12);
            out += (char)(0x80 | (c >> 6 & 0x3F));
            out += (char)(0x80 | (c & 0x3F));
        } else {
            out += (char)(0xF0 | c >> 18);
            out += (char)(0x80 | (c >> 12 & 0x3F));
            out += (char)(0x80 | (c >> 6 & 0x3F));
            out += (char)(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Walks a version resource's nodes from at to end: the fixed file version
// and every string of the string tables, in the order stored.
void ReadVersionNodes(const Bytes &data, size_t at, size_t end, int depth, ProgramInfo *info)
{
    while (at + 6 <= end && depth < 4) {
        size_t length = Get16(data, at), valueLength = Get16(data, at + 2);
        bool text = Get16(data, at + 4) == 1;
        if (length < 6 || at + length > end)
            return;
        size_t keyAt = at + 6, key = keyAt;
        while (key + 1 < at + length && Get16(data, key))
            key += 2;
        std::string name = Utf8(data, keyAt, (key - keyAt) / 2);
        size_t valueAt = (key + 2 + 3) & ~(size_t)3;
        size_t valueBytes = text ? 2 * valueLength : valueLength;
        if (depth == 0 && valueBytes >= 16 && valueAt + 16 <= at + length &&
            Get32(data, valueAt) == 0xFEEF04BD) {
            uint32_t ms = Get32(data, valueAt + 8), ls = Get32(data, valueAt + 12);
            info->fileVersion = std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." +
                                std::to_string(ls >> 16) + "." + std::to_string(ls & 0xFFFF);
        }
        if (depth == 3 && text)
            info->version.push_back({name, Utf8(data, valueAt, valueLength)});
        else if (name != "VarFileInfo")
            ReadVersionNodes(data, (valueAt + valueBytes + 3) & ~(size_t)3, at + length, depth + 1, info);
        at = (at + length + 3) & ~(size_t)3;
    }
}

void ReadVersionStrings(const Bytes &data, ProgramInfo *info)
{
    ReadVersionNodes(data, 0, data.size(), 0, info);
}

}  // namespace

// ---- Text --------------------------------------------------------------------------------

std::u16string Utf16(const std::string &utf8, const std::string &what)
{
    std::u16string out;
    for (size_t at = 0; at < utf8.size();) {
        uint8_t c = (uint8_t)utf8[at];
        int more = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
        uint32_t code = more == 0 ? c : more == 1 ? c & 0x1F : more == 2 ? c & 0x0F : c & 0x07;
        if (more < 0 || at + more >= utf8.size())
            throw PackError(what + ": the text is not UTF-8");
        for (int i = 1; i <= more; i++) {
            uint8_t next = (uint8_t)utf8[at + i];
            if ((next & 0xC0) != 0x80)
                throw PackError(what + ": the text is not UTF-8");
            code = code << 6 | (next & 0x3F);
        }
        static const uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
        if (code < kLeast[more] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000) || code == 0)
            throw PackError(what + ": the text is not UTF-8");
        at += 1 + more;
        if (code >= 0x10000) {
            out.push_back((char16_t)(0xD800 + ((code - 0x10000) >> 10)));
            out.push_back((char16_t)(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back((char16_t)code);
        }
    }
    return out;
}

std::string IconSize(const IconInfo &info)
{
    return std::to_string(info.width) + "x" + std::to_string(info.height) + (info.png ? " PNG" : "");
}

void ParseVersion(const std::string &text, const std::string &what, uint16_t parts[4])
{
    const char *p = text.c_str();
    for (int i = 0; i < 4; i++) {
        char *end = nullptr;
        unsigned long n = *p >= '0' && *p <= '9' ? strtoul(p, &end, 10) : 0x10000;
        if (n > 0xFFFF || *end != (i < 3 ? '.' : '\0'))
            throw PackError(what + " takes four numbers from 0 to 65535, A.B.C.D, not '" + text + "'",
                            Failure::Usage);
        parts[i] = (uint16_t)n;
        p = end + 1;
    }
}

bool ProgramResources::any() const
{
    return !icon.empty() || version || !executionLevel.empty();
}

Bytes RewriteResources(const Bytes &stub, const ProgramResources &program)
{
    PeLayout pe;
    if (!ReadPeLayout(stub, &pe))
        throw PackError("the stub has no PE headers, so it can't be given resources");
    uint32_t resourcesAt = PeDirectory(stub, pe, IMAGE_DIRECTORY_ENTRY_RESOURCE);
    uint32_t relocationsAt = PeDirectory(stub, pe, IMAGE_DIRECTORY_ENTRY_BASERELOC);
    uint32_t index = 0;
    while (index < pe.sections && ReadSection(stub, pe, index).address != resourcesAt)
        index++;
    if (!resourcesAt || index == pe.sections)
        throw PackError("the stub has no resource section of its own to give resources to");
    Section rsrc = ReadSection(stub, pe, index);
    // Only the relocations may follow: nothing refers to them by address,
    // so they can move. A section of code or data could not.
    for (uint32_t later = index + 1; later < pe.sections; later++) {
        Section s = ReadSection(stub, pe, later);
        if (relocationsAt < s.address || relocationsAt >= s.address + std::max(s.virtualSize, s.rawSize) ||
            s.rawAt < rsrc.rawAt + rsrc.rawSize)
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
    Bytes section = LayOut(resources, rsrc.address);

    size_t optional = pe.optionalHeader;
    uint32_t sectionAlignment = Get32(stub, optional + 32), fileAlignment = Get32(stub, optional + 36);
    if (!sectionAlignment || !fileAlignment)
        throw PackError("the stub's headers give no section alignment");
    uint32_t rawSize = AlignUp((uint32_t)section.size(), fileAlignment);
    int64_t rawDelta = (int64_t)rawSize - rsrc.rawSize;
    int64_t addressDelta = (int64_t)AlignUp((uint32_t)section.size(), sectionAlignment) -
                           AlignUp(std::max(rsrc.virtualSize, 1u), sectionAlignment);

    Bytes out(stub.begin(), stub.begin() + rsrc.rawAt);
    out.insert(out.end(), section.begin(), section.end());
    out.resize(out.size() + (rawSize - section.size()), 0);
    out.insert(out.end(), stub.begin() + rsrc.rawAt + rsrc.rawSize, stub.end());
    Set32(out, rsrc.header + 8, (uint32_t)section.size());
    Set32(out, rsrc.header + 16, rawSize);
    uint32_t imageEnd = rsrc.address + (uint32_t)section.size();
    for (uint32_t later = index + 1; later < pe.sections; later++) {
        Section s = ReadSection(stub, pe, later);
        Set32(out, s.header + 12, (uint32_t)(s.address + addressDelta));
        if (s.rawAt)
            Set32(out, s.header + 20, (uint32_t)(s.rawAt + rawDelta));
        imageEnd = (uint32_t)(s.address + addressDelta) + std::max(s.virtualSize, 1u);
    }
    // Directories in the moved sections move with them (the certificate
    // table's "address" is a file offset, and a stub has none).
    uint32_t movedFrom = rsrc.address + AlignUp(std::max(rsrc.virtualSize, 1u), sectionAlignment);
    for (uint32_t d = 0; d < pe.directoryCount; d++) {
        uint32_t at = PeDirectory(stub, pe, d);
        if (d != IMAGE_DIRECTORY_ENTRY_SECURITY && at >= movedFrom)
            Set32(out, pe.directories + 8 * d, (uint32_t)(at + addressDelta));
    }
    Set32(out, pe.directories + 8 * IMAGE_DIRECTORY_ENTRY_RESOURCE + 4, (uint32_t)section.size());
    Set32(out, optional + 56, AlignUp(imageEnd, sectionAlignment));                     // SizeOfImage
    Set32(out, optional + 8, (uint32_t)(Get32(stub, optional + 8) + rawDelta));        // SizeOfInitializedData
    return out;
}

ProgramResources ProgramResourcesFrom(const std::map<std::string, std::string> &given, const std::string &icon,
                                      const std::string &description)
{
    auto value = [&](const char *option) {
        auto found = given.find(option);
        return found == given.end() ? std::string() : found->second;
    };
    ProgramResources program;
    program.iconName = given.count("--exe-icon") ? value("--exe-icon") : icon;
    program.iconImplied = !given.count("--exe-icon");
    if (!program.iconName.empty())
        program.icon = ReadWholeFile(program.iconName);
    program.fileVersionText = value("--file-version");
    program.productVersionText = given.count("--product-version") ? value("--product-version") : program.fileVersionText;
    if (!program.fileVersionText.empty())
        ParseVersion(program.fileVersionText, "--file-version", program.fileVersion);
    if (!program.productVersionText.empty())
        ParseVersion(program.productVersionText, "--product-version", program.productVersion);
    program.product = value("--product");
    program.company = value("--company");
    program.copyright = value("--copyright");
    program.fileDescription = value("--file-description");
    for (const char *option : {"--file-version", "--product-version", "--product", "--company", "--copyright",
                               "--file-description"})
        program.version |= given.count(option) > 0;
    if (program.fileDescription.empty())
        program.fileDescription = !program.product.empty() ? program.product : description;
    program.executionLevel = value("--execution-level");
    if (given.count("--execution-level") && program.executionLevel != "asInvoker" &&
        program.executionLevel != "highestAvailable" && program.executionLevel != "requireAdministrator")
        throw PackError("--execution-level takes asInvoker, highestAvailable or requireAdministrator, not '" +
                            program.executionLevel + "'",
                        Failure::Usage);
    return program;
}

Bytes WithProgramResources(const Bytes &stub, const ProgramResources &program, std::ostream &err)
{
    if (!program.any())
        return stub;
    PeLayout pe;
    bool resources = ReadPeLayout(stub, &pe) && PeDirectory(stub, pe, IMAGE_DIRECTORY_ENTRY_RESOURCE);
    if (!resources && program.iconImplied && !program.version && program.executionLevel.empty()) {
        err << "brevant-pack: warning: the stub has no resource section: --icon shows in the dialog only\n";
        return stub;
    }
    return RewriteResources(stub, program);
}

BuiltImage BuildProgramPrefix(ImagePlan &plan, const ProgramResources &program, std::ostream &err)
{
    Bytes stub = plan.stub;
    plan.stub = WithProgramResources(stub, program, err);
    try {
        return BuildPrefix(plan);
    } catch (const PackError &) {
        bool signature = false;
        for (const char *s : {"JAVA", "PK\3\4"})
            signature |= std::search(plan.stub.begin() + HeadersEnd(plan.stub), plan.stub.end(), s, s + 4) !=
                         plan.stub.end();
        if (program.icon.empty() || plan.stub == stub || signature)
            throw;
        // Without the icon group the same error: the icon is not to blame.
        ImagePlan without = plan;
        ProgramResources noIcon = program;
        noIcon.icon.clear();
        without.stub = WithProgramResources(stub, noIcon, err);
        BuildPrefix(without);
        std::string sizes;
        size_t count = Get16(program.icon, 4);
        for (size_t i = 0; i < count; i++) {
            uint32_t length = Get32(program.icon, 6 + 16 * i + 8), offset = Get32(program.icon, 6 + 16 * i + 12);
            IconInfo info;
            ReadIconImage(program.icon.data() + offset, length, &info);
            sizes += (i ? ", " : "") + IconSize(info) + " " + std::to_string(length) + " bytes";
        }
        throw PackError(program.iconName + ": the program's icon (" + sizes +
                        ") pushes the configuration past offset " + std::to_string(kLastSignatureOffset) +
                        "; give the program an icon of fewer or smaller images with --exe-icon");
    }
}

bool ReadProgramInfo(const Bytes &image, ProgramInfo *info)
{
    PeLayout pe;
    if (!ReadPeLayout(image, &pe))
        return false;
    uint32_t resourcesAt = PeDirectory(image, pe, IMAGE_DIRECTORY_ENTRY_RESOURCE);
    for (uint32_t index = 0; index < pe.sections && resourcesAt; index++) {
        Section rsrc = ReadSection(image, pe, index);
        if (rsrc.address != resourcesAt)
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
            }
        }
        return true;
    }
    return false;
}

}  // namespace pack
