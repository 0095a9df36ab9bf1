// Helpers shared by the configuration and packer tests: fake stubs, temporary
// folders, images built around a hand-made configuration block, and images
// written as the packer writes them.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <zlib.h>

#include "base/bytes.h"
#include "base/errors.h"
#include "base/escape.h"
#include "base/files.h"
#include "base/utf8.h"
#include "cli/cli.h"
#include "core/core.h"
#include "image/image.h"
#include "inputs/inputs.h"
#include "os/os.h"
#include "pe/pe.h"

namespace packtest {

using pack::Bytes;

// Something that looks like an executable to the packer: "MZ", then filler
// that holds neither signature.
inline Bytes FakeStub(size_t size = 4096)
{
    Bytes stub(size, 'x');
    stub[0] = 'M';
    stub[1] = 'Z';
    for (size_t i = 2; i < 64 && i < size; i++)
        stub[i] = 0;
    return stub;
}

// A fake stub with a PE header: e_lfanew 0x80, machine (0x14C x86, 0x8664
// x64), the optional header's size and magic, SizeOfHeaders 0x200 and 16
// data directories, the rest of the headers zero (no sections); the checksum lies at 216 and the certificate table at
// 280 (x86) or 296 (x64).
inline Bytes FakePeStub(uint16_t machine = 0x14C, size_t size = 8192)
{
    Bytes stub = FakeStub(size);
    std::fill(stub.begin() + 64, stub.begin() + 0x200, 0);
    stub[0x3C] = 0x80;
    stub[0x80] = 'P';
    stub[0x81] = 'E';
    stub[0x84] = (uint8_t)machine;
    stub[0x85] = (uint8_t)(machine >> 8);
    bool x64 = machine != 0x14C;
    stub[0x94] = x64 ? 240 : 224;  // SizeOfOptionalHeader
    stub[0x98] = 0x0B;
    stub[0x99] = x64 ? 2 : 1;
    stub[0x80 + 84 + 1] = 0x02;   // SizeOfHeaders 0x200
    stub[0x98 + (x64 ? 108 : 92)] = 16;  // NumberOfRvaAndSizes
    return stub;
}

class TempDir {
public:
    TempDir()
    {
        char name[] = "/tmp/brevant-pack-test-XXXXXX";
        path_ = mkdtemp(name);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

    // Writes a file (making its folders) and returns its path.
    std::string Write(const std::string &name, const std::string &content) const
    {
        std::string full = *this / name;
        std::filesystem::create_directories(std::filesystem::path(full).parent_path());
        std::ofstream(full, std::ios::binary) << content;
        return full;
    }
    std::string Write(const std::string &name, const Bytes &content) const
    {
        return Write(name, std::string(content.begin(), content.end()));
    }
    // Names of everything directly in the folder.
    std::vector<std::string> List() const
    {
        std::vector<std::string> names;
        for (auto &entry : std::filesystem::directory_iterator(path_))
            names.push_back(entry.path().filename());
        return names;
    }

private:
    std::string path_;
};

inline void Put32(Bytes &out, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        out.push_back((uint8_t)(v >> (8 * i)));
}

inline uint32_t Get32(const Bytes &bytes, size_t at)
{
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | (uint32_t)bytes[at + 3] << 24;
}

inline uint16_t Get16(const Bytes &bytes, size_t at) { return (uint16_t)(bytes[at] | bytes[at + 1] << 8); }

inline uint32_t Crc(const Bytes &bytes) { return (uint32_t)crc32(0, bytes.data(), (uInt)bytes.size()); }

// stub + "JAVA" + crc + size + stream + a local header's signature and some
// bytes: an image around any block, with any header fields.
inline Bytes ImageAround(const Bytes &stub, const Bytes &block, uint32_t crc, uint32_t size,
                         pack::Encoding encoding = {pack::Coder::Libdeflate, 12})
{
    Bytes image = stub;
    image.insert(image.end(), {'J', 'A', 'V', 'A'});
    Put32(image, crc);
    Put32(image, size);
    Bytes stream = pack::Deflate(block, encoding);
    image.insert(image.end(), stream.begin(), stream.end());
    image.insert(image.end(), {'P', 'K', 3, 4});
    image.resize(image.size() + 64, 0);
    return image;
}

inline Bytes ImageAround(const Bytes &block, pack::Encoding encoding = {pack::Coder::Libdeflate, 12})
{
    return ImageAround(FakeStub(), block, Crc(block), (uint32_t)block.size(), encoding);
}

// The packer's command run in this process: its exit code and output.
struct Result {
    int code;
    std::string out, err;
};

inline Result Pack(std::vector<std::string> args)
{
    std::ostringstream out, err;
    int code = pack::PackMain(args, out, err);
    return {code, out.str(), err.str()};
}

// An icon bitmap of size x size at bits per pixel (the icon-resource
// layout), its colour bits all the value bits.
inline Bytes IconBitmap(int size, int bits)
{
    Bytes image;
    Put32(image, 40);
    Put32(image, (uint32_t)size);
    Put32(image, (uint32_t)size * 2);
    image.push_back(1), image.push_back(0);
    image.push_back((uint8_t)bits), image.push_back(0);
    for (int i = 0; i < 6; i++)
        Put32(image, 0);
    if (bits <= 8)
        image.resize(image.size() + 4 * (1u << bits), 0x40);
    size_t xorRow = ((size_t)size * bits + 31) / 32 * 4, andRow = ((size_t)size + 31) / 32 * 4;
    image.resize(image.size() + xorRow * size, (uint8_t)bits);
    image.resize(image.size() + andRow * size, 0);
    return image;
}

// An .ico file of the images, with the sizes its directory gives them.
inline Bytes IcoFile(const std::vector<Bytes> &images, const std::vector<int> &sizes)
{
    Bytes ico = {0, 0, 1, 0, (uint8_t)images.size(), 0};
    uint32_t offset = 6 + 16 * (uint32_t)images.size();
    for (size_t i = 0; i < images.size(); i++) {
        ico.insert(ico.end(), {(uint8_t)sizes[i], (uint8_t)sizes[i], 0, 0, 1, 0, 32, 0});
        Put32(ico, (uint32_t)images[i].size());
        Put32(ico, offset);
        offset += (uint32_t)images[i].size();
    }
    for (const Bytes &image : images)
        ico.insert(ico.end(), image.begin(), image.end());
    return ico;
}

// Runs the command in a shell; its output (stdout and stderr) and exit status.
inline int Shell(const std::string &command, std::string *output)
{
    FILE *pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return -1;
    char buffer[4096];
    size_t n;
    output->clear();
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output->append(buffer, n);
    int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A folder with a stub and a small payload, ready for the command line.
class PackFolder : public TempDir {
public:
    PackFolder()
    {
        stub = Write("stub.exe", FakeStub(8192));
        Write("app/readme.txt", std::string(2000, 'r'));
        Write("app/bin/tool.dat", std::string("\x01\x02\x03", 3));
        std::filesystem::create_directories(*this / "app/empty");
        output = *this / "out.exe";
    }
    Result Run(std::vector<std::string> args) const
    {
        std::vector<std::string> full = {"-o", output, "--stub", stub};
        full.insert(full.end(), args.begin(), args.end());
        return Pack(full);
    }
    bool OutputExists() const { return std::filesystem::exists(output); }
    // Nothing but the inputs: no output and no temporary file beside it.
    bool OnlyInputsLeft() const
    {
        for (const std::string &name : List())
            if (name != "stub.exe" && name != "app" && name.compare(0, 5, "input") != 0)
                return false;
        return true;
    }
    std::string stub, output;
};

// An image written as the packer writes one: prefix, then the inputs
// (names in dir) walked and added by the product's ImageWriter at level,
// then the central directory. Warnings go to log when given.
inline Bytes WriteImage(const Bytes &prefix, const TempDir &dir, const std::vector<std::string> &inputs,
                        int level = 12, std::string *log = nullptr)
{
    std::vector<std::string> paths;
    for (const std::string &input : inputs)
        paths.push_back(dir / input);
    pack::TextEncoder encoder;
    std::vector<pack::InputItem> items = pack::CollectInputs(paths, false, encoder);
    std::string written = dir / "written.exe";
    std::ostringstream warnings;
    {
        pack::OutputImage output(written, true);
        pack::ImageWriter writer(output, prefix);
        for (const pack::InputItem &item : items)
            writer.Add(item, level, warnings);
        writer.Finish();
        output.Commit();
    }
    if (log)
        *log = warnings.str();
    Bytes image = pack::ReadWholeFile(written);
    std::filesystem::remove(written);
    return image;
}

// The entries of an image's central directory: name -> (method, local offset).
struct CentralEntry {
    std::string name;
    uint16_t flags, method, time, date;
    uint32_t crc, compressed, size, local, external;
};
// Where the end record lies: the last one whose comment ends the image.
inline size_t EndRecord(const Bytes &image)
{
    for (size_t end = image.size() - 22;; end--) {
        if (Get32(image, end) == 0x06054B50u && end + 22 + Get16(image, end + 20) == image.size())
            return end;
        if (end == 0) {
            ADD_FAILURE() << "no end record";
            return image.size() - 22;
        }
    }
}
inline std::vector<CentralEntry> CentralDirectory(const Bytes &image)
{
    size_t end = EndRecord(image);
    uint32_t count = Get16(image, end + 10), at = Get32(image, end + 16);
    std::vector<CentralEntry> entries;
    for (uint32_t i = 0; i < count; i++) {
        EXPECT_EQ(Get32(image, at), 0x02014B50u);
        CentralEntry e;
        e.flags = Get16(image, at + 8);
        e.method = Get16(image, at + 10);
        e.time = Get16(image, at + 12);
        e.date = Get16(image, at + 14);
        e.crc = Get32(image, at + 16);
        e.compressed = Get32(image, at + 20);
        e.size = Get32(image, at + 24);
        uint16_t nameLength = Get16(image, at + 28), extra = Get16(image, at + 30), comment = Get16(image, at + 32);
        e.external = Get32(image, at + 38);
        e.local = Get32(image, at + 42);
        e.name.assign(image.begin() + at + 46, image.begin() + at + 46 + nameLength);
        entries.push_back(e);
        at += 46 + nameLength + extra + comment;
    }
    return entries;
}

inline size_t Find(const Bytes &bytes, const std::string &what)
{
    Bytes pattern(what.begin(), what.end());  // as unsigned bytes
    auto at = std::search(bytes.begin(), bytes.end(), pattern.begin(), pattern.end());
    return at == bytes.end() ? std::string::npos : (size_t)(at - bytes.begin());
}

}  // namespace packtest
