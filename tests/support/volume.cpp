#include "volume.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testsupport {

namespace fs = std::filesystem;

std::vector<uint8_t> read_file(const fs::path& path) {
    std::vector<uint8_t> data(fs::file_size(path));
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
    return data;
}

std::string run(const std::string& command) {
    const std::string full = "MTOOLS_SKIP_CHECK=1 " + command + " 2>&1";
    FILE* pipe = popen(full.c_str(), "r");
    if (!pipe) {
        throw std::runtime_error("cannot run: " + command);
    }
    std::string output;
    std::array<char, 4096> chunk{};
    size_t n;
    while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0) {
        output.append(chunk.data(), n);
    }
    const int status = pclose(pipe);
    if (status != 0) {
        throw std::runtime_error("failed (" + std::to_string(status) + "): " + command + "\n" + output);
    }
    return output;
}

std::string quote(const std::string& text) {
    std::string q = "'";
    for (char c : text) {
        if (c == '\'') {
            q += "'\\''";
        } else {
            q += c;
        }
    }
    return q + "'";
}

ScratchDir::ScratchDir() {
    std::string templ = (fs::temp_directory_path() / "sdcard-XXXXXX").string();
    if (!mkdtemp(templ.data())) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = templ;
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

Volume::Volume(fs::path image, const VolumeSpec& shape) : image_(std::move(image)), spec_(shape) {
    fs::remove(image_);
    { std::ofstream(image_, std::ios::binary); }
    fs::resize_file(image_, uint64_t{shape.size_kib} * 1024);

    std::string opts = "-F " + std::to_string(shape.fat) + " -s " + std::to_string(shape.sectors_per_cluster);
    if (!shape.label.empty()) {
        opts += " -n " + quote(shape.label);
    }
    if (shape.root_entries) {
        opts += " -r " + std::to_string(shape.root_entries);
    }
    if (shape.partition_start == 0) {
        run("mkfs.fat " + opts + " " + quote(image_.string()));
        return;
    }
    const uint32_t total = shape.size_kib * 2;
    const uint32_t sectors = total - shape.partition_start;
    std::ostringstream table;
    table << "label: dos\nstart=" << shape.partition_start << ", size=" << sectors << ", type=" << std::hex
          << int(shape.partition_type) << "\n";
    run("printf %s " + quote(table.str()) + " | sfdisk -q " + quote(image_.string()));
    run("mkfs.fat " + opts + " -h " + std::to_string(shape.partition_start) + " --offset " +
        std::to_string(shape.partition_start) + " " + quote(image_.string()) + " " +
        std::to_string(sectors / 2));
}

std::string Volume::drive(const std::string& path) const {
    std::string img = image_.string();
    if (spec_.partition_start) {
        img += "@@" + std::to_string(volume_offset());
    }
    return "-i " + quote(img) + " " + quote("::" + path);
}

void Volume::mkdir(const std::string& path) const { run("mmd " + drive(path)); }

void Volume::put(const std::string& path, const std::vector<uint8_t>& data) const {
    const fs::path source = image_.parent_path() / "put.tmp";
    {
        std::ofstream out(source, std::ios::binary);
        out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    }
    run("mcopy -o " + quote(source.string()) + " " + drive(path));
    fs::remove(source);
}

void Volume::put_many(const std::string& dir,
                      const std::vector<std::pair<std::string, std::vector<uint8_t>>>& files) const {
    const fs::path staging = image_.parent_path() / "put_many.tmp";
    fs::remove_all(staging);
    fs::create_directory(staging);
    std::string sources;
    for (const auto& [name, data] : files) {
        std::ofstream out(staging / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
        sources += " " + quote((staging / name).string());
    }
    run("mcopy -o" + sources + " " + drive(dir.back() == '/' ? dir : dir + "/"));
    fs::remove_all(staging);
}

void Volume::remove(const std::string& path) const { run("mdel " + drive(path)); }

void Volume::set_attributes(const std::string& path, const std::string& change) const {
    run("mattrib " + change + " " + drive(path));
}

std::vector<uint8_t> Volume::get(const std::string& path) const {
    const fs::path target = image_.parent_path() / "get.tmp";
    fs::remove(target);
    run("mcopy -n " + drive(path) + " " + quote(target.string()));
    std::vector<uint8_t> data = read_file(target);
    fs::remove(target);
    return data;
}

std::vector<std::string> Volume::short_names(const std::string& dir) const {
    std::istringstream lines(run("mdir -a " + drive(dir)));
    std::vector<std::string> names;
    std::string line;
    bool in_listing = false;
    while (std::getline(lines, line)) {
        if (line.rfind("Directory for ", 0) == 0) {
            in_listing = true;
            continue;
        }
        // Entry lines start with the name; headers, totals and blanks do not.
        if (!in_listing || line.size() < 12 || line[0] == ' ' || line.rfind("No files", 0) == 0) {
            continue;
        }
        auto field = [&](size_t from, size_t len) {
            std::string f = line.substr(from, len);
            f.erase(f.find_last_not_of(' ') + 1);
            for (char& c : f) {
                if (c >= 'a' && c <= 'z') {
                    c = static_cast<char>(c - 0x20); // mdir shows the lower-case display flags
                }
            }
            return f;
        };
        const std::string name = field(0, 8);
        const std::string ext = field(9, 3);
        if (name == "." || name == "..") {
            continue;
        }
        names.push_back(ext.empty() ? name : name + "." + ext);
    }
    return names;
}

uint64_t Volume::free_bytes() const {
    std::istringstream lines(run("mdir " + drive("/")));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.find("bytes free") != std::string::npos) {
            uint64_t n = 0;
            for (char c : line.substr(0, line.find("bytes free"))) {
                if (c >= '0' && c <= '9') {
                    n = n * 10 + static_cast<uint64_t>(c - '0');
                }
            }
            return n;
        }
    }
    throw std::runtime_error("mdir reported no free space line");
}

std::string Volume::fsck_problems() const {
    fs::path target = image_;
    if (spec_.partition_start) {
        // fsck.fat reads the volume from the start of its file.
        target = image_.parent_path() / "fsck.tmp";
        const std::vector<uint8_t> all = bytes();
        std::ofstream out(target, std::ios::binary);
        out.write(reinterpret_cast<const char*>(all.data()) + volume_offset(),
                  static_cast<std::streamsize>(all.size() - volume_offset()));
    }
    std::string report;
    try {
        report = run("fsck.fat -n " + quote(target.string()));
    } catch (const std::runtime_error& e) {
        report = e.what();
    }
    if (target != image_) {
        fs::remove(target);
    }
    // A clean check prints its version line and one summary line.
    std::istringstream lines(report);
    std::string line, problems;
    while (std::getline(lines, line)) {
        const bool summary = line.size() > 9 && line.compare(line.size() - 9, 9, " clusters") == 0;
        if (line.rfind("fsck.fat ", 0) == 0 || summary) {
            continue;
        }
        problems += line + "\n";
    }
    return problems;
}

std::vector<uint8_t> Volume::bytes() const { return read_file(image_); }

void Volume::set_bytes(const std::vector<uint8_t>& data) const {
    std::ofstream out(image_, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

std::vector<uint8_t> pattern(size_t size, uint32_t seed) {
    std::vector<uint8_t> data(size);
    uint32_t x = seed * 2654435761u + 12345u;
    for (auto& b : data) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x >> 7);
    }
    return data;
}

} // namespace testsupport
