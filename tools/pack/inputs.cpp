// Inputs: walking files and folders into archive names, names and texts as
// UTF-8 or converted into the stub's ANSI code page, DOS timestamps, and file
// access.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <map>

#include "pack.h"
#include "platform.h"

#include "archive/codepages.h"

namespace pack {

// ---- Code pages -------------------------------------------------------------

TextEncoder::TextEncoder(int codepage) : codepage_(codepage), iconv_(nullptr), back_(nullptr)
{
    if (codepage == 0)
        return;
    if (!IsAnsiCodePage(codepage)) {
        std::string known;
        for (uint16_t ansi : kAnsiCodePages)
            known += (known.empty() ? "" : ", ") + std::to_string(ansi);
        throw PackError("--codepage: " + std::to_string(codepage) + " is not a Windows ANSI code page (" + known + ")",
                        Failure::Usage);
    }
    void *to = OpenConversion(codepage, true), *back = OpenConversion(codepage, false);
    if (!to || !back) {
        CloseConversion(to);
        CloseConversion(back);
        throw PackError("--codepage: code page " + std::to_string(codepage) + " is not known to " + kConverterName,
                        Failure::Usage);
    }
    iconv_ = to;
    back_ = back;
    for (int b = 0x80; b < 0x100; b++)
        lead_[b] = pack::IsLeadByte(back, (uint8_t)b);
}

TextEncoder::~TextEncoder()
{
    CloseConversion(iconv_);
    CloseConversion(back_);
}

// text through a conversion; throws a bare PackError that callers complete.
std::string TextEncoder::Convert(void *conversion, const std::string &text) const
{
    std::string out;
    if (int error = ConvertText(conversion, text, &out))
        throw PackError(error == EILSEQ ? " (a character has no equivalent there, or the name is not UTF-8)" : "");
    return out;
}

static bool IsAscii(const std::string &text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return (uint8_t)c < 0x80; });
}

// text in UTF-16 as the stub decodes a name with bit 11; false when it is
// not UTF-8 (or holds a NUL).
static bool StrictWide(const std::string &text, std::u16string *wide)
{
    wide->resize(text.size());
    int32_t units = Utf8ToWide((const uint8_t *)text.data(), (uint32_t)text.size(), &(*wide)[0], true);
    wide->resize(units > 0 ? (size_t)units : 0);
    return units >= 0;
}

bool IsUtf8(const std::string &text)
{
    std::u16string wide;
    return StrictWide(text, &wide);
}

size_t TextEncoder::Units(const std::string &written) const
{
    std::u16string wide;
    return utf8() && StrictWide(written, &wide) ? wide.size() : written.size();
}

