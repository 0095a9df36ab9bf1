// The publisher's title, banner and link in the image's copy of the stub's
// dialog templates (both forms, English and Japanese): the stub shows and
// opens whatever its templates hold, and takes the title as the caption of
// its message boxes. The stub's own link is empty, hidden and disabled, and
// stays so without --link: no dead address is shown or opened.
//
// Template format notes (DLGTEMPLATE, as a resource compiler writes a
// DIALOG): style and extended style (DWORD each), the control count cdit,
// x, y, cx, cy (WORD each); then three variable fields, each a WORD 0
// (none), 0xFFFF and an ordinal WORD, or a zero-terminated UTF-16 string:
// the menu, the window class and the title; with DS_SETFONT in the style,
// the point size (WORD) and the font's name as a string. Every control
// follows on a DWORD boundary from the template's start: DLGITEMTEMPLATE
// (style, extended style, x, y, cx, cy, id: 18 bytes), its class and text
// as variable fields, then a WORD count of creation data and those bytes.
//
// The line of banner and link: dialog units are defined so that an average
// character of the dialog's font is 4 units wide, so a text's width is
// reckoned as 4 units a character, 8 for a wide East Asian one. Neither the
// fonts nor the system that draws them are known here, so the reckoning is
// a good estimate, not a measurement: a text far past its line is refused,
// and the line is shared out so that each text gets the room it needs.
#include <string.h>

#include <algorithm>
#include <map>

#include "base/files.h"
#include "pe/pe.h"

namespace pack {

using namespace resource;

namespace {

constexpr uint32_t DS_SETFONT = 0x40;
constexpr uint32_t WS_VISIBLE = 0x10000000;
constexpr uint32_t WS_DISABLED = 0x08000000;
constexpr uint32_t SS_TYPEMASK = 0x1F, SS_RIGHT = 0x02;
constexpr uint16_t kStaticAtom = 0x0082;
constexpr uint16_t kNoId = 0xFFFF;  // IDC_STATIC
constexpr uint32_t kLangJapanese = 0x11;

// The line at the foot of both forms, in dialog units: the banner
// right-aligned from 0 to 148, the link from 151 to the dialog's edge.
constexpr int kLineWidth = 264, kGap = 3, kBannerWidth = 148, kLinkWidth = 112;
constexpr int kUnitsPerCharacter = 4;
constexpr size_t kTitleCharacters = 56;  // the caption, beside its icon and close box

struct Field {
    bool ordinal = false;
    uint16_t value = 0;  // the ordinal
    std::u16string text;
};

struct Control {
    uint32_t style = 0, exStyle = 0;
    uint16_t x = 0, y = 0, cx = 0, cy = 0, id = 0;
    Field kind, text;
    Bytes data;
};

struct Template {
    uint32_t style = 0, exStyle = 0;
    uint16_t x = 0, y = 0, cx = 0, cy = 0;
    Field menu, kind;
    std::u16string title, face;
    uint16_t pointSize = 0;
    std::vector<Control> controls;
};

class TemplateReader {
public:
    explicit TemplateReader(const Bytes &data) : data_(data) {}
    Template Read()
    {
        Template t;
        if (Word(0) == 1 && Word(2) == 0xFFFF)
            Damaged();  // DLGTEMPLATEEX, which no DIALOG statement writes
        t.style = Dword();
        t.exStyle = Dword();
        size_t count = Word();
        t.x = Word(), t.y = Word(), t.cx = Word(), t.cy = Word();
        t.menu = Variable();
        t.kind = Variable();
        t.title = String();
        if (t.style & DS_SETFONT) {
            t.pointSize = Word();
            t.face = String();
        }
        for (size_t i = 0; i < count; i++) {
            at_ = (at_ + 3) & ~(size_t)3;
            Control c;
            c.style = Dword();
            c.exStyle = Dword();
            c.x = Word(), c.y = Word(), c.cx = Word(), c.cy = Word(), c.id = Word();
            c.kind = Variable();
            c.text = Variable();
            size_t extra = Word();
            Need(extra);
            c.data.assign(data_.begin() + (ptrdiff_t)at_, data_.begin() + (ptrdiff_t)(at_ + extra));
            at_ += extra;
            t.controls.push_back(c);
        }
        return t;
    }

private:
    [[noreturn]] static void Damaged() { throw PackError("the stub's dialog template is damaged"); }
    void Need(size_t count) const
    {
        if (at_ > data_.size() || count > data_.size() - at_)
            Damaged();
    }
    uint16_t Word(size_t at) const { return at + 2 <= data_.size() ? (uint16_t)Get16(data_, at) : 0; }
    uint16_t Word()
    {
        Need(2);
        at_ += 2;
        return (uint16_t)Get16(data_, at_ - 2);
    }
    uint32_t Dword() { return Word() | (uint32_t)Word() << 16; }
    std::u16string String()
    {
        std::u16string s;
        for (uint16_t c; (c = Word()) != 0;)
            s.push_back((char16_t)c);
        return s;
    }
    Field Variable()
    {
        Field f;
        uint16_t first = Word();
        if (first == 0xFFFF) {
            f.ordinal = true;
            f.value = Word();
        } else if (first != 0) {
            f.text.push_back((char16_t)first);
            f.text += String();
        }
        return f;
    }
    const Bytes &data_;
    size_t at_ = 0;
};

void PutString(Bytes &out, const std::u16string &s)
{
    for (char16_t c : s)
        Put16(out, c);
    Put16(out, 0);
}

void PutField(Bytes &out, const Field &f)
{
    if (f.ordinal) {
        Put16(out, 0xFFFF);
        Put16(out, f.value);
    } else {
        PutString(out, f.text);
    }
}

Bytes Write(const Template &t)
{
    Bytes out;
    Put32(out, t.style);
    Put32(out, t.exStyle);
    for (uint32_t v : {(uint32_t)t.controls.size(), (uint32_t)t.x, (uint32_t)t.y, (uint32_t)t.cx, (uint32_t)t.cy})
        Put16(out, v);
    PutField(out, t.menu);
    PutField(out, t.kind);
    PutString(out, t.title);
    if (t.style & DS_SETFONT) {
        Put16(out, t.pointSize);
        PutString(out, t.face);
    }
    for (const Control &c : t.controls) {
        Pad(out, 4);
        Put32(out, c.style);
        Put32(out, c.exStyle);
        for (uint32_t v : {c.x, c.y, c.cx, c.cy, c.id})
            Put16(out, v);
        PutField(out, c.kind);
        PutField(out, c.text);
        Put16(out, (uint32_t)c.data.size());
        out.insert(out.end(), c.data.begin(), c.data.end());
    }
    return out;
}

bool IsStatic(const Field &kind)
{
    if (kind.ordinal)
        return kind.value == kStaticAtom;
    std::u16string lower;
    for (char16_t c : kind.text)
        lower.push_back(c >= 'A' && c <= 'Z' ? (char16_t)(c + 32) : c);
    return lower == u"static";
}

bool IsWide(char16_t c)
{
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3) ||
           (c >= 0xD800 && c <= 0xDFFF) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
           (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6);
}

// How many average characters text is wide (a surrogate pair, always a
// character of the wide planes, counts its two units once each).
size_t Characters(const std::u16string &text)
{
    size_t n = 0;
    for (char16_t c : text)
        n += c >= 0xD800 && c <= 0xDFFF ? 1 : IsWide(c) ? 2 : 1;
    return n;
}

int Language(uint32_t language) { return (language & 0x3FF) == kLangJapanese ? 1 : 0; }

}  // namespace

