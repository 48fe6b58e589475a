#include "integrity_rig.h"

#include <algorithm>

#include "cpu.h"
#include "sdtypes.h"

namespace integrity {

testsupport::VolumeSpec volume_shape(int fat) {
    testsupport::VolumeSpec shape;
    shape.fat = fat;
    shape.sectors_per_cluster = 2;
    shape.size_kib = fat == 32 ? 69632 : 8192; // enough clusters for the type mkfs.fat is asked for
    return shape;
}

Rig::Rig(std::vector<uint8_t> image_bytes) : image(sim::DiskImage::from_bytes(std::move(image_bytes))) {
    board.set_chip_select_option(testsupport::CARD_CS_PIN);
}

void Rig::power_up(sim::SdCardConfig config) {
    card = std::make_unique<sim::SdCard>(image, config);
    board.attach(card.get(), testsupport::CARD_CS_PIN);
}

void Rig::remove_card() {
    board.attach(nullptr, testsupport::CARD_CS_PIN);
    card.reset();
}

sim::Returned Rig::call(int32_t mode, std::vector<uint8_t> p1, int32_t p2, int32_t p3) {
    board.clear_logs();
    if (card) {
        card->clear_logs();
    }
    return sim::invoke(board, cpu_, {mode, std::move(p1), p2, p3, 0});
}

sim::Returned Rig::open(const std::string& name) { return call(MODE_OPEN, sim::counted(name)); }

sim::Returned Rig::write(int32_t pos, const std::vector<uint8_t>& data) {
    return call(MODE_WRITE, sim::data_arg(data), pos, static_cast<int32_t>(data.size()));
}

std::vector<uint8_t> Rig::read_raw(int32_t pos, int32_t count) {
    const sim::Returned r = call(MODE_READ, {0}, pos, count);
    return {r.p1.begin(), r.p1.begin() + std::max(r.p4, 0)};
}

void Rig::restore(const std::vector<uint8_t>& original) {
    std::vector<uint32_t> written = image.write_log();
    std::sort(written.begin(), written.end());
    written.erase(std::unique(written.begin(), written.end()), written.end());
    for (uint32_t s : written) {
        image.write_sector(s, sector_of(original, s));
    }
    image.clear_write_log();
}

std::vector<uint8_t> sector_of(const std::vector<uint8_t>& image, uint32_t sector) {
    const auto from = image.begin() + static_cast<std::ptrdiff_t>(sector) * sim::SECTOR_SIZE;
    return {from, from + sim::SECTOR_SIZE};
}

std::vector<std::string> program_lines(int count) {
    std::vector<std::string> lines;
    for (int i = 0; i < count; ++i) {
        lines.push_back(std::to_string(10 * (i + 1)) + " PRINT \"line " + std::to_string(i) +
                        " of the program saved across a sector\"");
    }
    return lines;
}

} // namespace integrity
