// Inputs: walking files and folders into archive names, converting names and
// texts into the stub's ANSI code page, DOS timestamps, and file access.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <limits.h>
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wctype.h>

#include <algorithm>
#include <map>

#include "pack.h"

namespace pack {

// ---- Code pages -------------------------------------------------------------

TextEncoder::TextEncoder(int codepage) : codepage_(codepage), iconv_(nullptr), back_(nullptr)
{
    if (codepage == 0)
        return;
    std::string name = "CP" + std::to_string(codepage);
    iconv_t cd = iconv_open(name.c_str(), "UTF-8");
    iconv_t back = iconv_open("UTF-8", name.c_str());
    if (cd == (iconv_t)-1 || back == (iconv_t)-1) {
        if (cd != (iconv_t)-1)
            iconv_close(cd);
        throw PackError("code page " + std::to_string(codepage) + " is not known to iconv");
    }
    iconv_ = cd;
    back_ = back;
    // A lead byte is one that the code page can't read alone: the
    // conversion of that byte by itself stops, incomplete.
    for (int b = 0x80; b < 0x100; b++) {
        char in[1] = {(char)b}, out[8];
        char *from = in, *to = out;
        size_t inLeft = 1, outLeft = sizeof out;
        iconv(back, nullptr, nullptr, nullptr, nullptr);
        lead_[b] = iconv(back, &from, &inLeft, &to, &outLeft) == (size_t)-1 && errno == EINVAL;
    }
}

TextEncoder::~TextEncoder()
{
    if (iconv_)
        iconv_close((iconv_t)iconv_);
    if (back_)
        iconv_close((iconv_t)back_);
}

// text through cd; throws a bare PackError that callers complete.
std::string TextEncoder::Convert(void *handle, const std::string &text) const
{
    iconv_t cd = (iconv_t)handle;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::string out(text.size() * 4 + 16, '\0');
    char *in = const_cast<char *>(text.data());
    size_t inLeft = text.size();
    char *to = out.data();
    size_t outLeft = out.size();
    if (iconv(cd, &in, &inLeft, &to, &outLeft) == (size_t)-1 ||
        iconv(cd, nullptr, nullptr, &to, &outLeft) == (size_t)-1)
        throw PackError(errno == EILSEQ ? " (a character has no equivalent there, or the name is not UTF-8)" : "");
    out.resize(out.size() - outLeft);
    return out;
}

static bool IsAscii(const std::string &text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return (uint8_t)c < 0x80; });
}

std::string TextEncoder::Encode(const std::string &utf8, const std::string &what) const
{
    if (IsAscii(utf8))
        return utf8;
    if (!iconv_)
        throw PackError(what + ": not ASCII; give the stub's code page with --codepage (e.g. 1252 or 932)");
    try {
        return Convert(iconv_, utf8);
    } catch (const PackError &error) {
        throw PackError(what + ": can't be written in code page " + std::to_string(codepage_) + error.what());
    }
}

bool TextEncoder::Decode(const std::string &bytes, std::string *utf8) const
{
    if (IsAscii(bytes)) {
        *utf8 = bytes;
        return true;
    }
    if (!back_)
        return false;
    try {
        *utf8 = Convert(back_, bytes);
        return true;
    } catch (const PackError &) {
        return false;
    }
}

// The length of the UTF-8 sequence that starts with byte c (1 for a stray
// continuation byte, which the conversion then refuses).
static size_t SequenceLength(uint8_t c) { return c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4; }

static uint32_t CodePoint(const std::string &utf8, size_t at, size_t length)
{
    uint32_t c = (uint8_t)utf8[at];
    if (length == 1)
        return c;
    c &= 0x3F >> (length - 1);
    for (size_t i = 1; i < length && at + i < utf8.size(); i++)
        c = c << 6 | ((uint8_t)utf8[at + i] & 0x3F);
    return c;
}

