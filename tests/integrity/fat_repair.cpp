#include "fat_repair.h"

#include <algorithm>
#include <regex>
#include <sstream>

#include "volume.h"

namespace integrity {

namespace {

namespace fs = std::filesystem;

const std::string SPLIT = "@@ next tool @@";

// fsck.fat's report without its version and summary lines.
std::vector<std::string> findings(const std::string& report) {
    std::istringstream in(report);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        const bool summary = line.size() > 9 && line.compare(line.size() - 9, 9, " clusters") == 0;
        if (line.rfind("fsck.fat ", 0) != 0 && !summary && !line.empty()) {
            lines.push_back(line);
        }
    }
    return lines;
}

// A file's path line, a chain longer than the file's size cut back to that
// size, lost clusters given back, FAT32's free count put right.
bool keeps_every_byte(const std::vector<std::string>& lines, size_t& i) {
    static const std::regex longer(R"(  File size is (\d+) bytes, cluster chain length is > \d+ bytes\.)");
    static const std::regex cut(R"(  Truncating file to (\d+) bytes\.)");
    static const std::regex reclaimed(R"(Reclaimed \d+ unused clusters? \(\d+ bytes\)\.)");
    static const std::regex free_count(R"(Free cluster summary wrong \(\d+ vs\. really \d+\))");
    const std::string& line = lines[i];
    std::smatch size, to;
    if (std::regex_match(line, size, longer) && i + 1 < lines.size() &&
        std::regex_match(lines[i + 1], to, cut) && size[1] == to[1]) {
        ++i;
        return true;
    }
    if (line == "FATs differ but appear to be intact." && i + 1 < lines.size() &&
        lines[i + 1] == "  Using first FAT.") {
        ++i;
        return true;
    }
    if (std::regex_match(line, free_count)) {
        i += i + 1 < lines.size() && lines[i + 1] == "  Auto-correcting." ? 1 : 0;
        return true;
    }
    return (line[0] == '/' && line.find(' ') == std::string::npos) || std::regex_match(line, reclaimed) ||
           line == "Leaving filesystem unchanged.";
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    return text;
}

} // namespace

Repair check_and_repair(const fs::path& image, const fs::path& scratch) {
    const std::string img = testsupport::quote(image.string());
    const std::string out = testsupport::quote(scratch.string());
    // One shell for the four tools, their errors included: their start-up, not
    // their work, is what a sweep pays for.
    const std::string script = "fsck.fat -n " + img + "; echo '" + SPLIT + "'; fsck.fat -a " + img +
                               " >/dev/null; fsck.fat -n " + img + "; echo '" + SPLIT + "'; mcopy -s -n -i " +
                               img + " '::*' " + out + " || true";
    const std::string report = testsupport::run("sh -c " + testsupport::quote(script));
    const size_t first = report.find(SPLIT);
    const size_t second = report.find(SPLIT, first + SPLIT.size());
    Repair repair;
    const std::vector<std::string> before = findings(report.substr(0, first));
    repair.found_any = !before.empty();
    repair.fats_differed = std::find(before.begin(), before.end(), "  Using first FAT.") != before.end();
    repair.report = report.substr(0, first);
    std::vector<std::string> other;
    for (size_t i = 0; i < before.size(); ++i) {
        if (!keeps_every_byte(before, i)) {
            other.push_back(before[i]);
        }
    }
    repair.other_findings = joined(other);
    repair.after_repair =
        joined(findings(report.substr(first + SPLIT.size(), second - first - SPLIT.size())));
    static const std::regex recovered(R"(/FSCK\d{4}\.REC)");
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(scratch)) {
        if (!e.is_regular_file()) {
            continue;
        }
        const std::string path = "/" + fs::relative(e.path(), scratch).string();
        if (std::regex_match(path, recovered)) {
            ++repair.recovered_chains;
        } else {
            repair.files[path] = testsupport::read_file(e.path());
        }
    }
    fs::remove_all(scratch);
    fs::create_directory(scratch);
    return repair;
}

} // namespace integrity
