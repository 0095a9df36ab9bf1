// The stub's resources read: the tree of its resource section into a list
// of resources, and what an image's resources tell.
#include <map>

#include "pe/pe.h"

namespace pack {

using namespace resource;

namespace {

[[noreturn]] void Damaged(const std::string &what)
{
    throw PackError("the stub's resource section is damaged: " + what);
}

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

}  // namespace

namespace resource {

std::vector<Resource> ReadResources(const Bytes &image, const Section &section)
{
    return ResourceReader(image, section).Read();
}

}  // namespace resource

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
            resources = ReadResources(image, rsrc);
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