static std::string CharacterName(const std::string &utf8, size_t at, size_t length)
{
    char code[16];
    snprintf(code, sizeof code, "U+%04X", CodePoint(utf8, at, length));
    return "\"" + utf8.substr(at, length) + "\" (" + code + ")";
}

std::string TextEncoder::EncodeName(const std::string &utf8, const std::string &what) const
{
    std::string whole = Encode(utf8, what);
    if (IsAscii(utf8))
        return whole;
    // Character by character, each one converted and read back.
    std::string out;
    for (size_t at = 0; at < utf8.size();) {
        size_t length = std::min(SequenceLength((uint8_t)utf8[at]), utf8.size() - at);
        std::string character = utf8.substr(at, length), bytes = character;
        if (length > 1) {
            bytes = Convert(iconv_, character);
            std::string back;
            try {
                back = Convert(back_, bytes);
            } catch (const PackError &) {
            }
            if (back != character)
                throw PackError(what + ": code page " + std::to_string(codepage_) + " has no " +
                                CharacterName(utf8, at, length) + "; it would become " +
                                (back.empty() ? std::string("something else") : CharacterName(back, 0, back.size())));
        }
        out += bytes;
        at += length;
    }
    return out;
}

// ---- Names ------------------------------------------------------------------------

// Windows creates no file of these names, with any extension: they open the
// devices instead.
static bool IsDeviceName(const std::string &component)
{
    static const char *const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    std::string stem = component.substr(0, component.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    for (char &c : stem)
        if (c >= 'a' && c <= 'z')
            c = (char)(c - 'a' + 'A');
    for (const char *device : kDevices)
        if (stem == device)
            return true;
    if (stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0))
        return stem[3] >= '1' && stem[3] <= '9';
    return false;
}

void CheckName(const std::string &name, const std::string &utf8, const TextEncoder &encoder)
{
    if (name.size() > kMaxNameLength)
        throw PackError(utf8 + ": archive name is " + std::to_string(name.size()) +
                        " bytes long; the stub takes at most " + std::to_string(kMaxNameLength));
    // The characters as given: in a double-byte code page a trailing byte
    // may legitimately be 0x5C.
    for (char c : utf8) {
        if ((uint8_t)c < 0x20 || strchr("<>:\"\\|?*", c))
            throw PackError(utf8 + ": the name holds a character Windows does not allow in file names");
    }
    // The converted bytes, character by character, one component at a time.
    std::string component;
    uint8_t last = 0;
    for (size_t at = 0; at <= name.size(); at++) {
        uint8_t c = at < name.size() ? (uint8_t)name[at] : '/';
        if (c == '/') {
            bool folderEnd = at == name.size() && !name.empty() && name.back() == '/';
            if (component == "." || component == "..")
                throw PackError(utf8 + ": a name may not hold the component \"" + component + "\"");
            if (!folderEnd && (last == '.' || last == ' '))
                throw PackError(utf8 + ": \"" + component + "\" ends in a " + (last == '.' ? "dot" : "space") +
                                ", which Windows drops from file names");
            if (IsDeviceName(component))
                throw PackError(utf8 + ": \"" + component + "\" is the name of a device on Windows");
            component.clear();
            last = 0;
            continue;
        }
        if (c == 0x5C)
            throw PackError(utf8 + ": in code page " + std::to_string(encoder.codepage()) +
                            " the name holds the byte 0x5C, which Windows reads as a backslash");
        component += (char)c;
        if (encoder.IsLeadByte(c) && at + 1 < name.size())
            component += name[++at];
        last = c;
    }
}

