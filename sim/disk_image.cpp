#include "disk_image.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace sim {

DiskImage DiskImage::blank(uint32_t sectors) {
    return from_bytes(std::vector<uint8_t>(static_cast<size_t>(sectors) * SECTOR_SIZE, 0));
}

DiskImage DiskImage::from_bytes(std::vector<uint8_t> bytes) {
    DiskImage image;
    image.sectors_ = static_cast<uint32_t>(bytes.size() / SECTOR_SIZE);
    image.memory_ = std::move(bytes);
    return image;
}

DiskImage DiskImage::open_file(const std::string& path, Access access) {
    DiskImage image;
    // Close-on-exec: no program the bench starts may inherit the image.
    image.fd_ = ::open(path.c_str(), (access == Access::ReadOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC);
    if (image.fd_ < 0) {
        throw std::runtime_error("cannot open '" + path + "': " + std::strerror(errno));
    }
    struct stat info {};
    if (::fstat(image.fd_, &info) != 0) {
        throw std::runtime_error("cannot size '" + path + "': " + std::strerror(errno));
    }
    uint64_t size = static_cast<uint64_t>(info.st_size);
    if (S_ISBLK(info.st_mode)) {
        // A card in a reader: its size is the device's, and a device holds whole sectors or is no card.
        const off_t end = ::lseek(image.fd_, 0, SEEK_END);
        if (end < 0) {
            throw std::runtime_error("cannot size '" + path + "': " + std::strerror(errno));
        }
        size = static_cast<uint64_t>(end);
        if (size % SECTOR_SIZE != 0) {
            throw std::runtime_error("'" + path + "' is a device of " + std::to_string(size) +
                                     " bytes, not a whole number of 512-byte sectors: not a card");
        }
        // Root may open a write-protected device for writing; its writes fail only later.
        int read_only = 0;
        if (access == Access::ReadWrite && ::ioctl(image.fd_, BLKROGET, &read_only) == 0 && read_only) {
            throw std::runtime_error("cannot open '" + path + "' for writing: the device is read-only");
        }
    } else if (!S_ISREG(info.st_mode)) {
        throw std::runtime_error("cannot open '" + path +
                                 "': neither an image file nor a block device (a card in a reader)");
    }
    image.sectors_ = static_cast<uint32_t>(size / SECTOR_SIZE);
    return image;
}

DiskImage::DiskImage(DiskImage&& other) noexcept
    : memory_(std::move(other.memory_)), fd_(std::exchange(other.fd_, -1)),
      sectors_(std::exchange(other.sectors_, 0)), write_log_(std::move(other.write_log_)),
      on_write_(std::move(other.on_write_)) {}

DiskImage& DiskImage::operator=(DiskImage&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        memory_ = std::move(other.memory_);
        fd_ = std::exchange(other.fd_, -1);
        sectors_ = std::exchange(other.sectors_, 0);
        write_log_ = std::move(other.write_log_);
        on_write_ = std::move(other.on_write_);
    }
    return *this;
}

DiskImage::~DiskImage() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void DiskImage::check_sector(uint32_t sector) const {
    if (sector >= sectors_) {
        throw std::out_of_range("sector " + std::to_string(sector) + " is beyond the image");
    }
}

std::vector<uint8_t> DiskImage::read_sector(uint32_t sector) const {
    check_sector(sector);
    const uint64_t at = static_cast<uint64_t>(sector) * SECTOR_SIZE;
    if (fd_ < 0) {
        return {memory_.begin() + static_cast<ptrdiff_t>(at),
                memory_.begin() + static_cast<ptrdiff_t>(at + SECTOR_SIZE)};
    }
    std::vector<uint8_t> data(SECTOR_SIZE);
    if (::pread(fd_, data.data(), SECTOR_SIZE, static_cast<off_t>(at)) != SECTOR_SIZE) {
        throw std::runtime_error("cannot read sector " + std::to_string(sector) + " of the image");
    }
    return data;
}

void DiskImage::write_sector(uint32_t sector, const std::vector<uint8_t>& data) {
    check_sector(sector);
    if (data.size() != SECTOR_SIZE) {
        throw std::invalid_argument("a sector holds 512 bytes");
    }
    const uint64_t at = static_cast<uint64_t>(sector) * SECTOR_SIZE;
    if (fd_ < 0) {
        std::copy(data.begin(), data.end(), memory_.begin() + static_cast<ptrdiff_t>(at));
    } else if (::pwrite(fd_, data.data(), SECTOR_SIZE, static_cast<off_t>(at)) != SECTOR_SIZE) {
        throw std::runtime_error("cannot write sector " + std::to_string(sector) +
                                 " of the image: " + std::strerror(errno));
    }
    write_log_.push_back(sector);
    if (on_write_) {
        on_write_(sector, data);
    }
}

} // namespace sim
