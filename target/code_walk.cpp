#include "code_walk.h"

#include <elf.h>

namespace target {

FunctionCode walk_function(const ElfFile& elf, const Symbol& function, const std::vector<DataRange>& pools) {
    return function.mips16() ? walk_mips16(elf, function, pools) : walk_mips32(elf, function);
}

std::vector<uint32_t> absolute_jumps(const ElfFile& elf) {
    const std::vector<DataRange> pools = literal_pools(elf);
    std::vector<uint32_t> sites;
    for (const Symbol& s : elf.symbols()) {
        const Section* section = s.section < elf.sections().size() ? &elf.sections()[s.section] : nullptr;
        if (s.type != STT_FUNC || s.size == 0 || section == nullptr || !(section->flags & SHF_EXECINSTR)) {
            continue;
        }
        for (const FlowStep& step : walk_function(elf, s, pools).steps) {
            if (step.flow == Flow::AbsoluteJump) {
                sites.push_back(step.at);
            }
        }
    }
    return sites;
}

} // namespace target
