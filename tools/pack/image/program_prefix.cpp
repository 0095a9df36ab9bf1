// The image's first part with the program's resources in its stub: an icon
// that pushes the configuration past the scan made smaller, or refused.
#include <algorithm>

#include "image/image.h"

namespace pack {

static const char kIconTooLarge[] = "pushes the configuration past offset ";

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
