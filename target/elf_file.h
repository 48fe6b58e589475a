// A 32-bit little-endian ELF file as the chip image's link leaves it: its
// sections, symbols and the relocation records that --emit-relocs keeps.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace target {

struct Section {
    std::string name;
    uint32_t type = 0;
    uint32_t flags = 0;
    uint32_t address = 0;
    uint32_t file_offset = 0;
    uint32_t size = 0;
    uint32_t link = 0;
    uint32_t info = 0;
};

struct Symbol {
    std::string name;
    uint32_t value = 0;
    uint32_t size = 0;
    uint8_t type = 0; // STT_*
    uint16_t section = 0;
    uint8_t other = 0; // st_other: STO_MIPS16 marks a function in the MIPS16e instruction set
    bool mips16() const { return (other & 0xF0) == 0xF0; }
};

struct Relocation {
    uint32_t site;       // link-time address of the relocated field
    uint32_t type;       // R_MIPS_*
    uint32_t symbol;     // index into the symbol table
    uint32_t applies_to; // index of the section the field lies in
};

class ElfFile {
  public:
    // Throws std::runtime_error when the file is not a 32-bit little-endian MIPS ELF.
    explicit ElfFile(std::vector<uint8_t> bytes);
    static ElfFile load(const std::string& path);

    const std::vector<Section>& sections() const { return sections_; }
    const std::vector<Symbol>& symbols() const { return symbols_; }
    const std::vector<Relocation>& relocations() const { return relocations_; }
    const Section* section(const std::string& name) const;
    const Symbol* symbol(const std::string& name) const;

    // Words of loaded sections, addressed by link-time address.
    uint32_t word(uint32_t address) const;
    void set_word(uint32_t address, uint32_t value);
    // Halfwords, the unit of MIPS16e code.
    uint16_t halfword(uint32_t address) const;
    void set_halfword(uint32_t address, uint16_t value);
    // The section holding a link-time address, or null.
    const Section* section_at(uint32_t address) const;

    const std::vector<uint8_t>& bytes() const { return bytes_; }

  private:
    uint32_t file_offset_of(uint32_t address, uint32_t bytes) const;

    std::vector<uint8_t> bytes_;
    std::vector<Section> sections_;
    std::vector<Symbol> symbols_;
    std::vector<Relocation> relocations_;
};

} // namespace target
