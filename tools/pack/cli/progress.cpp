// The progress line on a terminal: what is done of the total and the end of
// the file's name, within the terminal's width.
#include <stdio.h>

#include "base/escape.h"
#include "base/utf8.h"
#include "cli/cli.h"
#include "os/os.h"

namespace pack {

// The columns the UTF-8 character of length bytes at text[at] takes on a
// terminal.
static int Columns(const std::string &text, size_t at, size_t length)
{
    uint8_t lead = (uint8_t)text[at];
    size_t expected = lead < 0x80 ? 1 : lead < 0xC2 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 0;
    if (expected != length)
        return 1;  // not a character: shown as one column
    uint32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t i = 1; i < length; i++)
        c = c << 6 | ((uint8_t)text[at + i] & 0x3F);
    return TerminalWidth(c);
}

std::string FitFromEnd(const std::string &text, size_t columns)
{
    std::vector<std::pair<size_t, int>> characters;  // where each begins, its columns
    size_t total = 0;
    for (size_t at = 0; at < text.size();) {
        size_t length = 1;
        while (at + length < text.size() && ((uint8_t)text[at + length] & 0xC0) == 0x80)
            length++;
        characters.push_back({at, Columns(text, at, length)});
        total += (size_t)characters.back().second;
        at += length;
    }
    if (total <= columns)
        return text;
    if (columns < 4)
        return "";
    size_t used = 3, from = text.size();
    for (size_t i = characters.size(); i-- > 0 && used + (size_t)characters[i].second <= columns;) {
        used += (size_t)characters[i].second;
        from = characters[i].first;
    }
    return "..." + text.substr(from);
}

static double Now() { return MonotonicSeconds(); }

Progress::Progress(const std::vector<InputItem> &items, bool shown, std::ostream &err)
    : shown_(shown), err_(err), began_(Now())
{
    for (const InputItem &item : items)
        total_ += item.size;
}

void Progress::Start(const InputItem &item)
{
    name_ = Printable(item.utf8);
    Draw();
}

void Progress::Advance(uint64_t bytes)
{
    done_ += bytes;
    Draw();
}

void Progress::Clear()
{
    if (drawn_)
        err_ << "\r\033[K" << std::flush;
    drawn_ = false;
}

void Progress::Draw()
{
    double now = Now();
    if (!shown_ || now - began_ < 1 || now - last_ < 0.2)
        return;
    last_ = now;
    int percent = total_ ? (int)(done_ * 100 / total_) : 100;
    std::string bar(percent / 5, '#');
    bar.resize(20, ' ');
    char line[96];
    snprintf(line, sizeof line, "[%s] %3d%% %.1f of %.1f MB  ", bar.c_str(), percent, done_ / 1e6,
             total_ / 1e6);
    // The last column stays free: some terminals wrap on it.
    size_t columns = TerminalColumns();
    std::string text = line;
    text = text.size() >= columns ? text.substr(0, columns - 1) : text + FitFromEnd(name_, columns - 1 - text.size());
    err_ << "\r\033[K" << text << std::flush;
    drawn_ = true;
}

}  // namespace pack
