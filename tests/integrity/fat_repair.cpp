#include "fat_repair.h"

#include <algorithm>
#include <fstream>
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
    // The copy of the FAT that -F named.
    const bool copy_named = line == "Using first FAT." || line == "Using second FAT.";
    return (line[0] == '/' && line.find(' ') == std::string::npos) || std::regex_match(line, reclaimed) ||
           copy_named || line == "Leaving filesystem unchanged.";
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    return text;
}

} // namespace

Repair check_and_repair(const fs::path& image, const fs::path& scratch, int fat_copy) {
    const std::string fsck = fat_copy == 0 ? "fsck.fat " : "fsck.fat -F " + std::to_string(fat_copy) + " ";
    const std::string img = testsupport::quote(image.string());
    const std::string work = testsupport::quote((scratch / "repaired.img").string());
    const std::string out = testsupport::quote((scratch / "files").string());
    // One shell for the tools, their errors included: their start-up, not
    // their work, is what a sweep pays for.
    const std::string script = fsck + "-n " + img + "; echo '" + SPLIT + "'; cp --sparse=always " + img +
                               " " + work + "; " + fsck + "-a " + work + " >/dev/null; fsck.fat -n " + work +
                               "; echo '" + SPLIT + "'; mkdir " + out + "; mcopy -s -n -i " + work +
                               " '::*' " + out + " || true";
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
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(scratch / "files")) {
        if (!e.is_regular_file()) {
            continue;
        }
        const std::string path = "/" + fs::relative(e.path(), scratch / "files").string();
        if (std::regex_match(path, recovered)) {
            ++repair.recovered_chains;
        } else {
            repair.files[path] = testsupport::read_file(e.path());
        }
    }
    fs::remove_all(scratch / "files");
    fs::remove(scratch / "repaired.img");
    return repair;
}

void write_sparse(const fs::path& path, const std::vector<uint8_t>& bytes) {
    constexpr size_t SECTOR = 512;
    fs::remove(path);
    std::ofstream(path, std::ios::binary).close();
    fs::resize_file(path, bytes.size());
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    for (size_t at = 0; at + SECTOR <= bytes.size(); at += SECTOR) {
        const auto from = bytes.begin() + static_cast<std::ptrdiff_t>(at);
        if (std::any_of(from, from + SECTOR, [](uint8_t b) { return b != 0; })) {
            file.seekp(static_cast<std::streamoff>(at));
            file.write(reinterpret_cast<const char*>(bytes.data() + at), SECTOR);
        }
    }
}

void put_sectors(const fs::path& path, uint32_t sector, const std::vector<uint8_t>& data) {
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(static_cast<std::streamoff>(sector) * 512);
    file.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

} // namespace integrity
