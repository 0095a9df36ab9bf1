// The output image while it is written: a temporary file beside it, renamed
// into place at the end, removed on failure and when the packer is
// interrupted; and the checks on the output that come before any input is read.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "pack.h"

namespace pack {

// ---- Removal on SIGINT, SIGTERM and SIGHUP ----------------------------------------

// The handler may run at any moment, so a slot is filled before it is marked
// in use and the handler touches nothing but the marked slots.
namespace {

constexpr int kSlots = 4;
constexpr size_t kSlotPath = 4096;
char SlotPath[kSlots][kSlotPath];
volatile sig_atomic_t SlotUsed[kSlots];
const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

void RemoveAndDie(int signal)
{
    for (int i = 0; i < kSlots; i++)
        if (SlotUsed[i])
            unlink(SlotPath[i]);
    ::signal(signal, SIG_DFL);
    raise(signal);
}

void InstallHandlers()
{
    static bool installed;
    if (installed)
        return;
    struct sigaction action {};
    action.sa_handler = RemoveAndDie;
    sigemptyset(&action.sa_mask);
    for (int s : kSignals)
        sigaddset(&action.sa_mask, s);
    for (int s : kSignals) {
        struct sigaction old;
        // A signal the caller chose to ignore (nohup) stays ignored.
        if (sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        sigaction(s, &action, nullptr);
    }
    installed = true;
}

}  // namespace

int CreateTemporary(std::string &pattern)
{
    InstallHandlers();
    // Blocked until the file is in a slot: a signal right after its creation
    // would otherwise leave it behind.
    sigset_t block, old;
    sigemptyset(&block);
    for (int s : kSignals)
        sigaddset(&block, s);
    sigprocmask(SIG_BLOCK, &block, &old);
    int fd = mkstemp(pattern.data());
    int error = errno;
    if (fd >= 0 && pattern.size() < kSlotPath) {
        for (int i = 0; i < kSlots; i++)
            if (!SlotUsed[i]) {
                memcpy(SlotPath[i], pattern.c_str(), pattern.size() + 1);
                SlotUsed[i] = 1;
                break;
            }
    }
    sigprocmask(SIG_SETMASK, &old, nullptr);
    errno = error;
    return fd;
}

void ForgetOnSignal(const std::string &path)
{
    for (int i = 0; i < kSlots; i++)
        if (SlotUsed[i] && path == SlotPath[i])
            SlotUsed[i] = 0;
}

// ---- Checks before anything is read -----------------------------------------------

static std::string FolderOf(const std::string &path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

void CheckOutput(const std::string &output, const std::vector<std::string> &inputs)
{
    if (output.empty() || output.back() == '/')
        throw PackError("-o " + output + ": names a folder, not a file", Failure::Usage);
    struct stat folder;
    std::string dir = FolderOf(output);
    if (stat(dir.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode))
        throw PackError(output + ": the folder " + dir + " does not exist");
    struct stat existing;
    if (stat(output.c_str(), &existing) != 0)
        return;
    for (const std::string &input : inputs) {
        struct stat st;
        if (stat(input.c_str(), &st) == 0 && st.st_dev == existing.st_dev && st.st_ino == existing.st_ino)
            throw PackError(input + ": is both an input and the output; name another output");
    }
    if (S_ISDIR(existing.st_mode))
        throw PackError(output + ": is a folder; name a file to write");
    if (!S_ISREG(existing.st_mode))
        throw PackError(output + ": is not a regular file (a device, a FIFO or a socket); the packer replaces "
                        "only files");
}

void CheckReplace(const std::string &output, bool force)
{
    struct stat existing;
    if (!force && lstat(output.c_str(), &existing) == 0)
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
    std::string folder = FolderOf(path), base = path.substr(path.rfind('/') + 1);
    DIR *dir = opendir(folder.c_str());
    if (!dir)
        return;
    while (dirent *d = readdir(dir)) {
        long pid = 0;
        std::string name = d->d_name;
        std::string full = folder + "/" + name;
        bool ours = name.compare(0, base.size() + sizeof kTemporaryTag - 1, base + kTemporaryTag) == 0 &&
                    IsTemporaryName(name, &pid);
        if ((ours && pid > 0 && kill((pid_t)pid, 0) != 0 && errno == ESRCH) || IsEarlierTemporary(name, base, full))
            unlink(full.c_str());
    }
    closedir(dir);
}

OutputImage::OutputImage(const std::string &path, bool replace) : path_(path), replace_(replace)
{
    temp_ = path + kTemporaryTag + std::to_string(getpid()) + "-XXXXXX";
    fd_ = CreateTemporary(temp_);
    if (fd_ < 0)
        throw PackError(path + ": can't create a file beside it: " + strerror(errno), Failure::Io);
}

OutputImage::~OutputImage()
{
    if (fd_ >= 0)
        close(fd_);
    if (!committed_) {
        unlink(temp_.c_str());
        ForgetOnSignal(temp_);
    }
}

void OutputImage::Fail(const char *what) const
{
    throw PackError(path_ + ": can't " + what + ": " + strerror(errno), Failure::Io);
}

void OutputImage::WriteAt(uint64_t offset, const void *bytes, size_t count)
{
    size_t done = 0;
    while (done < count) {
        ssize_t n = pwrite(fd_, (const uint8_t *)bytes + done, count - done, (off_t)(offset + done));
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            Fail("write");
        }
        done += (size_t)n;
    }
    if (offset + count > size_)
        size_ = offset + count;
}

void OutputImage::Append(const void *bytes, size_t count) { WriteAt(size_, bytes, count); }

void OutputImage::Truncate(uint64_t size)
{
    if (ftruncate(fd_, (off_t)size) != 0)
        Fail("write");
    size_ = size;
}

void OutputImage::Commit()
{
    // An executable for Windows: mark it runnable here too, within the umask.
    mode_t mask = umask(0);
    umask(mask);
    if (fchmod(fd_, 0777 & ~mask) != 0 || fsync(fd_) != 0)
        Fail("write");
    int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0)
        Fail("write");
    if (replace_) {
        if (rename(temp_.c_str(), path_.c_str()) != 0)
            Fail("write");
    } else {
        // Without --force an output that appeared meanwhile is kept: a link
        // fails where a name exists. Where links are not supported at all,
        // the existence check before packing has to do.
        if (link(temp_.c_str(), path_.c_str()) == 0) {
            unlink(temp_.c_str());
        } else if (errno == EEXIST) {
            throw PackError(path_ + ": exists; give --force to replace it");
        } else if (rename(temp_.c_str(), path_.c_str()) != 0) {
            Fail("write");
        }
    }
    committed_ = true;
    ForgetOnSignal(temp_);
}

}  // namespace pack
