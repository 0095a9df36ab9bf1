// The configuration block, and the checks of what the stub will join from
// it into its path buffers.
#include "image/image.h"

namespace pack {

const char *const kSlotOptions[CFG_ICON + 1] = {"--start-message", "--init-message", "--about", "--description",
                                               "--dest fixed:",   "--run",          "--wait-file", "--icon"};

Bytes BuildConfigBlock(const ConfigSettings &settings, size_t padding)
{
    Bytes block(CONFIG_FIXED_SIZE, 0);
    PutAt32(block, 0, settings.flags);
    PutAt32(block, 4, settings.destKind);
    uint32_t offsets[CONFIG_SLOTS];
    for (int slot = 0; slot < kTextSlots; slot++) {
        const std::string &text = settings.texts[slot];
        if (text.find('\0') != std::string::npos)
            throw PackError("a text holds a zero byte, which would end it early");
        // Equal texts (most often empty ones) share their bytes.
        int same = -1;
        for (int earlier = 0; earlier < slot && same < 0; earlier++)
            if (settings.texts[earlier] == text)
                same = earlier;
        if (same >= 0) {
            offsets[slot] = offsets[same];
            continue;
        }
        offsets[slot] = (uint32_t)block.size();
        block.insert(block.end(), text.begin(), text.end());
        block.push_back(0);
    }
    block.insert(block.end(), padding, 0);
    if (settings.icon.empty()) {
        // No icon: slot 7 points at a single zero byte, which no icon loader
        // accepts, so the icon control stays empty.
        offsets[CFG_ICON] = (uint32_t)block.size() - 1;
    } else {
        offsets[CFG_ICON] = (uint32_t)block.size();
        block.insert(block.end(), settings.icon.begin(), settings.icon.end());
    }
    for (int slot = 0; slot < CONFIG_SLOTS; slot++)
        PutAt32(block, 8 + 4 * slot, offsets[slot]);
    return block;
}

// The length of folder (TextEncoder::Units) once the stub has given it its
// trailing backslash: a backslash is added unless the last character already
// is one (in a double-byte code page a trail byte 0x5C is none; in UTF-8 no
// byte of a longer character is); an empty folder stays empty.
static size_t WithBackslash(const std::string &folder, const TextEncoder &encoder)
{
    const char *last = nullptr;
    for (size_t at = 0; at < folder.size(); at++) {
        last = &folder[at];
        if (encoder.IsLeadByte((uint8_t)folder[at]))
            at++;
    }
    return encoder.Units(folder) + (last && *last != '\\' ? 1 : 0);
}

void CheckPathLimits(const ConfigSettings &config, const std::vector<InputItem> &items,
                     const TextEncoder &encoder)
{
    const size_t most = kPathChars - 1;
    auto tooLong = [&](const std::string &what, size_t length, const char *unit) {
        return PackError(what + " " + std::to_string(length) + " " + unit + "; the stub's path buffer holds " +
                         std::to_string(most));
    };
    bool fixed = config.destKind == DEST_FIXED;
    const std::string &folder = config.texts[CFG_FIXED_DIR];
    if (fixed && encoder.Units(folder) > most)
        throw tooLong("--dest fixed: the folder is", encoder.Units(folder), encoder.UnitName());
    size_t base = fixed ? WithBackslash(folder, encoder) : 0;
    const std::string &run = config.texts[CFG_RUN_COMMAND];
    if (encoder.Units(run) > most)
        throw tooLong("--run: the command is", encoder.Units(run), encoder.UnitName());
    const std::string &wait = config.texts[CFG_WAIT_FILE];
    if (!wait.empty() && base + encoder.Units(wait) > most)
        throw tooLong(fixed ? "--wait-file: behind the fixed folder the file's path is" : "--wait-file: the name is",
                      base + encoder.Units(wait), encoder.UnitName());
    if (!fixed)
        return;
    const InputItem *longest = nullptr;
    size_t longestUnits = 0;
    for (const InputItem &item : items) {
        size_t units = encoder.Units(item.name);
        if (!longest || units > longestUnits)
            longest = &item, longestUnits = units;
    }
    if (longest && base + longestUnits > most)
        throw tooLong("--dest fixed: " + longest->utf8 + " would be extracted to a path of", base + longestUnits,
                      encoder.UnitName());
}

}  // namespace pack
