// Section surgery: one section of a PE image replaced by new content of
// another size, the sections behind it moved and the headers made to agree.
#include <algorithm>

#include "pe/pe.h"

namespace pack {

Section ReadSection(const Bytes &image, const PeLayout &pe, uint32_t index)
{
    using namespace image_section_header;
    size_t at = pe.sectionTable + IMAGE_SIZEOF_SECTION_HEADER * index;
    return {at, Get32(image, at + VirtualSize), Get32(image, at + VirtualAddress), Get32(image, at + SizeOfRawData),
            Get32(image, at + PointerToRawData)};
}

Bytes ReplaceSection(const Bytes &image, const PeLayout &pe, uint32_t index, uint32_t directory, const Bytes &section)
{
    Section old = ReadSection(image, pe, index);
    using namespace image_optional_header;
    size_t optional = pe.optionalHeader;
    uint32_t sectionAlignment = Get32(image, optional + SectionAlignment),
             fileAlignment = Get32(image, optional + FileAlignment);
    if (!sectionAlignment || !fileAlignment)
        throw PackError("the stub's headers give no section alignment");
    uint32_t rawSize = AlignUp((uint32_t)section.size(), fileAlignment);
    int64_t rawDelta = (int64_t)rawSize - old.SizeOfRawData;
    int64_t addressDelta = (int64_t)AlignUp((uint32_t)section.size(), sectionAlignment) -
                           AlignUp(std::max(old.VirtualSize, 1u), sectionAlignment);

    Bytes out(image.begin(), image.begin() + old.PointerToRawData);
    out.insert(out.end(), section.begin(), section.end());
    out.resize(out.size() + (rawSize - section.size()), 0);
    out.insert(out.end(), image.begin() + old.PointerToRawData + old.SizeOfRawData, image.end());
    PutAt32(out, old.header + image_section_header::VirtualSize, (uint32_t)section.size());
    PutAt32(out, old.header + image_section_header::SizeOfRawData, rawSize);
    uint32_t imageEnd = old.VirtualAddress + (uint32_t)section.size();
    for (uint32_t later = index + 1; later < pe.sections; later++) {
        Section s = ReadSection(image, pe, later);
        PutAt32(out, s.header + image_section_header::VirtualAddress, (uint32_t)(s.VirtualAddress + addressDelta));
        if (s.PointerToRawData)
            PutAt32(out, s.header + image_section_header::PointerToRawData, (uint32_t)(s.PointerToRawData + rawDelta));
        imageEnd = (uint32_t)(s.VirtualAddress + addressDelta) + std::max(s.VirtualSize, 1u);
    }
    // Directories in the moved sections move with them (the certificate
    // table's "address" is a file offset, and a stub has none).
    uint32_t movedFrom = old.VirtualAddress + AlignUp(std::max(old.VirtualSize, 1u), sectionAlignment);
    for (uint32_t d = 0; d < pe.directoryCount; d++) {
        uint32_t at = PeDirectory(image, pe, d);
        if (d != IMAGE_DIRECTORY_ENTRY_SECURITY && at >= movedFrom)
            PutAt32(out, pe.directories + 8 * d + image_data_directory::VirtualAddress,
                    (uint32_t)(at + addressDelta));
    }
    PutAt32(out, pe.directories + 8 * directory + image_data_directory::Size, (uint32_t)section.size());
    PutAt32(out, optional + SizeOfImage, AlignUp(imageEnd, sectionAlignment));
    PutAt32(out, optional + SizeOfInitializedData, (uint32_t)(Get32(image, optional + SizeOfInitializedData) + rawDelta));
    return out;
}

}  // namespace pack
