// The packer's platform layer on Linux (POSIX): files, folders and links by
// descriptors, the temporary file removed on signals, processes, times and
// the terminal.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "os/os.h"

namespace pack {

const char kSeparators[] = "/";

// ---- Files and folders ---------------------------------------------------------

static void Fill(const struct stat &st, FileStatus *status)
{
    status->kind = S_ISREG(st.st_mode)   ? FileStatus::Regular
                   : S_ISDIR(st.st_mode) ? FileStatus::Folder
                   : S_ISLNK(st.st_mode) ? FileStatus::Link
                                         : FileStatus::Other;
    status->size = (uint64_t)st.st_size;
    status->mtime = st.st_mtim.tv_sec;
    status->mtimeNanos = (uint32_t)st.st_mtim.tv_nsec;
    status->device = (uint64_t)st.st_dev;
    status->inode = (uint64_t)st.st_ino;
}

int StatusOf(const std::string &path, FileStatus *status, bool follow)
{
    struct stat st;
    if ((follow ? stat(path.c_str(), &st) : lstat(path.c_str(), &st)) != 0)
        return errno;
    Fill(st, status);
    return 0;
}

int StatusOf(int fd, FileStatus *status)
{
    struct stat st;
    if (fstat(fd, &st) != 0)
        return errno;
    Fill(st, status);
    return 0;
}

bool ReadLink(const std::string &path, std::string *target)
{
    char text[PATH_MAX];
    ssize_t n = readlink(path.c_str(), text, sizeof text - 1);
    if (n <= 0)
        return false;
    target->assign(text, (size_t)n);
    return true;
}

int RealPath(const std::string &path, std::string *real)
{
    char resolved[PATH_MAX];
    if (!realpath(path.c_str(), resolved))
        return errno;
    *real = resolved;
    return 0;
}

int ListFolder(const std::string &path, std::vector<std::string> *names)
{
    DIR *dir = opendir(path.c_str());
    if (!dir)
        return errno;
    while (dirent *d = readdir(dir)) {
        if (strcmp(d->d_name, ".") != 0 && strcmp(d->d_name, "..") != 0)
            names->push_back(d->d_name);
    }
    closedir(dir);
    return 0;
}

int OpenForReading(const std::string &path, bool follow)
{
    return open(path.c_str(), O_RDONLY | O_NONBLOCK | (follow ? 0 : O_NOFOLLOW));
}

bool CloseDescriptor(int fd) { return close(fd) == 0; }

bool Rewind(int fd) { return lseek(fd, 0, SEEK_SET) == 0; }

long ReadUpTo(int fd, void *buffer, size_t count)
{
    size_t got = 0;
    while (got < count) {
        ssize_t n = read(fd, (uint8_t *)buffer + got, count - got);
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += (size_t)n;
    }
    return (long)got;
}

bool WriteAt(int fd, const void *bytes, size_t count, uint64_t offset)
{
    size_t done = 0;
    while (done < count) {
        ssize_t n = pwrite(fd, (const uint8_t *)bytes + done, count - done, (off_t)(offset + done));
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        done += (size_t)n;
    }
    return true;
}

bool TruncateFile(int fd, uint64_t size) { return ftruncate(fd, (off_t)size) == 0; }

bool FinishFile(int fd)
{
    // An executable for Windows: mark it runnable here too, within the umask.
    mode_t mask = umask(0);
    umask(mask);
    return fchmod(fd, 0777 & ~mask) == 0 && fsync(fd) == 0;
}

int MoveInto(const std::string &temporary, const std::string &path, bool replace)
{
    if (replace)
        return rename(temporary.c_str(), path.c_str()) == 0 ? 0 : errno;
    // A link fails where a name exists, so an output that appeared meanwhile
    // is kept. Where links are not supported at all, the existence check
    // before packing has to do.
    if (link(temporary.c_str(), path.c_str()) == 0) {
        unlink(temporary.c_str());
        return 0;
    }
    if (errno == EEXIST)
        return EEXIST;
    return rename(temporary.c_str(), path.c_str()) == 0 ? 0 : errno;
}

bool RemoveFile(const std::string &path) { return unlink(path.c_str()) == 0; }

std::string TemporaryFolder()
{
    const char *dir = getenv("TMPDIR");
    return dir && *dir ? dir : "/tmp";
}

std::string ProgramFolder()
{
    // The kernel's own name of the program, without links: a link in
    // ~/bin/ to PREFIX/bin/brevant-pack gives PREFIX/bin/.
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0 || self[0] != '/')
        return "";
    std::string path(self, (size_t)n);
    return path.substr(0, path.rfind('/') + 1);
}

std::string InstalledStubFolder()
{
    // The prefix is the parent of the program's folder by name: that name
    // holds no link, so its parent is the folder that holds bin/.
    std::string folder = ProgramFolder();
    if (folder.size() < 2)
        return "";
    folder.pop_back();
    return folder.substr(0, folder.rfind('/') + 1) + "share/brevant/";
}

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

// ---- Processes -------------------------------------------------------------------

long ProcessId() { return (long)getpid(); }

unsigned AvailableProcessors()
{
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return (unsigned)CPU_COUNT(&set);
    long online = sysconf(_SC_NPROCESSORS_ONLN);  // more processors than a cpu_set_t holds
    return online > 0 ? (unsigned)online : 1;
}

bool EnvironmentVariable(const char *name, std::string *value)
{
    const char *text = getenv(name);
    if (!text)
        return false;
    *value = text;
    return true;
}

bool ProcessIsGone(long pid) { return pid > 0 && kill((pid_t)pid, 0) != 0 && errno == ESRCH; }

// ---- Times ---------------------------------------------------------------------

bool CalendarTime(time_t when, bool utc, struct tm *out)
{
    return (utc ? gmtime_r(&when, out) : localtime_r(&when, out)) != nullptr;
}

time_t UtcSeconds(struct tm *when) { return timegm(when); }

double MonotonicSeconds()
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + t.tv_nsec / 1e9;
}

// ---- The console ------------------------------------------------------------------

std::vector<std::string> ProgramArguments(int argc, char **argv) { return std::vector<std::string>(argv + 1, argv + argc); }

bool IsTerminal(int fd) { return isatty(fd) == 1; }

size_t TerminalColumns()
{
    struct winsize size {};
    return ioctl(2, TIOCGWINSZ, &size) == 0 && size.ws_col ? size.ws_col : 80;
}

}  // namespace pack
