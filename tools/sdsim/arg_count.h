// How many arguments a command of the tool or a step of a script takes.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "tool_error.h"

namespace sdsim {

struct ArgCount {
    size_t min_args, max_args;
};

using ArgCounts = std::map<std::string, ArgCount>;

// The entry for `word`; a ToolError ending in `hint` when there is none.
inline const ArgCount& arg_count_of(const ArgCounts& counts, const std::string& word, const std::string& kind,
                                    const std::string& hint) {
    const auto found = counts.find(word);
    if (found == counts.end()) {
        throw ToolError("unknown " + kind + " '" + word + "'" + hint);
    }
    return found->second;
}

inline void check_arg_count(const ArgCount& count, const std::vector<std::string>& args,
                            const std::string& word, const std::string& hint) {
    if (args.size() < count.min_args || args.size() > count.max_args) {
        throw ToolError("wrong number of arguments for '" + word + "'" + hint);
    }
}

} // namespace sdsim
