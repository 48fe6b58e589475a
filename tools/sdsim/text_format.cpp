#include "text_format.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "tool_error.h"

namespace sdsim {

int32_t parse_int32(const std::string& text, const std::string& what) {
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno == ERANGE || value < std::numeric_limits<int32_t>::min() ||
        value > std::numeric_limits<int32_t>::max()) {
        throw ToolError(what + " must be a 32-bit whole number, not '" + text + "'");
    }
    return static_cast<int32_t>(value);
}

std::optional<uint64_t> parse_unsigned(const std::string& text, int base) {
    if (text.empty() || !std::isalnum(static_cast<unsigned char>(text[0]))) {
        return std::nullopt; // strtoull would take a sign or leading blanks
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, base);
    if (*end != '\0' || errno == ERANGE) {
        return std::nullopt;
    }
    return value;
}

std::string quoted(const std::vector<uint8_t>& bytes) {
    std::string out = "\"";
    for (uint8_t b : bytes) {
        switch (b) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        default:
            if (b >= 0x20 && b < 0x7F) {
                out.push_back(static_cast<char>(b));
            } else {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02X", b);
                out += hex;
            }
        }
    }
    return out + "\"";
}

std::string one_line(const std::string& console) {
    std::string out;
    for (const std::string& line : split_lines(console)) {
        if (!out.empty()) {
            out += ", ";
        }
        out += line;
    }
    return out;
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        const size_t next = end == std::string::npos ? text.size() : end + 1;
        if (end == std::string::npos) {
            end = text.size();
        }
        if (end > start && text[end - 1] == '\r') {
            --end;
        }
        lines.push_back(text.substr(start, end - start));
        start = next;
    }
    return lines;
}

} // namespace sdsim

namespace sdsim {

std::vector<uint8_t> unescape(const std::string& text) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out.push_back(static_cast<uint8_t>(text[i]));
            continue;
        }
        if (++i == text.size()) {
            throw ToolError("text ends in a lone backslash");
        }
        switch (text[i]) {
        case '\\': out.push_back('\\'); break;
        case '"': out.push_back('"'); break;
        case 'r': out.push_back('\r'); break;
        case 'n': out.push_back('\n'); break;
        case 't': out.push_back('\t'); break;
        case '0': out.push_back(0); break;
        case 'x': {
            const std::string digits = text.substr(i + 1, 2);
            if (digits.size() != 2 || !std::isxdigit(static_cast<unsigned char>(digits[0])) ||
                !std::isxdigit(static_cast<unsigned char>(digits[1]))) {
                throw ToolError("\\x needs two hexadecimal digits");
            }
            out.push_back(static_cast<uint8_t>(std::stoi(digits, nullptr, 16)));
            i += 2;
            break;
        }
        default: throw ToolError(std::string("unknown escape \\") + text[i]);
        }
    }
    return out;
}

} // namespace sdsim
