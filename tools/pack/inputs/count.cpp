// The archive's rules on what the walk found: how many entries, and how
// many bytes they add up to.
#include "inputs/inputs.h"

namespace pack {

void CheckCountAndTotal(size_t count, uint64_t total)
{
    if (count == 0)
        throw PackError("nothing to pack: the archive needs at least one entry");
    if (count > 0xFFFF)
        throw PackError(std::to_string(count) + " entries; the archive has room for 65,535");
    if (total > 0xFFFFFFFFu)
        throw PackError("the entries add up to " + std::to_string(total) +
                        " bytes; the stub counts the total in 32 bits (at most 4,294,967,295)");
}

void CheckInputs(const std::vector<InputItem> &items)
{
    uint64_t total = 0;
    for (const InputItem &item : items)
        total += item.size;
    CheckCountAndTotal(items.size(), total);
}

}  // namespace pack
