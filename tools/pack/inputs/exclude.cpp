// --exclude: glob patterns matched against archive names, to leave files and
// folders out of the walk.
//
// Pattern notes. A pattern is matched against an archive name, '/' between
// its folders, a folder without its trailing '/'. '*' matches any run of
// characters within one name, '?' one character (not '/'), '**' any run
// across folders, and "**/" also no folder at all ("**/x" matches "x"). A
// pattern with no '/' but a trailing one matches the last name at any depth,
// as "*.pdb" or ".git/" is meant; one with a '/' inside matches from the
// top, as one that begins with '/' does. A trailing '/' makes a pattern
// match folders only. '\' is taken for '/', as a Windows user writes a path.
#include <algorithm>

#include "base/utf8.h"
#include "inputs/inputs.h"

namespace pack {

namespace {

// Whether name[n..] matches pattern[p..].
bool Glob(const std::string &pattern, size_t p, const std::string &name, size_t n)
{
    while (p < pattern.size()) {
        char c = pattern[p];
        if (c == '*' && p + 1 < pattern.size() && pattern[p + 1] == '*') {
            size_t rest = p + 2;
            if (rest < pattern.size() && pattern[rest] == '/' && Glob(pattern, rest + 1, name, n))
                return true;  // "**/" as no folder at all
            for (size_t at = n; at <= name.size(); at++)
                if (Glob(pattern, rest, name, at))
                    return true;
            return false;
        }
        if (c == '*') {
            for (size_t at = n;; at++) {
                if (Glob(pattern, p + 1, name, at))
                    return true;
                if (at == name.size() || name[at] == '/')
                    return false;
            }
        }
        if (n == name.size())
            return false;
        if (c == '?') {
            if (name[n] == '/')
                return false;
            n += std::min(SequenceLength((uint8_t)name[n]), name.size() - n);  // one character
            p++;
            continue;
        }
        if (name[n] != c)
            return false;
        n++;
        p++;
    }
    return n == name.size();
}

}  // namespace

bool Excluded(const std::vector<std::string> &patterns, const std::string &name, bool folder)
{
    for (std::string pattern : patterns) {
        for (char &c : pattern)
            if (c == '\\')
                c = '/';
        bool foldersOnly = !pattern.empty() && pattern.back() == '/';
        if (foldersOnly)
            pattern.pop_back();
        if (pattern.empty() || (foldersOnly && !folder))
            continue;
        bool anywhere = pattern.find('/') == std::string::npos;
        if (pattern[0] == '/')
            pattern.erase(0, 1);  // "/build": at the top only
        std::string subject = anywhere ? name.substr(name.rfind('/') + 1) : name;
        if (Glob(pattern, 0, subject, 0))
            return true;
    }
    return false;
}

}  // namespace pack
