// The output image while it is written: a temporary file beside it, renamed
// into place at the end, removed on failure and when the packer is
// interrupted; and the checks on the output that come before any input is read.
#include <errno.h>
#include <string.h>

#include "image/image.h"
#include "os/os.h"

namespace pack {

// ---- Checks before anything is read -----------------------------------------------

static std::string FolderOf(const std::string &path)
{
    size_t slash = path.find_last_of(kSeparators);
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

// Why Windows would not create the output's name as it is, or empty: the
// rules the stub applies to an entry's name, on the last part of the path.
static std::string UncreatableName(const std::string &name)
{
    std::u16string wide(name.size() + 1, u'\0');
    int32_t units = Utf8ToWide((const uint8_t *)name.data(), (uint32_t)name.size(), &wide[0], false);
    if (WideNameIsCreatable(wide.data(), (uint32_t)units))
        return "";
    if (name.back() == '.' || name.back() == ' ')
        return "ends in a dot or a space, which Windows drops from a name";
    if (name.find(':') != std::string::npos)
        return "holds ':', which names a data stream on Windows";
    for (char c : name)
        if ((uint8_t)c < 0x20 || strchr("<>\"|?*", c))
            return "holds a character that Windows does not take in a name";
    return "is a device name on Windows (CON, NUL, COM1, CONOUT$, ... with or without an extension)";
}

void CheckOutput(const std::string &output, const std::vector<std::string> &inputs)
{
    size_t slash = output.find_last_of(kSeparators);
    std::string name = slash == std::string::npos ? output : output.substr(slash + 1);
    // A drive before the name ("C:setup.exe") is a path on Windows, a
    // stream's colon elsewhere.
    if (slash == std::string::npos && strchr(kSeparators, '\\') && name.size() > 2 && name[1] == ':' &&
        isalpha((uint8_t)name[0]))
        name = name.substr(2);
    if (name.empty() || name == "." || name == "..")
        throw PackError("-o " + output + ": names a folder, not a file");
    std::string why = UncreatableName(name);
    if (!why.empty())
        throw PackError("-o " + output + ": " + why + "; name another output");
    FileStatus folder;
    std::string dir = FolderOf(output);
    if (StatusOf(dir, &folder) != 0 || folder.kind != FileStatus::Folder)
        throw PackError(output + ": the folder " + dir + " does not exist");
    FileStatus existing;
    if (StatusOf(output, &existing) != 0)
        return;
    for (const std::string &input : inputs) {
        FileStatus st;
        if (StatusOf(input, &st) == 0 && SameFile(st, existing))
            throw PackError(input + ": is both an input and the output; name another output");
    }
    if (existing.kind == FileStatus::Folder)
        throw PackError(output + ": is a folder; name a file to write");
    if (existing.kind != FileStatus::Regular)
        throw PackError(output + ": is not a regular file (a device, a FIFO or a socket); the packer replaces "
                        "only files");
}

void CheckReplace(const std::string &output, bool force)
{
    FileStatus existing;
    if (!force && StatusOf(output, &existing, false) == 0)
        throw PackError(output + ": exists; give --force to replace it");
}

// ---- The temporary file --------------------------------------------------------------

// A file beside the output is removed only when the packer can prove it is
// one of its own left behind: named exactly as OutputImage names its
// temporary file (the output's name, the tag, a process id as written,
// six letters or digits), a regular file, of a process that is gone (never
// 0 or 1, the system's own), and holding the beginning of an image. Any
// other name, an earlier packer's NAME.tmp-XXXXXX included, is a user's.
void RemoveStaleTemporaries(const std::string &path)
{
    size_t slash = path.find_last_of(kSeparators);
    std::string folder = FolderOf(path), base = slash == std::string::npos ? path : path.substr(slash + 1);
    std::vector<std::string> names;
    if (ListFolder(folder, &names) != 0)
        return;
    for (const std::string &name : names) {
        long pid = 0;
        if (!IsTemporaryName(name, &pid) || pid <= 1)
            continue;
        std::string stem = base + kTemporaryTag + std::to_string(pid) + "-";
        if (name.size() != stem.size() + 6 || name.compare(0, stem.size(), stem) != 0)
            continue;
        std::string full = folder + "/" + name;
        FileStatus st;
        if (StatusOf(full, &st, false) == 0 && st.kind == FileStatus::Regular && ProcessIsGone(pid) && IsImage(full))
            RemoveFile(full);
    }
}

OutputImage::OutputImage(const std::string &path, bool replace) : path_(path), replace_(replace)
{
    temp_ = path + kTemporaryTag + std::to_string(ProcessId()) + "-XXXXXX";
    file_ = File(CreateTemporary(temp_));
    if (!file_.open())
        throw PackError(path + ": can't create a file beside it: " + strerror(errno), Failure::Io);
}

OutputImage::~OutputImage()
{
    file_.Close();
    if (!committed_) {
        RemoveFile(temp_);
        ForgetOnSignal(temp_);
    }
}

void OutputImage::Fail(const char *what) const
{
    throw PackError(path_ + ": can't " + what + ": " + strerror(errno), Failure::Io);
}

void OutputImage::WriteAt(uint64_t offset, const void *bytes, size_t count)
{
    if (!pack::WriteAt(file_.fd(), bytes, count, offset))
        Fail("write");
    if (offset + count > size_)
        size_ = offset + count;
}

void OutputImage::Append(const void *bytes, size_t count) { WriteAt(size_, bytes, count); }

void OutputImage::Truncate(uint64_t size)
{
    if (!TruncateFile(file_.fd(), size))
        Fail("write");
    size_ = size;
}

void OutputImage::Commit()
{
    if (!FinishFile(file_.fd()) || !file_.Close())
        Fail("write");
    int error = MoveInto(temp_, path_, replace_);
    if (error == EEXIST && !replace_)
        throw PackError(path_ + ": exists; give --force to replace it");
    if (error != 0) {
        errno = error;
        Fail("write");
    }
    committed_ = true;
    ForgetOnSignal(temp_);
}

}  // namespace pack
