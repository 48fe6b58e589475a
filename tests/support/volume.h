// Card images built and inspected with the real FAT tools (mkfs.fat, mtools,
// sfdisk, fsck.fat), so that the module is proven on volumes it did not make.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// Runs a shell command with mtools' geometry check off; throws
// std::runtime_error carrying the command's output when it fails.
std::string run(const std::string& command);

// The whole content of a file on the PC.
std::vector<uint8_t> read_file(const std::filesystem::path& path);

// Quotes one argument for the shell.
std::string quote(const std::string& text);

// A fresh directory under the system's temporary directory, removed with its contents.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path file(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

struct VolumeSpec {
    int fat = 16; // 12, 16 or 32
    int sectors_per_cluster = 1;
    uint32_t size_kib = 4096;     // the whole card image
    uint32_t partition_start = 0; // sector of the first partition; 0: volume at sector 0
    uint8_t partition_type = 0x06;
    std::string label;         // empty: no volume label
    uint32_t root_entries = 0; // FAT12/16 root directory size; 0: the tool's default
};

// One card image holding one FAT volume.
class Volume {
  public:
    // Formats a new image at `image`.
    Volume(std::filesystem::path image, const VolumeSpec& shape);

    const std::filesystem::path& image() const { return image_; }
    const VolumeSpec& shape() const { return spec_; }
    uint64_t volume_offset() const { return uint64_t{spec_.partition_start} * 512; }

    // Paths are DOS paths from the root, e.g. "/DIR/FILE.TXT"; long names make long-name entries.
    void mkdir(const std::string& path) const;
    void put(const std::string& path, const std::vector<uint8_t>& data) const;
    // Many files into one directory with a single mcopy, in the order given.
    void put_many(const std::string& dir,
                  const std::vector<std::pair<std::string, std::vector<uint8_t>>>& files) const;
    void remove(const std::string& path) const;
    // mattrib's attribute changes, e.g. "+r".
    void set_attributes(const std::string& path, const std::string& change) const;
    std::vector<uint8_t> get(const std::string& path) const;

    // Short names of a directory as mtools reports them, upper case, without "." and "..".
    std::vector<std::string> short_names(const std::string& dir) const;

    // Free space as mdir reports it.
    uint64_t free_bytes() const;

    // fsck.fat -n on the volume; empty when it is clean, else the tool's report.
    std::string fsck_problems() const;

    // The whole image, and replacing it (e.g. with what a virtual card holds).
    std::vector<uint8_t> bytes() const;
    void set_bytes(const std::vector<uint8_t>& bytes) const;

  private:
    std::string drive(const std::string& path) const; // mtools "-i image@@offset ::path"

    std::filesystem::path image_;
    VolumeSpec spec_;
};

// Deterministic bytes for file contents: different seeds give different data.
std::vector<uint8_t> pattern(size_t size, uint32_t seed);

} // namespace testsupport