std::string FoldCase(const std::string &utf8)
{
    static locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", (locale_t)0);
    std::string folded;
    for (size_t at = 0; at < utf8.size();) {
        size_t length = std::min(SequenceLength((uint8_t)utf8[at]), utf8.size() - at);
        uint32_t c = CodePoint(utf8, at, length);
        uint32_t upper = c;
        if (c < 0x80)
            upper = c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c;
        else if (c <= 0xFFFF && unicode)
            upper = (uint32_t)towupper_l((wint_t)c, unicode);
        if (upper == c || upper > 0xFFFF) {
            folded += utf8.substr(at, length);
        } else {
            char out[4];
            size_t n = upper < 0x80 ? 1 : upper < 0x800 ? 2 : 3;
            if (n == 1)
                out[0] = (char)upper;
            else if (n == 2)
                out[0] = (char)(0xC0 | upper >> 6), out[1] = (char)(0x80 | (upper & 0x3F));
            else
                out[0] = (char)(0xE0 | upper >> 12), out[1] = (char)(0x80 | ((upper >> 6) & 0x3F)),
                out[2] = (char)(0x80 | (upper & 0x3F));
            folded.append(out, n);
        }
        at += length;
    }
    return folded;
}

// ---- Walking ------------------------------------------------------------------------

namespace {

struct Walker {
    explicit Walker(const TextEncoder &e) : encoder(e) {}
    const TextEncoder &encoder;
    struct stat skip {};
    bool haveSkip = false;
    std::vector<InputItem> items;
    std::map<std::string, std::string> seen;  // folded name -> the path that has it
    std::vector<std::pair<dev_t, ino_t>> open;  // folders being walked, against link loops

    void Add(const std::string &path, const std::string &utf8Name, const struct stat &st, bool folder)
    {
        InputItem item;
        item.utf8 = utf8Name + (folder ? "/" : "");
        item.name = encoder.EncodeName(utf8Name, path) + (folder ? "/" : "");
        item.path = path;
        item.folder = folder;
        item.size = folder ? 0 : (uint64_t)st.st_size;
        item.mtime = st.st_mtime;
        CheckName(item.name, item.utf8, encoder);
        if (!folder && item.size > 0xFFFFFFFFu)
            throw PackError(path + ": 4 GiB or larger; entries are limited to 32-bit sizes");
        auto known = seen.emplace(FoldCase(item.utf8), path);
        if (!known.second)
            throw PackError(path + " and " + known.first->second +
                            ": Windows takes the two names for the same file (it ignores case)");
        items.push_back(std::move(item));
    }

    void Walk(const std::string &path, const std::string &name)
    {
        struct stat st;
        if (stat(path.c_str(), &st) != 0)
            throw PackError(path + ": " + strerror(errno));
        if (haveSkip && st.st_dev == skip.st_dev && st.st_ino == skip.st_ino)
            return;  // the output image itself, left from an earlier run
        if (S_ISREG(st.st_mode)) {
            Add(path, name, st, false);
            return;
        }
        if (!S_ISDIR(st.st_mode))
            throw PackError(path + ": neither a file nor a folder");
        for (auto &ancestor : open)
            if (ancestor.first == st.st_dev && ancestor.second == st.st_ino)
                throw PackError(path + ": a link leads back into a folder that contains it");
        if (!name.empty())
            Add(path, name, st, true);
        Children(path, name, st);
    }

    void Children(const std::string &path, const std::string &name, const struct stat &st)
    {
        DIR *dir = opendir(path.c_str());
        if (!dir)
            throw PackError(path + ": " + strerror(errno));
        std::vector<std::string> children;
        while (dirent *d = readdir(dir)) {
            if (strcmp(d->d_name, ".") != 0 && strcmp(d->d_name, "..") != 0)
                children.push_back(d->d_name);
        }
        closedir(dir);
        std::sort(children.begin(), children.end());
        open.push_back({st.st_dev, st.st_ino});
        for (const std::string &child : children)
            Walk(path + "/" + child, name.empty() ? child : name + "/" + child);
        open.pop_back();
    }
};

// The name a folder or file given on the command line gets in the archive:
// its last path component ("dir/" and "dir/." count as "dir").
std::string BaseName(const std::string &path)
{
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    size_t slash = trimmed.rfind('/');
    std::string base = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
    if (base == "." || base == ".." || base.empty() || base == "/") {
        char resolved[PATH_MAX];
        if (!realpath(path.c_str(), resolved))
            throw PackError(path + ": " + strerror(errno));
        std::string full = resolved;
        base = full.substr(full.rfind('/') + 1);
    }
    return base;
}

}  // namespace

