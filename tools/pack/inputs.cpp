// Inputs: walking files and folders into archive names, converting names and
// texts into the stub's ANSI code page, DOS timestamps, and file access.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>

#include "pack.h"

namespace pack {

// ---- Code pages -------------------------------------------------------------

TextEncoder::TextEncoder(int codepage) : codepage_(codepage), iconv_(nullptr)
{
    if (codepage == 0)
        return;
    std::string name = "CP" + std::to_string(codepage);
    iconv_t cd = iconv_open(name.c_str(), "UTF-8");
    if (cd == (iconv_t)-1)
        throw PackError("code page " + std::to_string(codepage) + " is not known to iconv");
    iconv_ = cd;
}

TextEncoder::~TextEncoder()
{
    if (iconv_)
        iconv_close((iconv_t)iconv_);
}

std::string TextEncoder::Encode(const std::string &utf8, const std::string &what) const
{
    bool ascii = std::all_of(utf8.begin(), utf8.end(), [](char c) { return (uint8_t)c < 0x80; });
    if (ascii)
        return utf8;
    if (!iconv_)
        throw PackError(what + ": not ASCII; give the stub's code page with --codepage (e.g. 1252 or 932)");
    iconv_t cd = (iconv_t)iconv_;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::string out(utf8.size() * 4 + 16, '\0');
    char *in = const_cast<char *>(utf8.data());
    size_t inLeft = utf8.size();
    char *to = out.data();
    size_t outLeft = out.size();
    if (iconv(cd, &in, &inLeft, &to, &outLeft) == (size_t)-1 ||
        iconv(cd, nullptr, nullptr, &to, &outLeft) == (size_t)-1)
        throw PackError(what + ": can't be written in code page " + std::to_string(codepage_) +
                        (errno == EILSEQ ? " (a character has no equivalent there, or the name is not UTF-8)" : ""));
    out.resize(out.size() - outLeft);
    return out;
}

// ---- Names ------------------------------------------------------------------------

void CheckName(const std::string &name, const std::string &utf8)
{
    if (name.size() > kMaxNameLength)
        throw PackError(utf8 + ": archive name is " + std::to_string(name.size()) +
                        " bytes long; the stub takes at most " + std::to_string(kMaxNameLength));
    // Checked on the UTF-8 form: in a double-byte code page a trailing byte
    // may legitimately be 0x5C.
    for (char c : utf8) {
        if ((uint8_t)c < 0x20 || strchr("<>:\"\\|?*", c))
            throw PackError(utf8 + ": the name holds a character Windows does not allow in file names");
    }
}

// Windows compares names without regard to case: two names that differ only
// in case would land on the same file.
static std::string FoldCase(const std::string &name)
{
    std::string folded = name;
    for (char &c : folded)
        if (c >= 'A' && c <= 'Z')
            c = (char)(c - 'A' + 'a');
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
    std::set<std::string> seen;
    std::vector<std::pair<dev_t, ino_t>> open;  // folders being walked, against link loops

    void Add(const std::string &path, const std::string &utf8Name, const struct stat &st, bool folder)
    {
        InputItem item;
        item.utf8 = utf8Name + (folder ? "/" : "");
        item.name = encoder.Encode(utf8Name, path) + (folder ? "/" : "");
        item.path = path;
        item.folder = folder;
        item.size = folder ? 0 : (uint64_t)st.st_size;
        item.mtime = st.st_mtime;
        CheckName(item.name, item.utf8);
        if (!folder && item.size > 0xFFFFFFFFu)
            throw PackError(path + ": 4 GiB or larger; entries are limited to 32-bit sizes");
        if (!seen.insert(FoldCase(item.name)).second)
            throw PackError(path + ": the archive already holds an entry named " + item.utf8 +
                            " (names are compared without regard to case, as Windows does)");
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

// ---- Times and files ---------------------------------------------------------------

uint32_t DosDateTime(time_t when)
{
    struct tm local;
    if (!localtime_r(&when, &local) || local.tm_year < 80)
        return (0 + (1 << 5) + 1) << 16;  // 1980-01-01 00:00:00, the earliest DOS date
    if (local.tm_year > 207)
        return (uint32_t)((127 << 9) | (12 << 5) | 31) << 16 | (23 << 11) | (59 << 5) | 29;
    uint32_t date = (uint32_t)((local.tm_year - 80) << 9 | (local.tm_mon + 1) << 5 | local.tm_mday);
    uint32_t time = (uint32_t)(local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
    return date << 16 | time;
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
