// From the options to the program's resources, and the image's first part
// with them in its stub.
#include <algorithm>

#include "resources.h"

namespace pack {

static const char kIconTooLarge[] = "pushes the configuration past offset ";

bool ProgramResources::any() const
{
    return !icon.empty() || version || !executionLevel.empty();
}

std::string IconSize(const IconInfo &info)
{
    return std::to_string(info.width) + "x" + std::to_string(info.height) + (info.png ? " PNG" : "");
}

ProgramResources ProgramResourcesFrom(const std::map<std::string, std::string> &given, const std::string &icon,
                                      const std::string &description)
{
    auto value = [&](const char *option) {
        auto found = given.find(option);
        return found == given.end() ? std::string() : found->second;
    };
    ProgramResources program;
    program.iconName = given.count("--exe-icon") ? value("--exe-icon") : icon;
    program.iconImplied = !given.count("--exe-icon");
    if (!program.iconName.empty()) {
        program.icon = ReadWholeFile(program.iconName);
        ExtractIcon(program.icon, program.iconName);  // an empty or damaged file is refused, never "no icon"
    }
    if (given.count("--exe-icon-max")) {
        program.iconMost = atoi(value("--exe-icon-max").c_str());
        if (program.icon.empty())
            throw PackError("--exe-icon-max goes with --exe-icon or --icon", Failure::Usage);
        program.icon = RebuildIcon(program.icon, program.iconMost, false);
        if (Get16(program.icon, 4) == 0)
            throw PackError(program.iconName + ": no image of " + std::to_string(program.iconMost) + " pixels or less");
    }
    bool fileVersion = given.count("--file-version"), productVersion = given.count("--product-version");
    program.fileVersionText = value("--file-version");
    program.productVersionText = productVersion ? value("--product-version") : program.fileVersionText;
    if (fileVersion)
        ParseVersion(program.fileVersionText, "--file-version", program.fileVersion);
    if (productVersion || fileVersion)
        ParseVersion(program.productVersionText, productVersion ? "--product-version" : "--file-version",
                     program.productVersion);
    program.product = value("--product");
    program.company = value("--company");
    program.copyright = value("--copyright");
    program.fileDescription = value("--file-description");
    for (const char *option : {"--file-version", "--product-version", "--product", "--company", "--copyright",
                               "--file-description"})
        program.version |= given.count(option) > 0;
    if (program.fileDescription.empty())
        program.fileDescription = !program.product.empty() ? program.product : description;
    resource::DialogTextsFrom(given, program);
    program.executionLevel = value("--execution-level");
    if (given.count("--execution-level") && program.executionLevel != "asInvoker" &&
        program.executionLevel != "highestAvailable" && program.executionLevel != "requireAdministrator")
        throw PackError("--execution-level takes asInvoker, highestAvailable or requireAdministrator, not '" +
                            program.executionLevel + "'",
                        Failure::Usage);
    return program;
}

Bytes WithProgramResources(const Bytes &stub, const ProgramResources &program, std::ostream &err)
{
    // Every image's dialogs are written, its link hidden without --link;
    // a stand-in without resources has none.
    PeLayout pe;
    bool resources = ReadPeLayout(stub, &pe) && PeDirectory(stub, pe, IMAGE_DIRECTORY_ENTRY_RESOURCE);
    if (!resources && !program.any() && !program.dialogAsked)
        return stub;
    if (!resources && program.iconImplied && !program.version && program.executionLevel.empty() &&
        !program.dialogAsked) {
        err << "brevant-pack: warning: the stub has no resource section: --icon shows in the dialog only\n";
        return stub;
    }
    return RewriteResources(stub, program);
}

// The sizes of an icon's images, each with its bytes.
static std::string IconImageSizes(const Bytes &ico)
{
    std::string sizes;
    size_t count = Get16(ico, 4);
    for (size_t i = 0; i < count; i++) {
        uint32_t length = Get32(ico, 6 + 16 * i + 8), offset = Get32(ico, 6 + 16 * i + 12);
        IconInfo info;
        ReadIconImage(ico.data() + offset, length, &info);
        sizes += (i ? ", " : "") + IconSize(info) + " " + std::to_string(length) + " bytes";
    }
    return sizes;
}

static BuiltImage BuildWithIcon(ImagePlan &plan, const ProgramResources &program, std::ostream &err);

// An icon that does not fit is made smaller without loss; one that still
// does not fit is refused with its images and the largest size up to which
// they fit together.
BuiltImage BuildProgramPrefix(ImagePlan &plan, const ProgramResources &program, std::ostream &err)
{
    Bytes stub = plan.stub;
    try {
        return BuildWithIcon(plan, program, err);
    } catch (const PackError &error) {
        if (program.icon.empty() || std::string(error.what()).find(kIconTooLarge) == std::string::npos)
            throw;
        ProgramResources smaller = program;
        smaller.icon = RebuildIcon(program.icon, 0, true);
        plan.stub = stub;
        auto fits = [&](const Bytes &icon) {
            ImagePlan trial = plan;
            ProgramResources less = program;
            less.icon = icon;
            try {
                trial.stub = WithProgramResources(stub, less, err);
                BuildPrefix(trial);
                return true;
            } catch (const PackError &) {
                return false;
            }
        };
        if (fits(smaller.icon)) {
            err << "brevant-pack: note: " << program.iconName << ": the program's icon made smaller to fit, "
                << program.icon.size() << " -> " << smaller.icon.size()
                << " bytes (PNG images deflated anew, bitmaps of 48 pixels and more as PNG)\n";
            plan.stub = WithProgramResources(stub, smaller, err);
            return BuildPrefix(plan);
        }
        std::vector<int> sizes;
        for (size_t i = 0; i < Get16(smaller.icon, 4); i++)
            sizes.push_back(smaller.icon[6 + 16 * i] ? smaller.icon[6 + 16 * i] : 256);
        std::sort(sizes.rbegin(), sizes.rend());
        std::string together = "; no image fits by itself";
        for (int most : sizes) {
            Bytes some = RebuildIcon(smaller.icon, most, false);
            if (most < sizes[0] && fits(some)) {
                together = "; the images up to " + std::to_string(most) + "x" + std::to_string(most) + " (" +
                           IconImageSizes(some) + ") fit together: give --exe-icon-max " + std::to_string(most);
                break;
            }
        }
        throw PackError(program.iconName + ": the program's icon, made as small as it goes without loss (" +
                        IconImageSizes(smaller.icon) + "), pushes the configuration past offset " +
                        std::to_string(kLastSignatureOffset) + together);
    }
}

static BuiltImage BuildWithIcon(ImagePlan &plan, const ProgramResources &program, std::ostream &err)
{
    Bytes stub = plan.stub;
    plan.stub = WithProgramResources(stub, program, err);
    try {
        return BuildPrefix(plan);
    } catch (const PackError &) {
        // Either signature after the headers, as CheckStub looks for them.
        const uint8_t *bytes = plan.stub.data();
        uint32_t size = (uint32_t)plan.stub.size(), start = HeadersEnd(plan.stub);
        bool signature = FindSignatureIn(bytes, size, start, CONFIG_SIG_LOW, CONFIG_SIG_HIGH) >= 0 ||
                         FindSignatureIn(bytes, size, start, LOCAL_SIG_LOW, LOCAL_SIG_HIGH) >= 0;
        if (plan.stub == stub || signature)
            throw;
        // Without a resource the same error: that resource is not to blame.
        auto fitsWithout = [&](const ProgramResources &less) {
            ImagePlan without = plan;
            without.stub = WithProgramResources(stub, less, err);
            try {
                BuildPrefix(without);
                return true;
            } catch (const PackError &) {
                return false;
            }
        };
        ProgramResources noVersion = program;
        noVersion.version = false;
        if (program.version && fitsWithout(noVersion))
            throw PackError(resource::LongestVersionText(program) +
                            ": the version resource's texts push the configuration past offset " +
                            std::to_string(kLastSignatureOffset) + "; shorten them");
        ProgramResources noIcon = program;
        noIcon.icon.clear();
        if (program.icon.empty() || !fitsWithout(noIcon))
            throw;
        throw PackError(program.iconName + ": the program's icon (" + IconImageSizes(program.icon) + ") " +
                        kIconTooLarge + std::to_string(kLastSignatureOffset) +
                        "; give the program an icon of fewer or smaller images with --exe-icon");
    }
}

}  // namespace pack