std::vector<InputItem> CollectInputs(const std::vector<std::string> &inputs, bool flat,
                                     const TextEncoder &encoder, const std::string &skip)
{
    Walker walker(encoder);
    if (!skip.empty() && stat(skip.c_str(), &walker.skip) == 0)
        walker.haveSkip = true;
    for (const std::string &input : inputs) {
        struct stat st;
        if (stat(input.c_str(), &st) != 0)
            throw PackError(input + ": " + strerror(errno));
        if (S_ISDIR(st.st_mode) && flat) {
            walker.open.push_back({st.st_dev, st.st_ino});
            walker.Children(input, "", st);
            walker.open.pop_back();
        } else {
            std::string base = BaseName(input);
            if (base.empty())
                throw PackError(input + ": a folder without a name; use --flat to pack its contents");
            walker.Walk(input, base);
        }
    }
    return std::move(walker.items);
}

void CheckInputs(const std::vector<InputItem> &items)
{
    uint64_t total = 0;
    for (const InputItem &item : items)
        total += item.size;
    CheckCountAndTotal(items.size(), total);
}

// ---- Times and files ---------------------------------------------------------------

uint32_t DosDateTime(time_t when, bool utc)
{
    struct tm local;
    if (!(utc ? gmtime_r(&when, &local) : localtime_r(&when, &local)) || local.tm_year < 80)
        return (0 + (1 << 5) + 1) << 16;  // 1980-01-01 00:00:00, the earliest DOS date
    if (local.tm_year > 207)
        return (uint32_t)((127 << 9) | (12 << 5) | 31) << 16 | (23 << 11) | (59 << 5) | 29;
    uint32_t date = (uint32_t)((local.tm_year - 80) << 9 | (local.tm_mon + 1) << 5 | local.tm_mday);
    uint32_t time = (uint32_t)(local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
    return date << 16 | time;
}

time_t ParseTime(const std::string &text, const std::string &what)
{
    const char *p = text.c_str();
    bool digits = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    if (digits && text.size() <= 12)
        return (time_t)strtoll(p, nullptr, 10);
    struct tm when = {};
    int consumed = 0;
    int fields = sscanf(p, "%4d-%2d-%2d%n", &when.tm_year, &when.tm_mon, &when.tm_mday, &consumed);
    bool good = fields == 3 && consumed == 10;
    if (good && p[consumed]) {
        int more = 0;
        good = (p[consumed] == 'T' || p[consumed] == ' ') &&
               sscanf(p + consumed + 1, "%2d:%2d%n", &when.tm_hour, &when.tm_min, &more) == 2;
        consumed += 1 + more;
        if (good && p[consumed] == ':') {
            more = 0;
            good = sscanf(p + consumed + 1, "%2d%n", &when.tm_sec, &more) == 1;
            consumed += 1 + more;
        }
        good = good && !p[consumed];
    }
    if (good)
        good = when.tm_mon >= 1 && when.tm_mon <= 12 && when.tm_mday >= 1 && when.tm_mday <= 31 &&
               when.tm_hour < 24 && when.tm_min < 60 && when.tm_sec < 60;
    if (!good)
        throw PackError(what + " takes seconds since 1970 or YYYY-MM-DD[THH:MM[:SS]] (UTC), not '" + text + "'",
                        Failure::Usage);
    when.tm_year -= 1900;
    when.tm_mon -= 1;
    return timegm(&when);
}

Bytes ReadWholeFile(const std::string &path)
{
    FILE *file = fopen(path.c_str(), "rb");
    if (!file)
        throw PackError(path + ": " + strerror(errno));
    Bytes bytes;
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + n);
    bool failed = ferror(file);
    fclose(file);
    if (failed)
        throw PackError(path + ": read error", Failure::Io);
    return bytes;
}

}  // namespace pack
