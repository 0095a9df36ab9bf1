// The brevant-pack command line: its options, read into Options.
#include <errno.h>
#include <stdlib.h>

#include <map>

#include "base/files.h"
#include "cli/cli.h"
#include "image/image.h"
#include "os/os.h"
#include "pe/pe.h"

namespace pack {

const char kUsage[] =
    "Usage: brevant-pack -o OUTPUT.exe [options] INPUT...\n"
    "       brevant-pack --describe IMAGE.exe [--codepage N] [--json]\n"
    "\n"
    "Packs files and folders into one self-extracting program for Windows: the\n"
    "brevant stub, its configuration, and a ZIP archive of the inputs.\n"
    "\n"
    "Inputs:\n"
    "  A file is packed under its own name. A folder is packed below its own\n"
    "  name: 'brevant-pack -o x.exe app' gives app/, app/setup.exe, ... With\n"
    "  --flat, a folder's contents go to the top of the archive instead\n"
    "  (setup.exe, ...). Every folder, even an empty one, gets its own entry.\n"
    "  An earlier image found as the output inside an input is left out; no\n"
    "  other file of the inputs is ever replaced by the output.\n"
    "\n"
    "Form and behaviour:\n"
    "  --extractor          show the extractor dialog (destination field,\n"
    "                       overwrite box); default: the installer dialog\n"
    "  --autostart          start at once, as if Install/Extract were clicked\n"
    "  --overwrite          replace existing files without asking (extractor:\n"
    "                       the overwrite box starts checked)\n"
    "  --delete-after       delete the destination after the run; only acts\n"
    "                       with --dest unique-temp\n"
    "  --ctl3d              use the 3D-controls library (CTL3D32.DLL)\n"
    "  --dest KIND          where to extract: temp (the system temporary\n"
    "                       folder), image-dir (the folder of the .exe),\n"
    "                       unique-temp (a new folder PHnnnnn in the temporary\n"
    "                       folder), fixed:PATH (PATH with its backslash and\n"
    "                       the longest entry name under 260 UTF-16 units;\n"
    "                       X:\\..., \\\\server\\share\\... or beginning with a\n"
    "                       reference such as %LOCALAPPDATA%, expanded by the\n"
    "                       stub from the user's environment).\n"
    "                       Default: unique-temp for the installer, image-dir\n"
    "                       for the extractor\n"
    "\n"
    "Texts (each TEXT, @@TEXT for one that begins with @, or @FILE to read it\n"
    "from a file, its byte-order mark and trailing line breaks removed;\n"
    "UTF-8, a file's too;\n"
    "--run and --wait-file under 260 UTF-16 units (with --codepage: bytes),\n"
    "--wait-file behind a fixed folder):\n"
    "  --start-message T    shown when the dialog starts (before autostart)\n"
    "  --init-message T     shown before the dialog appears\n"
    "  --about T            shown by the About button\n"
    "  --title T            the dialog's title, also every message box's caption\n"
    "  --banner T           the line at the dialog's foot (default: --product)\n"
    "  --link URL|none      the web link beside it (https://, http://, mailto:);\n"
    "                       default: none shown. Each of the three also in a\n"
    "                       -ja form for the Japanese dialog (default: the same)\n"
    "  --description T      the dialog's description text\n"
    "  --run T              command run in the destination after extraction\n"
    "  --wait-file T        after the command ends, wait until this file (in\n"
    "                       the destination) is released\n"
    "\n"
    "Other options:\n"
    "  -o, --output FILE    the image to write (written whole or not at all);\n"
    "                       its folder must exist, and it must not be an input\n"
    "  --force              replace the output if it exists\n"
    "  --icon FILE.ico      the dialog's icon: the 32x32 image, else the nearest;\n"
    "                       every image of it is also the program's own icon\n"
    "\n"
    "The program as Windows shows it (written into the image's resources):\n"
    "  --exe-icon FILE.ico  the program's icon in Explorer, if not --icon's\n"
    "  --exe-icon-max N     only the program icon's images of at most N pixels\n"
    "  --file-version A.B.C.D    the file's version (and the product's); one\n"
    "                            to four numbers, the missing ones 0\n"
    "  --product-version A.B.C.D the product's version\n"
    "  --product NAME, --company NAME, --copyright TEXT, --file-description\n"
    "                       TEXT (default: the product, else --description)\n"
    "  --execution-level L  asInvoker (default), highestAvailable or\n"
    "                       requireAdministrator: what UAC asks before it runs\n"
    "\n"
    "  --arch ARCH          the stub's architecture: x86 (default; runs on every\n"
    "                       Windows with 32-bit support) or x64 (also runs\n"
    "                       where there is none, such as Windows PE or Server\n"
    "                       Core without WoW64)\n"
    "  --stub FILE          the stub (default: brevant-stub.exe for x86,\n"
    "                       brevant-stub-x64.exe for x64, beside this program;\n"
    "                       on Linux, else in ../share/brevant/ from its folder)\n"
    "  --level N            compression level 0 (store) to 12 (default 12)\n"
    "  -j, --jobs N         compress on N threads (default: the processors\n"
    "                       available); the image is the same for any N\n"
    "  --codepage N         write names and texts in this Windows ANSI code\n"
    "                       page (e.g. 1252 or 932), converted from UTF-8,\n"
    "                       as earlier images were, instead of UTF-8 (the\n"
    "                       default, which the stub reads alike on every\n"
    "                       Windows). Only for old ZIP tools that ignore the\n"
    "                       UTF-8 flag of a name, or to rebuild an earlier\n"
    "                       image byte for byte; the image then extracts\n"
    "                       right only where that code page is the system's\n"
    "  --flat               pack folders' contents at the top (see Inputs)\n"
    "  --exclude PATTERN    leave out what matches PATTERN, matched against the\n"
    "                       archive name: * and ? within a name, ** across\n"
    "                       folders; a PATTERN ending in / matches folders\n"
    "                       only. What is left out is neither walked nor\n"
    "                       checked; repeatable\n"
    "  --follow-links       pack what a link leads to also outside the inputs\n"
    "                       (without it such a link is refused; one within\n"
    "                       the inputs is packed as what it leads to)\n"
    "  --mtime WHEN         give every entry this time: seconds since 1970 or\n"
    "                       YYYY-MM-DD[THH:MM[:SS]], in UTC; without it,\n"
    "                       SOURCE_DATE_EPOCH when set, else each file's\n"
    "                       modification time in local time\n"
    "  -q, --quiet          print nothing but warnings and errors\n"
    "  -v, --verbose        print each entry as it is packed\n"
    "  --describe IMAGE     print an image's configuration and entries, read\n"
    "                       and checked with the stub's own decoder, in UTF-8\n"
    "                       (names and texts not written in UTF-8 converted\n"
    "                       from --codepage N when given)\n"
    "  --json               with --describe: one JSON object instead\n"
    "  --version            the packer's version\n"
    "  -h, --help           this text\n"
    "\n"
    "@FILE among the options reads more options from FILE, one a line (an\n"
    "input whose name begins with @ is written ./@NAME). A text that begins\n"
    "with @ is written @@TEXT. An option and its value may share a line\n"
    "(--level 9); blank lines and lines that begin with # are skipped.\n"
    "\n"
    "Every rule of the stub is checked before anything is written: entry names\n"
    "that Windows can create, of at most 250 UTF-16 units (with --codepage:\n"
    "bytes), 32-bit sizes, stub and configuration within the first 59,996\n"
    "bytes of the image. A progress line shows on a terminal when packing\n"
    "takes longer than a second.\n"
    "Every refusal of names and inputs is reported, together, before anything\n"
    "is written.\n"
    "\n"
    "Exit code: 0 packed (--describe: every entry checks); 1 refused: an\n"
    "input, name, text, icon, stub or output that can't be taken (--describe:\n"
    "the image does not check); 2 the command line itself: an unknown option,\n"
    "a missing value, a value the option does not take; 3 an existing file\n"
    "could not be read, or the output not written; 130 interrupted (Ctrl+C).\n";

namespace {

int ParseNumber(const std::string &option, const std::string &value, int low, int high)
{
    char *end = nullptr;
    long n = strtol(value.c_str(), &end, 10);
    if (value.empty() || *end || n < low || n > high)
        throw PackError(option + " takes a number from " + std::to_string(low) + " to " +
                            std::to_string(high) + ", not '" + value + "'",
                        Failure::Usage);
    return (int)n;
}

// The arguments of a response file: one a line (a trailing CR dropped),
// blank lines (spaces and tabs only), lines whose first character is '#'
// and a UTF-8 byte-order mark skipped. A line that begins with '-' and holds
// a space or tab before any '=' is an option and its value: "--level 9".
std::vector<std::string> ResponseFile(const std::string &path)
{
    FileStatus st;
    if (StatusOf(path, &st, false) == ENOENT)
        throw PackError("@" + path + ": no such option file (an input whose name begins with @ is written ./@" +
                        path + ")");
    Bytes bytes = ReadWholeFile(path, kSmallFileLimit, "@" + path);
    size_t bom = bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
    std::vector<std::string> lines;
    std::string line;
    for (size_t at = bom; at <= bytes.size(); at++) {
        if (at == bytes.size() || bytes[at] == '\n') {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            size_t first = line.find_first_not_of(" \t");
            size_t gap = line[0] == '-' ? line.find_first_of(" \t") : std::string::npos;
            if (gap != std::string::npos && gap < line.find('=')) {
                lines.push_back(line.substr(0, gap));
                size_t value = line.find_first_not_of(" \t", gap);
                if (value != std::string::npos)
                    lines.push_back(line.substr(value, line.find_last_not_of(" \t") + 1 - value));
            } else if (first != std::string::npos && line[first] != '#') {
                lines.push_back(line);
            }
            line.clear();
        } else {
            line += (char)bytes[at];
        }
    }
    return lines;
}

}  // namespace

Options Parse(std::vector<std::string> args)
{
    int responseFiles = 0;
    static const std::map<std::string, uint32_t> kFlags = {
        {"--autostart", SFX_AUTOSTART}, {"--ctl3d", SFX_CTL3D}, {"--overwrite", SFX_OVERWRITE},
        {"--delete-after", SFX_DELETE_AFTER}, {"--extractor", SFX_EXTRACTOR_UI}};
    Options options;
    bool onlyInputs = false;
    for (size_t i = 0; i < args.size(); i++) {
        std::string arg = args[i], value;
        bool haveValue = false;
        if (!onlyInputs && arg.size() > 1 && arg[0] == '@') {
            // @FILE: the file's arguments in its place.
            if (++responseFiles > 64)
                throw PackError(arg + ": more than 64 response files; does one name itself?", Failure::Usage);
            std::vector<std::string> more = ResponseFile(arg.substr(1));
            args.erase(args.begin() + (ptrdiff_t)i);
            args.insert(args.begin() + (ptrdiff_t)i, more.begin(), more.end());
            i--;
            continue;
        }
        if (onlyInputs || arg.empty() || arg[0] != '-' || arg == "-") {
            options.inputs.push_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyInputs = true;
            continue;
        }
        size_t equals = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            value = arg.substr(equals + 1);
            arg = arg.substr(0, equals);
            haveValue = true;
        }
        bool taken = false;
        auto takeValue = [&]() {
            taken = true;
            if (haveValue)
                return value;
            if (i + 1 >= args.size())
                throw PackError(arg + " needs a value", Failure::Usage);
            return args[++i];
        };
        if (arg == "-h" || arg == "--help") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "-q" || arg == "--quiet") {
            options.verbosity = 0;
        } else if (arg == "-v" || arg == "--verbose") {
            options.verbosity = 2;
        } else if (arg == "--json") {
            options.json = true;
        } else if (kFlags.count(arg)) {
            options.flags |= kFlags.at(arg);
        } else if (arg == "--flat") {
            options.flat = true;
        } else if (arg == "--follow-links") {
            options.followLinks = true;
        } else if (arg == "--force") {
            options.force = true;
        } else if (arg == "-o" || arg == "--output") {
            options.output = takeValue();
        } else if (arg == "--stub") {
            options.stub = takeValue();
        } else if (arg == "--arch") {
            options.arch = takeValue();
            if (options.arch != "x86" && options.arch != "x64")
                throw PackError("--arch takes x86 or x64, not '" + options.arch + "'", Failure::Usage);
        } else if (arg == "--icon") {
            options.icon = takeValue();
        } else if (arg == "--exe-icon" || arg == "--file-version" || arg == "--product-version" ||
                   arg == "--product" || arg == "--company" || arg == "--copyright" ||
                   arg == "--file-description" || arg == "--execution-level" || arg == "--title" ||
                   arg == "--title-ja" || arg == "--banner" || arg == "--banner-ja" || arg == "--link" ||
                   arg == "--link-ja") {
            options.program[arg] = takeValue();
        } else if (arg == "--mtime") {
            options.mtime = takeValue();
            ParseTime(options.mtime, "--mtime");
        } else if (arg == "--describe") {
            if (!haveValue && i + 1 < args.size() && args[i + 1] == "--json") {
                options.json = true;  // --describe --json IMAGE
                i++;
            }
            options.describe = takeValue();
        } else if (arg == "--exclude") {
            options.excludes.push_back(takeValue());
        } else if (arg == "--exe-icon-max") {
            options.program[arg] = std::to_string(ParseNumber(arg, takeValue(), 1, 256));
        } else if (arg == "--dest") {
            options.dest = takeValue();
        } else if (arg == "--level") {
            options.level = ParseNumber(arg, takeValue(), 0, 12);
        } else if (arg == "-j" || arg == "--jobs") {
            options.jobs = (unsigned)ParseNumber(arg, takeValue(), 1, 1024);
        } else if (arg == "--codepage") {
            options.codepage = ParseNumber(arg, takeValue(), 1, 65535);
        } else {
            int slot = -1;
            for (int s = 0; s < kTextSlots; s++)
                if (s != CFG_FIXED_DIR && arg == kSlotOptions[s])
                    slot = s;
            if (slot < 0)
                throw PackError("unknown option " + arg + " (see --help)", Failure::Usage);
            options.texts[slot] = takeValue();
            options.haveText[slot] = true;
        }
        // --overwrite=no must not quietly mean --overwrite.
        if (haveValue && !taken)
            throw PackError(arg + " takes no value", Failure::Usage);
    }
    return options;
}

}  // namespace pack
