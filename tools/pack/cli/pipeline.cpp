// The brevant-pack command line: the pack it asks for, from the inputs to
// the image, and --describe.
#include <errno.h>
#include <limits.h>
#include <string.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "base/escape.h"
#include "base/files.h"
#include "base/files.h"
#include "cli/cli.h"
#include "image/image.h"
#include "os/os.h"
#include "pe/pe.h"

namespace pack {

namespace {

// The stub of arch (x86 when empty) beside this program, else where an
// installed packer keeps it. Never a name relative to the current folder,
// which may be a downloads folder holding anyone's brevant-stub.exe.
std::string DefaultStub(const std::string &arch)
{
    std::string name = arch == "x64" ? "brevant-stub-x64.exe" : "brevant-stub.exe";
    std::string beside = ProgramFolder(), installed = InstalledStubFolder();
    if (beside.empty())
        throw PackError("can't tell which folder this program is in, to take " + name +
                        " from it (the stub; choose one with --stub)");
    FileStatus status;
    if (installed.empty() || StatusOf(beside + name, &status, true) == 0)
        return beside + name;
    if (StatusOf(installed + name, &status, true) == 0)
        return installed + name;
    throw PackError("no " + name + " beside this program (in " + beside + ") nor in " + installed +
                    " (the stub; choose one with --stub)");
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
    config.flags = options.flags | (encoder.utf8() ? SFX_UTF8_TEXTS : 0);
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
        if (slot == CFG_FIXED_DIR) {
            config.texts[slot] = encoder.Encode(fixed, kSlotOptions[slot]);
            continue;
        }
        if (!options.haveText[slot])
            continue;
        std::string text = TextArgument(options.texts[slot]);
        if (text.find('\0') != std::string::npos)
            throw PackError(std::string(kSlotOptions[slot]) + ": the text holds a zero byte");
        config.texts[slot] = encoder.Encode(text, kSlotOptions[slot]);
    }
    if (!options.icon.empty())
        config.icon = ExtractIcon(ReadWholeFile(options.icon, kSmallFileLimit, "--icon " + options.icon), options.icon);
    return config;
}

// With --mtime, or else SOURCE_DATE_EPOCH, every entry gets that time, in
// UTC: the image is then the same wherever and whenever it is packed.
void FixTimes(const Options &options, std::vector<InputItem> &items, std::ostream &err)
{
    std::string epoch;
    time_t when;
    bool early = false;
    if (!options.mtime.empty())
        when = ParseTime(options.mtime, "--mtime", &early);
    else if (EnvironmentVariable("SOURCE_DATE_EPOCH", &epoch) && !epoch.empty())
        when = ParseTime(epoch, "SOURCE_DATE_EPOCH", &early);
    else
        return;
    if (early)
        err << "brevant-pack: note: "
            << (options.mtime.empty() ? "SOURCE_DATE_EPOCH " + epoch : "--mtime " + options.mtime)
            << " is before 1980; every entry gets 1980-01-01 00:00, the earliest time a ZIP entry holds\n";
    for (InputItem &item : items) {
        item.mtime = when;
        item.utc = true;
    }
}

void Warn(const Options &options, std::ostream &err)
{
    if ((options.flags & SFX_DELETE_AFTER) && Destination(options) != "unique-temp")
        err << "brevant-pack: warning: --delete-after acts only with --dest unique-temp\n";
    if (options.haveText[CFG_WAIT_FILE] && !options.haveText[CFG_RUN_COMMAND])
        err << "brevant-pack: warning: --wait-file is used only after a --run command\n";
    // Where an elevated image puts its files, programs of the user that run
    // without elevation must not reach them.
    auto level = options.program.find("--execution-level");
    if (level == options.program.end() || level->second == "asInvoker")
        return;
    std::string dest = Destination(options);
    if (dest == "temp")
        err << "brevant-pack: warning: --dest temp extracts this elevated image into the user's "
               "shared temporary folder, where any program of the user can replace a file before "
               "it is used elevated; --dest unique-temp makes a protected folder\n";
    if (dest == "image-dir" && options.haveText[CFG_RUN_COMMAND])
        err << "brevant-pack: warning: --dest image-dir runs the --run program elevated from the "
               "image's folder, where others may have left programs and DLLs (a downloads folder); "
               "--dest unique-temp makes a protected folder\n";
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
    std::string comment = PackerComment(plan.stub);
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
    if (plan.config.destKind == DEST_FIXED)
        CheckFixedFolder(Destination(options).substr(6), err);

    std::vector<std::string> leftOut;
    std::vector<InputItem> items = CollectInputs(options.inputs, options.flat, encoder, options.output,
                                                 options.followLinks, options.excludes, &leftOut);
    if (options.verbosity > 1)
        for (const std::string &name : leftOut)
            out << "  left out " << Printable(name) << "\n";
    if (options.haveText[CFG_RUN_COMMAND])
        CheckRunProgram(TextArgument(options.texts[CFG_RUN_COMMAND]), items, err);
    CheckReplace(options.output, options.force);
    CheckInputs(items);
    CheckPathLimits(plan.config, items, encoder);
    FixTimes(options, items, err);
    BuiltImage prefix = BuildProgramPrefix(plan, program, err);
    if (options.level == 0)
        CheckStoredSize(prefix.bytes.size(), items);

    OutputImage output(options.output, options.force);
    ImageWriter writer(output, prefix.bytes);
    Progress progress(items, options.verbosity > 0 && IsTerminal(2), err);
    writer.onBytes = [&](uint64_t bytes) { progress.Advance(bytes); };
    EntryPool pool(items, options.level, options.jobs ? options.jobs : AvailableProcessors());
    pool.onBytes = writer.onBytes;
    writer.comment = comment;
    std::ostringstream warnings;
    for (size_t i = 0; i < items.size(); i++) {
        const InputItem &item = items[i];
        progress.Start(item);
        writer.Add(item, pool.Take(i), options.level, warnings);
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
    RemoveStaleTemporaries(options.output);  // only once the new image is in place
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
    bool packing = false;  // a refusal of the pack itself ends with the count
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
        packing = true;
        return Pack(options, out, err);
    } catch (const PackError &error) {
        // Refusals come escaped, a line each; anything else is one line.
        std::string what = error.escaped ? error.what() : Printable(error.what());
        for (size_t at = 0; at <= what.size();) {
            size_t end = std::min(what.find('\n', at), what.size());
            err << "brevant-pack: " << what.substr(at, end - at) << "\n";
            at = end + 1;
        }
        if (packing && !error.escaped && error.failure != Failure::Usage)
            err << "brevant-pack: " << RefusalCount(1) << "\n";
        return (int)error.failure;
    } catch (const std::bad_alloc &) {
        err << "brevant-pack: out of memory\n";
        return (int)Failure::Io;
    }
}

}  // namespace pack
