// The output image while it is written: a temporary file beside it, renamed
// into place at the end, removed on failure and when the packer is
// interrupted; and the checks on the output that come before any input is read.
#include <errno.h>
#include <string.h>
#include <unistd.h>

#include "pack.h"
#include "platform.h"

namespace pack {

// ---- Checks before anything is read -----------------------------------------------

static std::string FolderOf(const std::string &path)
{
    size_t slash = path.find_last_of(kSeparators);
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

void CheckOutput(const std::string &output, const std::vector<std::string> &inputs)
{
    if (output.empty() || output.back() == '/')
        throw PackError("-o " + output + ": names a folder, not a file", Failure::Usage);
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

// Earlier packers named their temporary files NAME.tmp-XXXXXX; one of path
// is removed when it holds the beginning of an image.
static bool IsEarlierTemporary(const std::string &name, const std::string &base, const std::string &path)
{
    return name.size() == base.size() + 11 && name.compare(0, base.size() + 5, base + ".tmp-") == 0 &&
           IsImage(path);
}

void RemoveStaleTemporaries(const std::string &path)
{
    std::string folder = FolderOf(path), base = path.substr(path.find_last_of(kSeparators) + 1);
    std::vector<std::string> names;
    if (ListFolder(folder, &names) != 0)
        return;
    for (const std::string &name : names) {
        long pid = 0;
        std::string full = folder + "/" + name;
        bool ours = name.compare(0, base.size() + sizeof kTemporaryTag - 1, base + kTemporaryTag) == 0 &&
                    IsTemporaryName(name, &pid);
        if ((ours && ProcessIsGone(pid)) || IsEarlierTemporary(name, base, full))
            RemoveFile(full);
    }
}

OutputImage::OutputImage(const std::string &path, bool replace) : path_(path), replace_(replace)
{
    temp_ = path + kTemporaryTag + std::to_string(ProcessId()) + "-XXXXXX";
    fd_ = CreateTemporary(temp_);
    if (fd_ < 0)
        throw PackError(path + ": can't create a file beside it: " + strerror(errno), Failure::Io);
}

OutputImage::~OutputImage()
{
    if (fd_ >= 0)
        close(fd_);
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
    if (!pack::WriteAt(fd_, bytes, count, offset))
        Fail("write");
    if (offset + count > size_)
        size_ = offset + count;
}

void OutputImage::Append(const void *bytes, size_t count) { WriteAt(size_, bytes, count); }

void OutputImage::Truncate(uint64_t size)
{
    if (!TruncateFile(fd_, size))
        Fail("write");
    size_ = size;
}

void OutputImage::Commit()
{
    if (!FinishFile(fd_))
        Fail("write");
    int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0)
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
