// The walk over the inputs: files and folders into archive names, links
// followed where they stay within the inputs, the output and the packer's
// temporary files left out, and every refusal collected on the way.
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <map>

#include "bytes.h"
#include "pack.h"
#include "platform.h"

namespace pack {

Failure FailureOf(int error)
{
    return error == ENOENT || error == ENOTDIR || error == ELOOP || error == ENAMETOOLONG ? Failure::Refused
                                                                                          : Failure::Io;
}

PackError Refusals(const std::vector<PackError> &errors)
{
    std::string text;
    Failure kind = Failure::Refused;
    for (size_t i = 0; i < errors.size(); i++) {
        kind = std::max(kind, errors[i].failure);
        if (i < kMostRefusals)
            text += Printable(errors[i].what()) + "\n";
    }
    if (errors.size() > kMostRefusals)
        text += "... and " + std::to_string(errors.size() - kMostRefusals) + " more\n";
    PackError all(text + RefusalCount(errors.size()), kind);
    all.escaped = true;
    return all;
}

std::string RefusalCount(size_t count)
{
    return std::to_string(count) + (count == 1 ? " refusal" : " refusals") + "; nothing was written";
}

// ---- What the walk leaves out ---------------------------------------------------------

bool IsTemporaryName(const std::string &name, long *pid)
{
    size_t tag = name.rfind(kTemporaryTag);
    if (tag == std::string::npos || tag == 0)
        return false;
    std::string rest = name.substr(tag + sizeof kTemporaryTag - 1);  // PID-XXXXXX, as mkstemp fills it
    size_t dash = rest.find_first_not_of("0123456789");
    if (dash == 0 || dash == std::string::npos || rest[dash] != '-' || rest.size() != dash + 7)
        return false;
    for (size_t i = dash + 1; i < rest.size(); i++)
        if (!isalnum((uint8_t)rest[i]))
            return false;
    if (pid)
        *pid = strtol(rest.c_str(), nullptr, 10);
    return true;
}

bool IsImage(const std::string &path)
{
    File file(OpenForReading(path));
    if (!file.open())
        return false;
    Bytes head(kScanLimit);
    long got = ReadUpTo(file.fd(), head.data(), head.size());
    file.Close();
    head.resize(got > 0 ? (size_t)got : 0);
    PeLayout pe;
    ReadPeLayout(head, &pe);
    if (!pe.dosHeader)
        return false;
    // The configuration header ("JAVA", CRC-32, size) and its raw deflate
    // block, which the stub's decoder must inflate to that size and CRC-32.
    // The stub's scan, but every "JAVA" from the first byte on is tried
    // where the stub takes the first after the PE headers: a signed image's
    // headers may spell one, which fails to decode and is passed over, and
    // a stub holds none (CheckStub), so an image this packer made is known
    // either way.
    int32_t at = -1;
    while ((at = FindSignatureIn(head.data(), (uint32_t)head.size(), (uint32_t)(at + 1), CONFIG_SIG_LOW,
                                 CONFIG_SIG_HIGH)) >= 0) {
        size_t offset = (size_t)at;
        if (offset > kLastSignatureOffset || offset + CONFIG_HEADER_SIZE > head.size())
            break;
        LocalHeader stream = {};
        stream.Method = 8;
        stream.Crc32 = Get32(head, offset + 4);
        stream.UncompressedSize = Get32(head, offset + 8);
        if (stream.UncompressedSize == 0 || stream.UncompressedSize > kScanLimit * 32)
            continue;
        Bytes block(stream.UncompressedSize);
        size_t streamAt = offset + CONFIG_HEADER_SIZE;
        if (DecodeInMemory(&head[streamAt], head.size() - streamAt, 0, stream, block.data()) == DECODE_OK)
            return true;
    }
    return false;
}

// ---- Walking ------------------------------------------------------------------------------

namespace {

struct Seen {
    std::string path, utf8;
    FileStatus file;
};

struct Walker {
    Walker(const TextEncoder &e, bool follow) : encoder(e), followLinks(follow) {}
    const TextEncoder &encoder;
    bool followLinks;
    std::string outputPath;
    FileStatus output;
    bool haveOutput = false;
    std::vector<std::string> roots;  // the inputs, resolved: where a link may lead
    std::vector<InputItem> items;
    std::vector<PackError> refused;
    std::map<std::string, Seen> seen;  // folded name -> what has it
    std::vector<FileStatus> open;  // folders being walked, against link loops
    std::vector<std::string> excludes, leftOut;  // --exclude, and the names it left out