std::string TextEncoder::Encode(const std::string &utf8, const std::string &what) const
{
    if (IsAscii(utf8))
        return utf8;
    if (!iconv_) {
        if (!IsUtf8(utf8))
            throw PackError(what + ": not UTF-8");
        return utf8;
    }
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
    if (!iconv_)
        return Encode(utf8, what);  // UTF-8: every character is itself
    std::string whole;
    bool lookAlikes = false;  // a refusal of the platform's that is a look-alike, said as one below
    try {
        whole = Encode(utf8, what);
    } catch (const PackError &) {
        for (size_t at = 0; iconv_ && at < utf8.size() && !lookAlikes;) {
            size_t length = std::min(SequenceLength((uint8_t)utf8[at]), utf8.size() - at);
            std::string bytes;
            lookAlikes = length > 1 && LookAlike(iconv_, utf8.substr(at, length), &bytes);
            at += length;
        }
        if (!lookAlikes)
            throw;
    }
    if (IsAscii(utf8))
        return whole;
    // Character by character, each one converted and read back.
    std::string out;
    for (size_t at = 0; at < utf8.size();) {
        size_t length = std::min(SequenceLength((uint8_t)utf8[at]), utf8.size() - at);
        std::string character = utf8.substr(at, length), bytes = character;
        if (length > 1) {
            if (ConvertText(iconv_, character, &bytes) != 0 && !LookAlike(iconv_, character, &bytes))
                Encode(character, what);  // neither: refused as the whole name would be
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
// devices instead. component is UTF-8: Windows takes the superscript digits
// 1 to 3 for COM and LPT ports as well.
static bool IsDeviceName(const std::string &component)
{
    static const char *const kSuperscripts[] = {"\xC2\xB9", "\xC2\xB2", "\xC2\xB3"};
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
    if (stem.compare(0, 3, "COM") != 0 && stem.compare(0, 3, "LPT") != 0)
        return false;
    if (stem.size() == 4)
        return stem[3] >= '1' && stem[3] <= '9';
    for (const char *digit : kSuperscripts)
        if (stem.compare(3, std::string::npos, digit) == 0)
            return true;
    return false;
}

void CheckName(const std::string &name, const std::string &utf8, const TextEncoder &encoder)
{
    size_t length = encoder.Units(name);
    if (length > kMaxNameLength)
        throw PackError(utf8 + ": archive name is " + std::to_string(length) + " " + encoder.UnitName() +
                        " long; the stub takes at most " + std::to_string(kMaxNameLength));
    // The characters as given: in a double-byte code page a trailing byte
    // may legitimately be 0x5C.
    std::string component;
    for (size_t at = 0; at <= utf8.size(); at++) {
        char c = at < utf8.size() ? utf8[at] : '/';
        if ((uint8_t)c < 0x20 || strchr("<>:\"\\|?*", c))
            throw PackError(utf8 + ": the name holds a character Windows does not allow in file names");
        if (c != '/') {
            component += c;
        } else {
            if (IsDeviceName(component))
                throw PackError(utf8 + ": \"" + component + "\" is the name of a device on Windows");
            component.clear();
        }
    }
    // The converted bytes, character by character, one component at a time.
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
    // A UTF-8 name goes through the stub's own check as well: what it
    // refuses is never packed.
    std::u16string wide;
    if (encoder.utf8() && (!StrictWide(name, &wide) || !WideNameIsCreatable(wide.data(), (uint32_t)wide.size())))
        throw PackError(utf8 + ": the stub would refuse to create this name");
}

std::string FoldCase(const std::string &utf8)
{
    std::string folded;
    for (size_t at = 0; at < utf8.size();) {
        size_t length = std::min(SequenceLength((uint8_t)utf8[at]), utf8.size() - at);
        uint32_t c = CodePoint(utf8, at, length);
        uint32_t upper = c;
        if (c < 0x80)
            upper = c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c;
        else if (c <= 0xFFFF)
            upper = UpperCase(c);
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
    if (!CalendarTime(when, utc, &local) || local.tm_year < 80)
        return (0 + (1 << 5) + 1) << 16;  // 1980-01-01 00:00:00, the earliest DOS date
    if (local.tm_year > 207)
        return (uint32_t)((127 << 9) | (12 << 5) | 31) << 16 | (23 << 11) | (59 << 5) | 29;
    uint32_t date = (uint32_t)((local.tm_year - 80) << 9 | (local.tm_mon + 1) << 5 | local.tm_mday);
    uint32_t time = (uint32_t)(local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
    return date << 16 | time;
}

// What a DOS time can hold, in UTC: 1980-01-01 00:00:00 to 2107-12-31 23:59:59.
constexpr time_t kFirstDosTime = 315532800, kLastDosTime = 4354819199;

time_t ParseTime(const std::string &text, const std::string &what)
{
    const char *p = text.c_str();
    auto inRange = [&](time_t t) {
        if (t < kFirstDosTime || t > kLastDosTime)
            throw PackError(what + " '" + text + "' is outside what a ZIP entry's time holds (1980-01-01 to "
                            "2107-12-31)", Failure::Usage);
        return t;
    };
    bool digits = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    if (digits && text.size() <= 12)
        return inRange((time_t)strtoll(p, nullptr, 10));
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
    struct tm given = when;
    when.tm_year -= 1900;
    when.tm_mon -= 1;
    time_t t = UtcSeconds(&when);
    // UtcSeconds moves a day that the month does not have into the next one.
    if (when.tm_mday != given.tm_mday || when.tm_mon != given.tm_mon - 1)
        throw PackError(what + " '" + text + "': " + text.substr(0, 10) + " is not a day of the calendar",
                        Failure::Usage);
    return inRange(t);
}

Bytes ReadWholeFile(const std::string &path, uint64_t limit, const std::string &what)
{
    const std::string &name = what.empty() ? path : what;
    // Not blocking: a FIFO is refused, not waited on.
    File file(OpenForReading(path));
    if (!file.open())
        throw PackError(name + ": " + strerror(errno), FailureOf(errno));
    FileStatus st;
    if (StatusOf(file.fd(), &st) != 0 || st.kind != FileStatus::Regular || st.size > limit) {
        if (st.kind != FileStatus::Regular)
            throw PackError(name + ": not a regular file");
        throw PackError(name + ": " + std::to_string(st.size) + " bytes; at most " + std::to_string(limit) +
                        " are read");
    }
    Bytes bytes((size_t)st.size);
    long got = ReadUpTo(file.fd(), bytes.data(), bytes.size());
    int error = errno;
    file.Close();
    if (got < 0)
        throw PackError(name + ": " + strerror(error), Failure::Io);
    bytes.resize((size_t)got);  // a file that shrank meanwhile: what it holds now
    return bytes;
}

}  // namespace pack
