// The program's version resource, written and read back, and the texts it
// holds: UTF-8 on the command line, UTF-16 in the resource.
//
// Version resource format notes. RT_VERSION is a tree of nodes, each
// wLength, wValueLength, wType (0 binary, 1 text), a zero-terminated UTF-16
// key, padding to 32 bits, the value, padding, and the children:
// VS_VERSION_INFO with a VS_FIXEDFILEINFO, StringFileInfo with one string
// table per language and code page ("040904B0": U.S. English, Unicode),
// VarFileInfo with the Translation those name. A text's wValueLength counts
// UTF-16 units with the terminator, a binary one bytes.
#include <stdlib.h>

#include "pe/pe.h"
#include "base/utf8.h"

namespace pack {

namespace resource {

namespace {

constexpr uint32_t kCodePageUnicode = 1200;  // the string table's "04B0"

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

}  // namespace

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
    Bytes root = VersionNode(u"VS_VERSION_INFO", fixed, (uint32_t)fixed.size(), false, {stringInfo, varInfo});
    // Every node's length is 16 bits: a longer tree can't be written.
    if (root.size() > 0xFFFF)
        throw PackError(LongestVersionText(resources) + ": the version resource would take " +
                        std::to_string(root.size()) + " bytes; it holds at most 65535");
    return root;
}

std::string LongestVersionText(const ProgramResources &resources)
{
    const std::pair<const char *, const std::string *> texts[] = {
        {"--file-version", &resources.fileVersionText}, {"--product-version", &resources.productVersionText},
        {"--product", &resources.product},             {"--company", &resources.company},
        {"--copyright", &resources.copyright},         {"--file-description", &resources.fileDescription}};
    const std::pair<const char *, const std::string *> *longest = &texts[0];
    for (const auto &text : texts)
        if (text.second->size() > longest->second->size())
            longest = &text;
    return std::string(longest->first) + " (" + std::to_string(Utf16(*longest->second, longest->first).size()) +
           " characters)";
}

namespace {

// units UTF-16 units at at, as far as bytes go, as UTF-8.
std::string Utf8At(const Bytes &bytes, size_t at, size_t units)
{
    std::u16string text;
    for (size_t i = 0; i < units && at + 2 * i + 1 < bytes.size(); i++)
        text.push_back((char16_t)Get16(bytes, at + 2 * i));
    return Utf8(text.data(), text.size());
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
        std::string name = Utf8At(data, keyAt, (key - keyAt) / 2);
        size_t valueAt = (key + 2 + 3) & ~(size_t)3;
        size_t valueBytes = text ? 2 * valueLength : valueLength;
        if (depth == 0 && valueBytes >= 16 && valueAt + 16 <= at + length &&
            Get32(data, valueAt) == 0xFEEF04BD) {
            uint32_t ms = Get32(data, valueAt + 8), ls = Get32(data, valueAt + 12);
            info->fileVersion = std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." +
                                std::to_string(ls >> 16) + "." + std::to_string(ls & 0xFFFF);
        }
        if (depth == 3 && text)
            info->version.push_back({name, Utf8At(data, valueAt, valueLength)});
        else if (name != "VarFileInfo")
            ReadVersionNodes(data, (valueAt + valueBytes + 3) & ~(size_t)3, at + length, depth + 1, info);
        at = (at + length + 3) & ~(size_t)3;
    }
}

}  // namespace

void ReadVersionStrings(const Bytes &data, ProgramInfo *info)
{
    ReadVersionNodes(data, 0, data.size(), 0, info);
}

}  // namespace resource

void ParseVersion(const std::string &text, const std::string &what, uint16_t parts[4])
{
    // One to four numbers; the parts not given are 0 (1.2 is 1.2.0.0).
    const char *p = text.c_str();
    bool ended = false;
    for (int i = 0; i < 4; i++) {
        parts[i] = 0;
        if (ended)
            continue;
        char *end = nullptr;
        unsigned long n = *p >= '0' && *p <= '9' ? strtoul(p, &end, 10) : 0x10000;
        if (n > 0xFFFF || (*end != '\0' && (*end != '.' || i == 3)))
            throw PackError(what + " takes one to four numbers from 0 to 65535, A[.B[.C[.D]]], not '" + text + "'",
                            Failure::Usage);
        parts[i] = (uint16_t)n;
        ended = *end == '\0';
        p = end + 1;
    }
}

}  // namespace pack
