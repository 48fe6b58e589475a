#include "module_status.h"

#include <cstring>
#include <iterator>

#include "messages.h"

namespace sdsim {

namespace {

constexpr int32_t COMMAND_COUNT = 32;

// What the module prints for a result code, without its line end.
std::string result_words(int32_t result) {
    if (result == 0) {
        return "0 (ok)";
    }
    static constexpr char messages[] = SDCARD_MESSAGES SDCARD_GROWING_MESSAGES;
    const char* text = messages;
    const char* const end = messages + sizeof messages;
    for (int32_t skip = result; --skip > 0 && text < end;) {
        text += std::strlen(text) + 1;
    }
    const std::string words = result > 0 && text < end ? std::string(text, std::strlen(text) - 2) : "unknown";
    return std::to_string(result) + " (" + words + ")";
}

std::string file_words(const ModuleStatus& s) {
    if (s.pointer == -1 && s.size == -1) {
        return "no file open";
    }
    return "file open at " + std::to_string(static_cast<uint32_t>(s.pointer)) + " of " +
           std::to_string(static_cast<uint32_t>(s.size)) + " bytes";
}

std::string command_words(const ModuleStatus& s) {
    std::string text;
    for (int32_t mode = 0; mode < COMMAND_COUNT; ++mode) {
        if (s.has(mode)) {
            text += (text.empty() ? "" : ", ") + std::to_string(mode) + " " + command_name(mode);
        }
    }
    return text.empty() ? "none" : text;
}

} // namespace

std::string command_name(int32_t mode) {
    static const char* const names[] = {"set-cs",   "open",   "read",  "write",  "opendir",
                                        "readdir",  "load",   "save",  "status", "create",
                                        "set-size", "append", "delete"};
    return mode >= 0 && mode < static_cast<int32_t>(std::size(names)) ? names[mode] : std::to_string(mode);
}

std::string status_lines(const ModuleStatus& status) {
    return "open file:   " + file_words(status) + "\nlast result: " + result_words(status.result) +
           "\ncommands:    " + command_words(status) + "\n";
}

std::string status_line(const ModuleStatus& status) {
    return file_words(status) + "; last result " + result_words(status.result) + "; commands " +
           command_words(status);
}

} // namespace sdsim
