// The inputs: the files and folders named on the command line walked into
// the archive's entries, their names checked and written as the stub reads
// them, their times as DOS times.
#pragma once

#include <stdint.h>
#include <time.h>

#include <string>
#include <vector>

#include "core/core.h"
#include "os/os.h"

namespace pack {

// How names and texts are written. Code page 0, the default: as UTF-8, which
// the stub reads the same on every system (names with bit 11, texts under
// SFX_UTF8_TEXTS). Any other: converted from UTF-8 into that ANSI code page,
// which the stub reads in the system's own.
class TextEncoder {
public:
    explicit TextEncoder(int codepage = 0);
    ~TextEncoder();
    TextEncoder(const TextEncoder &) = delete;
    TextEncoder &operator=(const TextEncoder &) = delete;
    int codepage() const { return codepage_; }
    bool utf8() const { return codepage_ == 0; }
    // The length the stub gives a written text or name in its path buffers:
    // UTF-16 units for UTF-8 (two for a character beyond U+FFFF), else bytes.
    size_t Units(const std::string &written) const;
    const char *UnitName() const { return utf8() ? "UTF-16 units" : "bytes"; }
    // Throws PackError naming what when text can't be represented (in UTF-8:
    // when it is not UTF-8).
    std::string Encode(const std::string &utf8, const std::string &what) const;
    // A name: as Encode, and every character must read back as itself, so
    // that Windows creates the file the publisher named (code page 932 would
    // turn U+00A5 into the backslash byte, U+2014 into U+2015). Throws
    // PackError naming what and the character.
    std::string EncodeName(const std::string &utf8, const std::string &what) const;
    // bytes of the code page as UTF-8; false when they are not text of it
    // (code page 0, whose ANSI bytes are of no known code page: when they
    // are not ASCII).
    bool Decode(const std::string &bytes, std::string *utf8) const;
    // Whether byte begins a double-byte character in the code page.
    bool IsLeadByte(uint8_t byte) const { return lead_[byte]; }

private:
    std::string Convert(void *cd, const std::string &text) const;
    int codepage_;
    void *iconv_, *back_;
    bool lead_[256] = {};
};

struct InputItem {
    std::string name;  // archive name, UTF-8 or in the target code page, '/' separators
    std::string utf8;  // the same name as found on disk
    uint16_t flags = 0;  // its entry's general-purpose flags: ZIP_FLAG_UTF8 for a UTF-8 name
    std::string path;  // where to read it
    bool folder = false;
    uint64_t size = 0;
    time_t mtime = 0;
    bool utc = false;  // mtime given by the publisher: its DOS time in UTC, the same in every zone
    std::string link;  // the link it was reached through, or empty
    FileStatus file;   // what the walk found at path (for a link, what it leads to)
    bool pathIsLink = false;  // path itself is a link, read through it
};
// Walks the inputs. A folder is packed below its own name, or with flat its
// contents go to the top. Folders get their own entries (names ending '/').
// The file output names, when it is an earlier image (IsImage), and the
// packer's temporary files are left out; output as any other file of the
// inputs is refused. A link is packed as what it leads to when that lies in
// the inputs (or with followLinks anywhere); one that leads outside them,
// a dangling one and a loop are refused. Every refusal of a name or an
// input is collected and thrown together (Refusals). What the patterns of
// excludes match (Excluded) is neither walked nor checked; its names go to
// leftOut, a folder's with its '/'.
std::vector<InputItem> CollectInputs(const std::vector<std::string> &inputs, bool flat,
                                     const TextEncoder &encoder, const std::string &output = "",
                                     bool followLinks = false, const std::vector<std::string> &excludes = {},
                                     std::vector<std::string> *leftOut = nullptr);
// Whether one of the --exclude patterns matches the archive name (UTF-8, no
// trailing '/'), a folder's when folder is set.
bool Excluded(const std::vector<std::string> &patterns, const std::string &name, bool folder);
// What marks the packer's temporary files: NAME.brevant-tmp-PID-XXXXXX.
constexpr char kTemporaryTag[] = ".brevant-tmp-";
// Whether a file name is one of the packer's temporary files
// (NAME.brevant-tmp-PID-XXXXXX); its process id in pid.
bool IsTemporaryName(const std::string &name, long *pid = nullptr);
// Whether path is an image this packer wrote: an MZ executable with a
// configuration header within the scan whose block checks.
bool IsImage(const std::string &path);
// Checks one archive name, converted (name) and as given (utf8), against
// what Windows can create: at most 250 bytes (UTF-8: 250 UTF-16 units, and
// WideNameIsCreatable, the stub's own check, besides); no control character or
// <>:"\|?*; no byte 0x5C outside a double-byte character of the encoder's
// code page; no component "." or ".."; none ending in a dot or a space; no
// device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, COM and LPT with the
// superscripts 1-3, CONIN$, CONOUT$, any case, with or without an
// extension). Throws PackError naming utf8.
void CheckName(const std::string &name, const std::string &utf8, const TextEncoder &encoder = TextEncoder());
// A name as Windows compares names: every character of the Basic
// Multilingual Plane in its upper case.
std::string FoldCase(const std::string &utf8);

// The archive's rules on what the walk found, before anything is read: at
// least one and at most 65,535 entries, whose sizes add up to less than
// 4 GiB. Throws PackError.
void CheckInputs(const std::vector<InputItem> &items);
void CheckCountAndTotal(size_t count, uint64_t total);

// DOS date in the high 16 bits, DOS time in the low 16 bits, in local time
// or in UTC; clamped to the years 1980 to 2107 (a file's own time).
uint32_t DosDateTime(time_t when, bool utc = false);
// The time --mtime (or SOURCE_DATE_EPOCH) gives: seconds since 1970 or
// YYYY-MM-DD[THH:MM[:SS]] in UTC, a real date up to 2107-12-31 (what a DOS
// time holds); one before 1980 is 1980-01-01 00:00, and early says so.
// Throws PackError naming what.
time_t ParseTime(const std::string &text, const std::string &what, bool *early = nullptr);

}  // namespace pack
