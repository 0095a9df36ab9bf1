// The brevant-pack command line.
#include <errno.h>
#include <limits.h>
#include <string.h>
#include <time.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "pack.h"
#include "platform.h"

namespace pack {

static const char kUsage[] =
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
    "                       the longest entry name under 260 bytes).\n"
    "                       Default: unique-temp for the installer, image-dir\n"
    "                       for the extractor\n"
    "\n"
    "Texts (each TEXT, @@TEXT for one that begins with @, or @FILE to read it\n"
    "from a file, its trailing line breaks removed; --run and --wait-file\n"
    "under 260 bytes, --wait-file behind a fixed folder):\n"
    "  --start-message T    shown when the dialog starts (before autostart)\n"
    "  --init-message T     shown before the dialog appears\n"
    "  --about T            shown by the About button\n"
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
    "  --file-version A.B.C.D    the file's version (and the product's)\n"
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
    "                       brevant-stub-x64.exe for x64, beside this program)\n"
    "  --level N            compression level 0 (store) to 12 (default 12)\n"
    "  --codepage N         the Windows ANSI code page that names and texts\n"
    "                       are converted to from UTF-8, e.g. 1252 or 932;\n"
    "                       default: only ASCII names and texts are accepted\n"
    "  --flat               pack folders' contents at the top (see Inputs)\n"
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
    "                       (texts converted from --codepage N when given)\n"
    "  --json               with --describe: one JSON object instead\n"
    "  --version            the packer's version\n"
    "  -h, --help           this text\n"
    "\n"
    "@FILE among the options reads more options from FILE, one a line (an\n"
    "input whose name begins with @ is written ./@NAME). A text that begins\n"
    "with @ is written @@TEXT.\n"
    "\n"
    "Every rule of the stub is checked before anything is written: entry names\n"
    "of at most 250 bytes that Windows can create, 32-bit sizes, stub and\n"
    "configuration within the first 59,996 bytes of the image. A progress line\n"
    "shows on a terminal when packing takes longer than a second.\n"
    "Every refusal of names and inputs is reported, together, before anything\n"
    "is written.\n"
    "\n"
    "Exit code: 0 packed (--describe: every entry checks); 1 refused: an\n"
    "input, name, text, icon, stub or output that can't be taken (--describe:\n"
    "the image does not check); 2 the command line itself: an unknown option,\n"
    "a missing value, a value the option does not take; 3 an existing file\n"
    "could not be read, or the output not written.\n";

namespace {

const char *const kTextOptions[] = {"--start-message", "--init-message", "--about",
                                    "--description", nullptr /* fixed folder */, "--run",
                                    "--wait-file"};

struct Options {
    std::string output, stub, arch, icon, describe, dest, mtime;
    int level = 12, codepage = 0;
    bool flat = false, help = false, force = false, version = false, json = false, followLinks = false;
    int verbosity = 1;  // 0 with -q, 2 with -v
    uint32_t flags = 0;
    std::string texts[kTextSlots];
    bool haveText[kTextSlots] = {};
    std::vector<std::string> inputs;
    std::map<std::string, std::string> program;  // the program's resources, by option
};

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
// blank lines (spaces and tabs only) and a UTF-8 byte-order mark skipped.
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
            if (line.find_first_not_of(" \t") != std::string::npos)
                lines.push_back(line);
            line.clear();
        } else {
            line += (char)bytes[at];
        }
    }
    return lines;
}

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
        auto takeValue = [&]() {
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
                   arg == "--file-description" || arg == "--execution-level") {
            options.program[arg] = takeValue();
        } else if (arg == "--mtime") {
            options.mtime = takeValue();
            ParseTime(options.mtime, "--mtime");
        } else if (arg == "--describe") {
            options.describe = takeValue();
        } else if (arg == "--dest") {
            options.dest = takeValue();
        } else if (arg == "--level") {
            options.level = ParseNumber(arg, takeValue(), 0, 12);
        } else if (arg == "--codepage") {
            options.codepage = ParseNumber(arg, takeValue(), 1, 65535);
        } else {
            int slot = -1;
            for (int s = 0; s < kTextSlots; s++)
                if (kTextOptions[s] && arg == kTextOptions[s])
                    slot = s;
            if (slot < 0)
                throw PackError("unknown option " + arg + " (see --help)", Failure::Usage);
            options.texts[slot] = takeValue();
            options.haveText[slot] = true;
        }
    }
    return options;
}

