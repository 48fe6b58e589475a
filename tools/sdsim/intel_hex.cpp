#include "intel_hex.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "text_format.h"
#include "tool_error.h"

namespace sdsim {

namespace {

enum RecordType : uint8_t {
    DATA = 0,
    END = 1,
    SEGMENT_BASE = 2,
    SEGMENT_START = 3,
    LINEAR_BASE = 4,
    LINEAR_START = 5
};

// A programmer's file spans at most the flash it programs.
constexpr uint64_t MAX_SPAN = 256 * 1024;

std::string hex_text(uint64_t value) {
    char text[20];
    std::snprintf(text, sizeof text, "0x%08llX", static_cast<unsigned long long>(value));
    return text;
}

std::vector<std::string> file_lines(const std::vector<uint8_t>& file) {
    return split_lines(std::string(file.begin(), file.end()));
}

std::vector<uint8_t> record_bytes(const std::string& line) {
    if (line.size() < 11 || line[0] != ':' || line.size() % 2 == 0) {
        throw ToolError("not a record");
    }
    std::vector<uint8_t> bytes;
    for (size_t i = 1; i < line.size(); i += 2) {
        const std::optional<uint64_t> value = parse_unsigned(line.substr(i, 2), 16);
        if (!value) {
            throw ToolError("'" + line.substr(i, 2) + "' is not a hexadecimal byte");
        }
        bytes.push_back(static_cast<uint8_t>(*value));
    }
    uint8_t sum = 0;
    for (uint8_t b : bytes) {
        sum = static_cast<uint8_t>(sum + b);
    }
    if (sum != 0) {
        throw ToolError("wrong checksum");
    }
    if (bytes.size() != bytes[0] + 5u) {
        throw ToolError("the length byte says " + std::to_string(bytes[0]) + " data bytes");
    }
    return bytes;
}

} // namespace

bool is_intel_hex(const std::vector<uint8_t>& file) {
    const std::vector<std::string> lines = file_lines(file);
    return !lines.empty() && std::all_of(lines.begin(), lines.end(), [](const std::string& line) {
        return !line.empty() && line[0] == ':';
    });
}

HexImage parse_intel_hex(const std::vector<uint8_t>& file) {
    std::map<uint64_t, uint8_t> bytes;
    uint64_t base = 0;
    bool ended = false;
    int number = 0;
    for (const std::string& line : file_lines(file)) {
        ++number;
        try {
            if (ended) {
                throw ToolError("a record after the end-of-file record");
            }
            const std::vector<uint8_t> r = record_bytes(line);
            const uint32_t offset = uint32_t{r[1]} << 8 | r[2];
            const uint8_t type = r[3];
            const auto data_word = [&] { return uint64_t{r[4]} << 8 | r[5]; };
            switch (type) {
            case DATA:
                for (size_t i = 0; i < r[0]; ++i) {
                    if (!bytes.emplace(base + offset + i, r[4 + i]).second) {
                        throw ToolError("it writes address " + hex_text(base + offset + i) +
                                        " a second time");
                    }
                }
                break;
            case END: ended = true; break;
            case SEGMENT_BASE:
            case LINEAR_BASE:
                if (r[0] != 2) {
                    throw ToolError("an address record holds two bytes");
                }
                base = type == SEGMENT_BASE ? data_word() << 4 : data_word() << 16;
                break;
            case SEGMENT_START:
            case LINEAR_START: break; // where to start running: the host calls main at the image's start
            default: throw ToolError("unknown record type " + std::to_string(type));
            }
        } catch (const ToolError& e) {
            throw ToolError("Intel HEX line " + std::to_string(number) + ": " + e.what());
        }
    }
    if (bytes.empty()) {
        throw ToolError("the Intel HEX file holds no data");
    }
    const uint64_t first = bytes.begin()->first;
    const uint64_t span = bytes.rbegin()->first - first + 1;
    if (span > MAX_SPAN || bytes.rbegin()->first > UINT32_MAX) {
        throw ToolError("the Intel HEX file spans " + std::to_string(span) + " bytes from " +
                        hex_text(first) + "; flash holds 262144");
    }
    HexImage image{static_cast<uint32_t>(first), std::vector<uint8_t>(span, 0xFF)};
    for (const auto& [address, value] : bytes) {
        image.bytes[address - first] = value;
    }
    return image;
}

} // namespace sdsim
