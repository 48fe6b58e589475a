// The storage behind a virtual card: 512-byte sectors held in memory or in a
// file on the PC, read and written in place. Every stored sector is logged.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sim {

constexpr uint32_t SECTOR_SIZE = 512;

class DiskImage {
  public:
    // A blank image of `sectors` zeroed sectors, in memory.
    static DiskImage blank(uint32_t sectors);
    // An image in memory holding these bytes; a partial last sector is not usable.
    static DiskImage from_bytes(std::vector<uint8_t> bytes);
    // An image file or a block device (a card in a reader), read and written
    // in place (or only read: then a write throws); throws std::runtime_error
    // naming the path and the reason when it can't be opened or is no card.
    enum class Access { ReadWrite, ReadOnly };
    static DiskImage open_file(const std::string& path, Access access = Access::ReadWrite);

    DiskImage(DiskImage&& other) noexcept;
    DiskImage& operator=(DiskImage&& other) noexcept;
    DiskImage(const DiskImage&) = delete;
    DiskImage& operator=(const DiskImage&) = delete;
    ~DiskImage();

    uint32_t sector_count() const { return sectors_; }
    std::vector<uint8_t> read_sector(uint32_t sector) const;
    void write_sector(uint32_t sector, const std::vector<uint8_t>& data);
    // Sector numbers in the order they were written through write_sector.
    const std::vector<uint32_t>& write_log() const { return write_log_; }
    void clear_write_log() { write_log_.clear(); }
    // Called with every sector stored, as it is stored: what a sector held
    // between two writes of one command, which the image alone forgets.
    using WriteHook = std::function<void(uint32_t sector, const std::vector<uint8_t>& data)>;
    void on_write(WriteHook hook) { on_write_ = std::move(hook); }

  private:
    DiskImage() = default;
    void check_sector(uint32_t sector) const;

    std::vector<uint8_t> memory_;
    int fd_ = -1;
    uint32_t sectors_ = 0;
    std::vector<uint32_t> write_log_;
    WriteHook on_write_;
};

} // namespace sim