const char *const kDialogOptions[3] = {"--title", "--banner", "--link"};

namespace resource {

Bytes BrandDialog(const Bytes &data, uint32_t language, const ProgramResources &program)
{
    int l = Language(language);
    Template t = TemplateReader(data).Read();
    if (!program.title[l].empty())
        t.title = Utf16(program.title[l], "--title");
    Control *banner = nullptr, *link = nullptr;
    for (Control &c : t.controls) {
        if (c.id == IDC_LINK)
            link = &c;
        else if (c.id == kNoId && IsStatic(c.kind) && (c.style & SS_TYPEMASK) == SS_RIGHT)
            banner = &c;
    }
    if (banner && !program.banner[l].empty()) {
        banner->text = Field();
        banner->text.text = Utf16(program.banner[l], "--banner");
    }
    bool shown = !program.link[l].empty();
    if (link) {
        link->text = Field();
        if (shown) {
            link->text.text = Utf16(program.link[l], "--link");
            link->style = (link->style | WS_VISIBLE) & ~WS_DISABLED;
        } else {
            link->style = (link->style & ~WS_VISIBLE) | WS_DISABLED;
        }
    }
    // The line shared out: each text keeps the stub's rectangle while it
    // fits there; else the link takes what it needs at the right edge and
    // the banner the rest (the whole line without a link).
    int bannerWidth = banner ? kUnitsPerCharacter * (int)Characters(banner->text.text) : 0;
    int linkWidth = shown ? kUnitsPerCharacter * (int)Characters(link->text.text) : 0;
    if (banner && link && (bannerWidth > kBannerWidth || linkWidth > kLinkWidth)) {
        if (shown) {
            link->cx = (uint16_t)std::max(linkWidth, kLinkWidth);
            if (bannerWidth + kGap + link->cx > kLineWidth)
                link->cx = (uint16_t)linkWidth;
            link->x = (uint16_t)(kLineWidth - link->cx);
            banner->cx = (uint16_t)(link->x - kGap);
        } else {
            banner->cx = (uint16_t)kLineWidth;
        }
        banner->x = 0;
    }
    return Write(t);
}

namespace {

// Whether a link is an address the shell opens in a browser or mail
// program; anything else (a path, a program) would be run by the click.
bool IsWebAddress(const std::string &link)
{
    std::string lower;
    for (char c : link)
        lower += (char)(c >= 'A' && c <= 'Z' ? c + 32 : c);
    for (const char *scheme : {"https://", "http://", "mailto:"})
        if (lower.compare(0, strlen(scheme), scheme) == 0 && lower.size() > strlen(scheme))
            return lower.find_first_of(" \t\"<>") == std::string::npos;
    return false;
}

// Refuses a title, banner or link that would not fit its line, in either
// language; from names the option each text came from.
void CheckDialogTexts(const ProgramResources &program, const std::string from[3][2])
{
    static const char *const kWhat[] = {"title", "banner", "link"};
    for (int l = 0; l < 2; l++) {
        const std::string *texts[] = {&program.title[l], &program.banner[l], &program.link[l]};
        size_t width[3];
        for (int k = 0; k < 3; k++) {
            std::u16string wide = Utf16(*texts[k], from[k][l]);
            for (char16_t c : wide)
                if (c < 0x20 || c == 0x7F)
                    throw PackError(from[k][l] + ": the " + kWhat[k] + " is one line of text; it holds a control "
                                    "character or line break");
            width[k] = Characters(wide);
        }
        const char *language = l ? " in the Japanese dialog" : "";
        if (width[0] > kTitleCharacters)
            throw PackError(from[0][l] + ": the title is about " + std::to_string(width[0]) +
                            " characters wide; the dialog's caption holds about " +
                            std::to_string(kTitleCharacters) + language);
        size_t line = (size_t)(kLineWidth - (width[2] ? kGap : 0)) / kUnitsPerCharacter;
        if (width[2] > line)
            throw PackError(from[2][l] + ": the link is about " + std::to_string(width[2]) +
                            " characters wide; the dialog's line holds about " + std::to_string(line) + language);
        if (width[1] + width[2] > line)
            throw PackError(from[1][l] + ": the banner is about " + std::to_string(width[1]) +
                            " characters wide; " + (width[2] ? "beside the link " : "") +
                            "the dialog's line holds about " + std::to_string(line - width[2]) + language +
                            (width[2] ? " (or shorten the link)" : ""));
    }
}

}  // namespace

void DialogTextsFrom(const std::map<std::string, std::string> &given, ProgramResources &program)
{
    std::string from[3][2];
    std::string *texts[3] = {program.title, program.banner, program.link};
    for (int k = 0; k < 3; k++) {
        std::string plain = kDialogOptions[k], ja = plain + "-ja";
        for (const std::string &option : {plain, ja}) {
            auto found = given.find(option);
            if (found != given.end() && found->second.empty())
                throw PackError(option + " needs a text", Failure::Usage);
        }
        program.dialogAsked |= given.count(plain) || given.count(ja);
        bool own = given.count(plain) > 0, ownJa = given.count(ja) > 0;
        // Without --banner, the product's name is the banner.
        std::string fallback = k == 1 && !program.product.empty() ? program.product : "";
        texts[k][0] = own ? TextArgument(given.at(plain)) : fallback;
        from[k][0] = own || fallback.empty() ? plain : "--product";
        texts[k][1] = ownJa ? TextArgument(given.at(ja)) : texts[k][0];
        from[k][1] = ownJa ? ja : from[k][0];
    }
    for (int l = 0; l < 2; l++) {
        if (program.link[l] == "none")
            program.link[l].clear();
        else if (!program.link[l].empty() && !IsWebAddress(program.link[l]))
            throw PackError(from[2][l] + " takes a web address (https://, http:// or mailto:) or none, not '" +
                                program.link[l] + "'",
                            Failure::Usage);
    }
    CheckDialogTexts(program, from);
}

void ReadDialogTexts(const Bytes &data, uint32_t form, uint32_t language, ProgramInfo *info)
{
    Template t;
    try {
        t = TemplateReader(data).Read();
    } catch (const PackError &) {
        return;
    }
    ProgramInfo::Dialog d;
    d.form = form;
    d.japanese = Language(language) == 1;
    d.title = t.title;
    for (const Control &c : t.controls) {
        if (c.id == IDC_LINK)
            d.link = (c.style & WS_VISIBLE) && !(c.style & WS_DISABLED) ? c.text.text : u"";
        else if (c.id == kNoId && IsStatic(c.kind) && (c.style & SS_TYPEMASK) == SS_RIGHT)
            d.banner = c.text.text;
    }
    info->dialogs.push_back(d);
}

}  // namespace resource

}  // namespace pack