// TEXT or @FILE; a file's trailing line breaks are dropped. "@@" at the
// start stands for a text that begins with "@".
std::string TextArgument(const std::string &value)
{
    if (value.empty() || value[0] != '@')
        return value;
    if (value.compare(0, 2, "@@") == 0)
        return value.substr(1);
    Bytes bytes = ReadWholeFile(value.substr(1), kSmallFileLimit);
    std::string text(bytes.begin(), bytes.end());
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

// The stub of arch (x86 when empty) beside this program.
std::string DefaultStub(const std::string &arch)
{
    std::string name = arch == "x64" ? "brevant-stub-x64.exe" : "brevant-stub.exe";
    return ProgramFolder() + name;
}

// The destination named or, without --dest, the default of the form.
std::string Destination(const Options &options)
{
    if (!options.dest.empty())
        return options.dest;
    return options.flags & SFX_EXTRACTOR_UI ? "image-dir" : "unique-temp";
}

ConfigSettings Configure(const Options &options, const TextEncoder &encoder)
{
    ConfigSettings config;
    config.flags = options.flags;
    std::string dest = Destination(options);
    std::string fixed;
    if (dest == "temp")
        config.destKind = DEST_TEMP;
    else if (dest == "image-dir")
        config.destKind = DEST_IMAGE_DIR;
    else if (dest == "unique-temp")
        config.destKind = DEST_UNIQUE_TEMP;
    else if (dest.compare(0, 6, "fixed:") == 0 && dest.size() > 6) {
        config.destKind = DEST_FIXED;
        fixed = dest.substr(6);
    } else
        throw PackError("--dest takes temp, image-dir, unique-temp or fixed:PATH, not '" + dest + "'",
                        Failure::Usage);

    for (int slot = 0; slot < kTextSlots; slot++) {
        if (slot == 4) {
            config.texts[slot] = encoder.Encode(fixed, "--dest fixed:");
            continue;
        }
        if (!options.haveText[slot])
            continue;
        std::string text = TextArgument(options.texts[slot]);
        if (text.find('\0') != std::string::npos)
            throw PackError(std::string(kTextOptions[slot]) + ": the text holds a zero byte");
        config.texts[slot] = encoder.Encode(text, kTextOptions[slot]);
    }
    if (!options.icon.empty())
        config.icon = ExtractIcon(ReadWholeFile(options.icon, kSmallFileLimit, "--icon " + options.icon), options.icon);
    return config;
}

// With --mtime, or else SOURCE_DATE_EPOCH, every entry gets that time, in
// UTC: the image is then the same wherever and whenever it is packed.
void FixTimes(const Options &options, std::vector<InputItem> &items)
{
    const char *epoch = getenv("SOURCE_DATE_EPOCH");
    time_t when;
    if (!options.mtime.empty())
        when = ParseTime(options.mtime, "--mtime");
    else if (epoch && *epoch)
        when = ParseTime(epoch, "SOURCE_DATE_EPOCH");
    else
        return;
    for (InputItem &item : items) {
        item.mtime = when;
        item.utc = true;
    }
}

void Warn(const Options &options, std::ostream &err)
{
    if ((options.flags & SFX_DELETE_AFTER) && Destination(options) != "unique-temp")
        err << "brevant-pack: warning: --delete-after acts only with --dest unique-temp\n";
    if (options.haveText[6] && !options.haveText[5])
        err << "brevant-pack: warning: --wait-file is used only after a --run command\n";
}

int Pack(const Options &options, std::ostream &out, std::ostream &err)
{
    if (options.output.empty())
        throw PackError("no output: give -o OUTPUT.exe (see --help)", Failure::Usage);
    if (options.inputs.empty())
        throw PackError("no inputs: name the files and folders to pack (see --help)", Failure::Usage);
    CheckOutput(options.output, options.inputs);
    TextEncoder encoder(options.codepage);
    ImagePlan plan;
    plan.level = options.level;
    plan.config = Configure(options, encoder);
    std::string stubPath = options.stub.empty() ? DefaultStub(options.arch) : options.stub;
    try {
        plan.stub = ReadWholeFile(stubPath, kSmallFileLimit);
    } catch (const PackError &error) {
        throw PackError(std::string(error.what()) + " (the stub; choose one with --stub)");
    }
    CheckStub(plan.stub);
    std::string machine = StubMachine(plan.stub);
    if (!options.arch.empty() && machine != options.arch)
        throw PackError(stubPath + " is a stub for " + machine + ", not for --arch " + options.arch);
    // The default architecture is x86: an image that runs only on 64-bit
    // Windows is made only when asked for by name.
    if (options.arch.empty() && machine == "x64")
        throw PackError(stubPath + " is a stub for x64, whose image runs only on 64-bit Windows; give --arch x64 to pack it");
    std::string description = options.haveText[CFG_DESCRIPTION] ? TextArgument(options.texts[CFG_DESCRIPTION]) : "";
    ProgramResources program = ProgramResourcesFrom(options.program, options.icon, description);
    Warn(options, err);

    RemoveStaleTemporaries(options.output);  // before the walk, which might find them
    std::vector<InputItem> items =
        CollectInputs(options.inputs, options.flat, encoder, options.output, options.followLinks);
    CheckReplace(options.output, options.force);
    CheckInputs(items);
    CheckPathLimits(plan.config, items, encoder);
    FixTimes(options, items);
    BuiltImage prefix = BuildProgramPrefix(plan, program, err);
    if (options.level == 0)
        CheckStoredSize(prefix.bytes.size(), items);

    OutputImage output(options.output, options.force);
    ImageWriter writer(output, prefix.bytes);
    Progress progress(items, options.verbosity > 0 && IsTerminal(2), err);
    writer.onBytes = [&](uint64_t bytes) { progress.Advance(bytes); };
    std::ostringstream warnings;
    for (const InputItem &item : items) {
        progress.Start(item);
        writer.Add(item, options.level, warnings);
        if (!warnings.str().empty()) {
            progress.Clear();
            err << warnings.str();
            warnings.str("");
        }
        if (options.verbosity > 1) {
            const ZipEntry &entry = writer.last();
            progress.Clear();
            out << "  " << (entry.method == 8 ? "deflated" : "stored  ") << " " << entry.uncompressedSize << " -> "
                << entry.compressedSize << "  " << Printable(item.utf8)
                << (entry.method == 8 ? "  (" + entry.coder + ")" : "")
                << (item.link.empty() ? "" : "  (through the link " + Printable(item.link) + ")") << "\n";
        }
    }
    writer.Finish();
    WritePeChecksum(output, prefix.bytes);
    CheckWrittenArchive(output.temporaryPath());
    output.Commit();
    progress.Clear();
    if (options.verbosity == 0)
        return 0;

    out << Printable(options.output) << ": " << output.size() << " bytes: stub " << plan.stub.size()
        << ", configuration " << prefix.configSize << " -> " << prefix.configStreamSize << ", "
        << writer.count() << (writer.count() == 1 ? " entry " : " entries ") << writer.stored()
        << " -> " << writer.packed() << "; first entry at " << prefix.firstEntryOffset << " (limit "
        << kLastSignatureOffset << ")\n";
    return 0;
}

}  // namespace

