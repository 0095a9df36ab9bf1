// The stub's PE headers as the packer reads them: where they end (the
// scans begin there), the machine they are built for, and what a signature
// leaves in them.
//
// PE format notes. The DOS header's e_lfanew (offset 0x3C) gives the offset
// of the "PE\0\0" signature; the 20-byte file header (IMAGE_FILE_HEADER)
// and the optional header follow. The optional header begins with its magic,
// 0x10B for a 32-bit image and 0x20B for a 64-bit one; SizeOfHeaders (the
// headers and section table, rounded to FileAlignment) is at offset 60 and
// CheckSum at 64 in both. The data directories follow the fixed fields, at
// offset 96 (32-bit) or 112 (64-bit), eight bytes each (address, size); the
// fifth, IMAGE_DIRECTORY_ENTRY_SECURITY, is the certificate table, whose
// "address" is a file offset.
#include <stdio.h>

#include <algorithm>

#include "pe/pe.h"

namespace pack {

// The headers after the DOS header; false when they are not sound.
static bool ReadNtHeaders(const Bytes &image, PeLayout &found)
{
    found.fileHeader = (size_t)Get32(image, DOS_PE_OFFSET) + 4;
    if (found.fileHeader + 20 + 2 > image.size() || Get32(image, found.fileHeader - 4) != IMAGE_NT_SIGNATURE)
        return false;
    found.optionalHeader = found.fileHeader + 20;
    size_t optionalSize = Get16(image, found.fileHeader + image_file_header::SizeOfOptionalHeader);
    uint32_t magic = Get16(image, found.optionalHeader + image_optional_header::Magic);
    if (magic != 0x10B && magic != 0x20B)
        return false;
    found.is64 = magic == 0x20B;
    size_t fixed = found.is64 ? 112 : 96;
    found.sectionTable = found.optionalHeader + optionalSize;
    found.sections = Get16(image, found.fileHeader + image_file_header::NumberOfSections);
    if (optionalSize < fixed || found.sectionTable + 40 * found.sections > image.size())
        return false;
    found.directories = found.optionalHeader + fixed;
    found.directoryCount = std::min<uint32_t>(Get32(image, found.optionalHeader + fixed - 4),
                                              (uint32_t)(optionalSize - fixed) / 8);
    return true;
}

bool ReadPeLayout(const Bytes &image, PeLayout *layout)
{
    PeLayout found;
    found.dosHeader = image.size() >= DOS_HEADER_SIZE && Get16(image, 0) == IMAGE_DOS_SIGNATURE;
    bool sound = found.dosHeader && ReadNtHeaders(image, found);
    if (layout)
        *layout = sound ? found : PeLayout{found.dosHeader};
    return sound;
}

uint32_t PeDirectory(const Bytes &image, const PeLayout &layout, uint32_t index, uint32_t *size)
{
    if (index >= layout.directoryCount) {
        if (size)
            *size = 0;
        return 0;
    }
    size_t directory = layout.directories + 8 * index;
    if (size)
        *size = Get32(image, directory + image_data_directory::Size);
    return Get32(image, directory + image_data_directory::VirtualAddress);
}

void CheckUnsigned(const Bytes &stub)
{
    PeLayout layout;
    uint32_t size = 0;
    if (ReadPeLayout(stub, &layout) && (PeDirectory(stub, layout, IMAGE_DIRECTORY_ENTRY_SECURITY, &size) || size))
        throw PackError("the stub carries a certificate table (it is signed); sign the image after packing: "
                        "a signature does not survive appending");
}

uint32_t HeadersEnd(const Bytes &image)
{
    // The stub's own rule, on the bytes its scan reads first.
    return ::HeadersEnd(image.data(), (uint32_t)std::min(image.size(), (size_t)SCAN_PIECE));
}

std::string StubMachine(const Bytes &image)
{
    PeLayout pe;
    if (!ReadPeLayout(image, &pe))
        return pe.dosHeader ? "no PE executable" : "no Windows executable";
    unsigned machine = Get16(image, pe.fileHeader + image_file_header::Machine);
    if (machine == IMAGE_FILE_MACHINE_I386)
        return "x86";
    if (machine == IMAGE_FILE_MACHINE_AMD64)
        return "x64";
    char text[32];
    snprintf(text, sizeof text, "machine 0x%04X", machine);
    return text;
}

}  // namespace pack
