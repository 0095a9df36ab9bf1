// From the options to the program's resources, and the stub with them.
#include <algorithm>

#include "base/files.h"
#include "pe/pe.h"

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

}  // namespace pack