    // Whether --exclude leaves name out: a folder (or a link to one) by any
    // pattern, else by the patterns that are not for folders only.
    bool LeftOut(const std::string &path, const std::string &name)
    {
        if (excludes.empty())
            return false;
        FileStatus st;
        bool folder = StatusOf(path, &st) == 0 && st.kind == FileStatus::Folder;
        if (!Excluded(excludes, name, folder))
            return false;
        leftOut.push_back(name + (folder ? "/" : ""));
        return true;
    }

    void Refuse(const std::string &what, Failure kind = Failure::Refused) { refused.emplace_back(what, kind); }

    // A path that stat can't follow; a link is refused as a link.
    void Unreachable(const std::string &path, int error)
    {
        std::string target;
        if (ReadLink(path, &target)) {
            if (error == ENOENT)
                return Refuse(path + ": a link to " + target + ", which does not exist");
            if (error == ELOOP)
                return Refuse(path + ": a link to " + target + ", which leads round in a loop");
        }
        Refuse(path + ": " + strerror(error), FailureOf(error));
    }

    bool Add(const std::string &path, const std::string &utf8Name, const FileStatus &st, bool folder,
             const std::string &link)
    {
        InputItem item;
        item.utf8 = utf8Name + (folder ? "/" : "");
        item.path = path;
        item.folder = folder;
        item.size = folder ? 0 : st.size;
        item.mtime = st.mtime;
        item.link = link;
        item.flags = encoder.utf8() ? ZIP_FLAG_UTF8 : 0;
        item.file = st;
        FileStatus self;
        item.pathIsLink = StatusOf(path, &self, false) == 0 && self.kind == FileStatus::Link;
        try {
            item.name = encoder.EncodeName(utf8Name, path) + (folder ? "/" : "");
            CheckName(item.name, item.utf8, encoder);
        } catch (const PackError &error) {
            refused.push_back(error);
            return false;
        }
        if (!folder && item.size > 0xFFFFFFFFu) {
            Refuse(path + ": 4 GiB or larger; entries are limited to 32-bit sizes");
            return false;
        }
        // A folder and a file of the same name collide as well.
        auto known = seen.emplace(FoldCase(utf8Name), Seen{path, item.utf8, st});
        if (!known.second) {
            const Seen &other = known.first->second;
            if (FoldCase(other.utf8) != FoldCase(item.utf8))
                Refuse(path + " and " + other.path + ": a file and a folder of the same name");
            else if (other.utf8 != item.utf8)
                Refuse(path + " and " + other.path + ": Windows takes the two names for the same file (it ignores case)");
            else if (SameFile(other.file, st))
                Refuse(path + " and " + other.path + ": the same input given twice");
            else
                Refuse(path + " and " + other.path + ": both would be " + item.utf8 + " in the archive");
            return false;
        }
        items.push_back(std::move(item));
        return true;
    }

    // A link: followed when what it leads to lies within the inputs, or
    // anywhere with --follow-links; st becomes what it leads to.
    bool Follow(const std::string &path, FileStatus *st)
    {
        std::string target;
        int error = StatusOf(path, st);
        if (error == 0)
            error = RealPath(path, &target);
        if (error != 0) {
            Unreachable(path, error);
            return false;
        }
        for (const std::string &root : roots) {
            std::string below = root.back() == '/' ? root : root + "/";  // a root ("/", "C:/") ends in it
            if (target == root || target.compare(0, below.size(), below) == 0)
                return true;
        }
        if (followLinks)
            return true;
        Refuse(path + ": a link to " + target + ", outside the inputs; give --follow-links to pack what it leads to");
        return false;
    }

