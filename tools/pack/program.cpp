// From the options to the program's resources, and the image's first part
// with them in its stub.
#include <algorithm>

#include "resources.h"

namespace pack {

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

BuiltImage BuildProgramPrefix(ImagePlan &plan, const ProgramResources &program, std::ostream &err)
{
    Bytes stub = plan.stub;
    plan.stub = WithProgramResources(stub, program, err);
    try {
        return BuildPrefix(plan);
    } catch (const PackError &) {
        bool signature = false;
        for (const char *s : {"JAVA", "PK\3\4"})
            signature |= std::search(plan.stub.begin() + HeadersEnd(plan.stub), plan.stub.end(), s, s + 4) !=
                         plan.stub.end();
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
        std::string sizes;
        size_t count = Get16(program.icon, 4);
        for (size_t i = 0; i < count; i++) {
            uint32_t length = Get32(program.icon, 6 + 16 * i + 8), offset = Get32(program.icon, 6 + 16 * i + 12);
            IconInfo info;
            ReadIconImage(program.icon.data() + offset, length, &info);
            sizes += (i ? ", " : "") + IconSize(info) + " " + std::to_string(length) + " bytes";
        }
        throw PackError(program.iconName + ": the program's icon (" + sizes +
                        ") pushes the configuration past offset " + std::to_string(kLastSignatureOffset) +
                        "; give the program an icon of fewer or smaller images with --exe-icon");
    }
}

}  // namespace pack
