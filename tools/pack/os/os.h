// The packer's way to the operating system: files, folders and links by
// UTF-8 paths, the output's temporary file and its removal when the packer
// is interrupted, times, code pages and the terminal. The posix*.cpp files
// serve Linux, the win32*.cpp files Windows (wide-character calls: names
// are UTF-16 there, UTF-8 everywhere above this header).
//
// Failures are errno values (ENOENT, EACCES, ...) on both, so that messages
// and exit codes (FailureOf) are the same wherever the packer runs.
#pragma once

#include <stdint.h>
#include <time.h>

#include <string>
#include <vector>

namespace pack {

// The characters that separate a path's components: "/", or "/\\" on Windows.
extern const char kSeparators[];

// ---- Files and folders ---------------------------------------------------------
struct FileStatus {
    enum Kind { Regular, Folder, Link, Other } kind = Other;  // Link: a symbolic link or a junction
    uint64_t size = 0;
    time_t mtime = 0;                  // last write, seconds since 1970 (UTC)
    uint32_t mtimeNanos = 0;           // and the nanoseconds within that second, as the file system keeps them
    uint64_t device = 0, inode = 0;    // what makes the file itself
};
inline bool SameFile(const FileStatus &a, const FileStatus &b) { return a.device == b.device && a.inode == b.inode; }
// Whether a file's size and last write are still what they were.
inline bool SameContents(const FileStatus &a, const FileStatus &b)
{
    return a.size == b.size && a.mtime == b.mtime && a.mtimeNanos == b.mtimeNanos;
}
// What path is; a link as itself unless follow. 0, or an errno value.
int StatusOf(const std::string &path, FileStatus *status, bool follow = true);
// What an open descriptor is. 0, or an errno value.
int StatusOf(int fd, FileStatus *status);
// Where a link leads, as written in it; false when path is no link.
bool ReadLink(const std::string &path, std::string *target);
// The absolute path with every link resolved, '/' separators. 0, or an errno value.
int RealPath(const std::string &path, std::string *real);
// The names in a folder, "." and ".." left out. 0, or an errno value.
int ListFolder(const std::string &path, std::vector<std::string> *names);
// Opens a file for reading (a FIFO without waiting for a writer); the
// descriptor, or -1 with errno set. Without follow a link at path is not
// followed: the open fails with ELOOP, or (Windows) opens the link itself,
// which StatusOf then says is a Link.
int OpenForReading(const std::string &path, bool follow = true);
// Closes a descriptor; false (errno set) when the system reports a failure.
bool CloseDescriptor(int fd);
// An open descriptor, closed when it goes.
class File {
public:
    File() = default;
    explicit File(int fd) : fd_(fd) {}
    ~File() { Close(); }
    File(File &&other) noexcept : fd_(other.Release()) {}
    File &operator=(File &&other) noexcept
    {
        if (this != &other) {
            Close();
            fd_ = other.Release();
        }
        return *this;
    }
    File(const File &) = delete;
    File &operator=(const File &) = delete;
    int fd() const { return fd_; }
    bool open() const { return fd_ >= 0; }
    int Release()
    {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // True when there was nothing to close or it closed cleanly.
    bool Close() { return fd_ < 0 || CloseDescriptor(Release()); }

private:
    int fd_ = -1;
};
// Up to count bytes from an open descriptor, fewer only at its end; -1
// (errno set) when reading fails.
long ReadUpTo(int fd, void *buffer, size_t count);
// Back to the first byte of an open descriptor; false (errno set) when it
// can't go there.
bool Rewind(int fd);
// All count bytes at offset of an open descriptor; false (errno set) when
// not all could be written.
bool WriteAt(int fd, const void *bytes, size_t count, uint64_t offset);
bool TruncateFile(int fd, uint64_t size);
// A file the packer has written in full: runnable (within the umask) where
// that is a permission, and on the disk. False with errno set.
bool FinishFile(int fd);
// Moves the finished temporary file to path, replacing a file there only
// with replace. 0, EEXIST (path exists and replace is false), or another
// errno value.
int MoveInto(const std::string &temporary, const std::string &path, bool replace);
bool RemoveFile(const std::string &path);
// Creates the file that pattern names, its last six characters "XXXXXX"
// replaced by letters and digits that make a new name, readable and
// writable; the file is then removed if SIGINT, SIGTERM or SIGHUP (on
// Windows: Ctrl+C, Ctrl+Break, the console's closing) ends the packer,
// until ForgetOnSignal. The descriptor, or -1 (errno set).
int CreateTemporary(std::string &pattern);
void ForgetOnSignal(const std::string &path);
// Where scratch files go (TMPDIR, the system's temporary folder), without a
// trailing separator.
std::string TemporaryFolder();
// The folder of the running program with a trailing separator; empty when
// the platform does not say.
std::string ProgramFolder();
// Where an installed packer keeps its stubs, with a trailing separator:
// PREFIX/share/brevant/ for a program in PREFIX/bin/ (the folders of the
// program itself, not of a link that led to it). Empty where the stubs stay
// beside the program alone (Windows) or the platform does not say.
std::string InstalledStubFolder();

// ---- Processes -------------------------------------------------------------------
long ProcessId();
// The processors this process may run on (its affinity), at least 1.
unsigned AvailableProcessors();
// An environment variable's value (UTF-8); false when it is not set.
bool EnvironmentVariable(const char *name, std::string *value);
// True only when no process pid runs (a temporary file of it is stale).
bool ProcessIsGone(long pid);

// ---- Times ---------------------------------------------------------------------
// when as a calendar time in UTC or in the local time zone (its rules for
// that date); false when it has none.
bool CalendarTime(time_t when, bool utc, struct tm *out);
// The seconds since 1970 of a calendar time in UTC; a day beyond the month
// moves into the next one, and *when says so.
time_t UtcSeconds(struct tm *when);
// Seconds from an arbitrary start, never going back.
double MonotonicSeconds();

// ---- Characters and code pages --------------------------------------------------
// A character of the Basic Multilingual Plane in its upper case.
uint32_t UpperCase(uint32_t c);
// The columns a character takes on a terminal (1 for one it can't say).
int TerminalWidth(uint32_t c);
// Conversions between UTF-8 and a code page by the platform's own tables;
// what names them in messages ("iconv", "Windows").
extern const char kConverterName[];
// A conversion into codepage (toCodePage) or out of it into UTF-8; null
// when the platform does not know the code page.
void *OpenConversion(int codepage, bool toCodePage);
void CloseConversion(void *conversion);
// 0; EILSEQ when a character has no equivalent on the other side (nothing
// is substituted) or the input is not text of its own side; another errno
// value for any other failure.
int ConvertText(void *conversion, const std::string &text, std::string *out);
// The bytes a conversion into a code page would write for a character the
// code page holds only as a look-alike (U+00A5 as 0x5C in 932), where the
// platform refuses it outright; false where the conversion itself
// substitutes (iconv: reading the bytes back shows it) or the code page has
// no look-alike either.
bool LookAlike(void *conversion, const std::string &character, std::string *bytes);
// Whether byte begins a double-byte character of the conversion's code page
// (a conversion out of it).
bool IsLeadByte(void *conversion, uint8_t byte);

// ---- The console ------------------------------------------------------------------
// The command line's arguments in UTF-8, without the program's name; sets
// up the standard streams to take the packer's bytes as they are.
std::vector<std::string> ProgramArguments(int argc, char **argv);
bool IsTerminal(int fd);
// The terminal's width on standard error, 80 when it does not say.
size_t TerminalColumns();

}  // namespace pack