    void Walk(const std::string &path, const std::string &name, std::string link)
    {
        if (LeftOut(path, name))
            return;
        FileStatus st;
        if (int error = StatusOf(path, &st, false))
            return Unreachable(path, error);
        if (st.kind == FileStatus::Link) {
            if (!Follow(path, &st))
                return;
            link = path;
        }
        Enter(path, name, st, link);
    }

    void Enter(const std::string &path, const std::string &name, const FileStatus &st, const std::string &link)
    {
        if (haveOutput && SameFile(st, output)) {
            if (!IsImage(path))
                Refuse(path + ": is the output (-o " + outputPath + "), which would replace it; name another output");
            return;  // else an earlier image, left out
        }
        if (st.kind == FileStatus::Regular) {
            if (!IsTemporaryName(path.substr(path.find_last_of(kSeparators) + 1)))
                Add(path, name, st, false, link);
            return;
        }
        if (st.kind != FileStatus::Folder)
            return Refuse(path + ": neither a file nor a folder");
        for (const FileStatus &ancestor : open)
            if (SameFile(ancestor, st))
                return Refuse(path + ": a link that leads back into a folder that contains it");
        if (!name.empty() && !Add(path, name, st, true, link))
            return;  // nothing below a refused folder: its refusal says it
        Children(path, name, st, link);
    }

    void Children(const std::string &path, const std::string &name, const FileStatus &st, const std::string &link)
    {
        std::vector<std::string> children;
        if (int error = ListFolder(path, &children))
            return Refuse(path + ": " + strerror(error), FailureOf(error));
        std::sort(children.begin(), children.end());
        open.push_back(st);
        for (const std::string &child : children)
            Walk(path + "/" + child, name.empty() ? child : name + "/" + child, link);
        open.pop_back();
    }
};

// The name a folder or file given on the command line gets in the archive:
// its last path component ("dir/" and "dir/." count as "dir").
std::string BaseName(const std::string &path)
{
    std::string trimmed = path;
    while (trimmed.size() > 1 && strchr(kSeparators, trimmed.back()))
        trimmed.pop_back();
    size_t slash = trimmed.find_last_of(kSeparators);
    std::string base = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
    if (base == "." || base == ".." || base.empty() || base == "/") {
        std::string full;
        if (int error = RealPath(path, &full))
            throw PackError(path + ": " + strerror(error), FailureOf(error));
        base = full.substr(full.rfind('/') + 1);
    }
    return base;
}

}  // namespace

std::vector<InputItem> CollectInputs(const std::vector<std::string> &inputs, bool flat,
                                     const TextEncoder &encoder, const std::string &output, bool followLinks,
                                     const std::vector<std::string> &excludes, std::vector<std::string> *leftOut)
{
    Walker walker(encoder, followLinks);
    walker.excludes = excludes;
    walker.outputPath = output;
    walker.haveOutput = !output.empty() && StatusOf(output, &walker.output) == 0;
    for (const std::string &input : inputs) {
        std::string real;
        if (RealPath(input, &real) == 0)
            walker.roots.push_back(real);
    }
    std::vector<std::pair<std::string, FileStatus>> given;  // the inputs that exist, so far
    for (const std::string &input : inputs) {
        FileStatus st;
        if (int error = StatusOf(input, &st)) {
            walker.Unreachable(input, error);
            continue;
        }
        // Named twice: one refusal, not one for each of its files.
        bool twice = false;
        for (const auto &earlier : given)
            twice = twice || (SameFile(earlier.second, st) && BaseName(earlier.first) == BaseName(input));
        given.emplace_back(input, st);
        if (twice) {
            walker.Refuse(input + ": the same input given twice");
            continue;
        }
        if (st.kind == FileStatus::Folder && flat) {
            walker.open.push_back(st);
            walker.Children(input, "", st, "");
            walker.open.pop_back();
        } else {
            std::string base = BaseName(input);
            if (walker.LeftOut(input, base))
                continue;
            if (base.empty())
                walker.Refuse(input + ": a folder without a name; use --flat to pack its contents");
            else
                walker.Enter(input, base, st, "");
        }
    }
    if (leftOut)
        *leftOut = walker.leftOut;
    if (!walker.refused.empty())
        throw Refusals(walker.refused);
    return std::move(walker.items);
}

}  // namespace pack