int PackMain(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    try {
        Options options = Parse(args);
        if (options.help || args.empty()) {
            (args.empty() ? err : out) << kUsage;
            return args.empty() ? (int)Failure::Usage : 0;
        }
        if (options.version) {
            if (args.size() > 1)
                throw PackError("--version takes nothing else", Failure::Usage);
            out << "brevant-pack " << BREVANT_VERSION << "\n";
            return 0;
        }
        if (!options.describe.empty()) {
            if (!options.inputs.empty() || !options.output.empty())
                throw PackError("--describe takes one image and nothing to pack", Failure::Usage);
            return DescribeImage(options.describe, out, err, options.codepage, options.json);
        }
        if (options.json)
            throw PackError("--json goes with --describe", Failure::Usage);
        return Pack(options, out, err);
    } catch (const PackError &error) {
        // Refusals come escaped, a line each; anything else is one line.
        std::string what = error.escaped ? error.what() : Printable(error.what());
        for (size_t at = 0; at <= what.size();) {
            size_t end = std::min(what.find('\n', at), what.size());
            err << "brevant-pack: " << what.substr(at, end - at) << "\n";
            at = end + 1;
        }
        return (int)error.failure;
    } catch (const std::bad_alloc &) {
        err << "brevant-pack: out of memory\n";
        return (int)Failure::Io;
    }
}

}  // namespace pack
