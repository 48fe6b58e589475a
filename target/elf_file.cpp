#include "elf_file.h"

#include <elf.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace target {
namespace {

template <typename T> T read_at(const std::vector<uint8_t>& bytes, uint64_t offset) {
    if (offset + sizeof(T) > bytes.size()) {
        throw std::runtime_error("ELF file is truncated");
    }
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

std::string string_at(const std::vector<uint8_t>& bytes, uint64_t offset) {
    std::string text;
    while (offset < bytes.size() && bytes[offset] != 0) {
        text.push_back(static_cast<char>(bytes[offset++]));
    }
    return text;
}

} // namespace

ElfFile::ElfFile(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {
    const auto header = read_at<Elf32_Ehdr>(bytes_, 0);
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS32 ||
        header.e_ident[EI_DATA] != ELFDATA2LSB || header.e_machine != EM_MIPS) {
        throw std::runtime_error("not a 32-bit little-endian MIPS ELF file");
    }
    std::vector<Elf32_Shdr> raw;
    for (uint32_t i = 0; i < header.e_shnum; ++i) {
        raw.push_back(read_at<Elf32_Shdr>(bytes_, header.e_shoff + uint64_t{i} * header.e_shentsize));
    }
    const uint32_t names = raw.at(header.e_shstrndx).sh_offset;
    for (const auto& s : raw) {
        sections_.push_back({string_at(bytes_, names + s.sh_name), s.sh_type, s.sh_flags, s.sh_addr,
                             s.sh_offset, s.sh_size, s.sh_link, s.sh_info});
    }
    for (const auto& s : sections_) {
        if (s.type == SHT_SYMTAB) {
            const uint32_t strings = sections_.at(s.link).file_offset;
            for (uint32_t at = 0; at + sizeof(Elf32_Sym) <= s.size; at += sizeof(Elf32_Sym)) {
                const auto sym = read_at<Elf32_Sym>(bytes_, s.file_offset + at);
                symbols_.push_back({string_at(bytes_, strings + sym.st_name), sym.st_value, sym.st_size,
                                    static_cast<uint8_t>(ELF32_ST_TYPE(sym.st_info)), sym.st_shndx,
                                    sym.st_other});
            }
        }
    }
    for (const auto& s : sections_) {
        if (s.type == SHT_RELA) {
            throw std::runtime_error("unexpected RELA relocations in section " + s.name);
        }
        if (s.type == SHT_REL) {
            for (uint32_t at = 0; at + sizeof(Elf32_Rel) <= s.size; at += sizeof(Elf32_Rel)) {
                const auto rel = read_at<Elf32_Rel>(bytes_, s.file_offset + at);
                relocations_.push_back(
                    {rel.r_offset, ELF32_R_TYPE(rel.r_info), ELF32_R_SYM(rel.r_info), s.info});
            }
        }
    }
}

ElfFile ElfFile::load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    return ElfFile(std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {}));
}

const Section* ElfFile::section(const std::string& name) const {
    for (const auto& s : sections_) {
        if (s.name == name) {
            return &s;
        }
    }
    return nullptr;
}

const Symbol* ElfFile::symbol(const std::string& name) const {
    for (const auto& s : symbols_) {
        if (s.name == name) {
            return &s;
        }
    }
    return nullptr;
}

const Section* ElfFile::section_at(uint32_t address) const {
    for (const auto& s : sections_) {
        if ((s.flags & SHF_ALLOC) && s.type != SHT_NOBITS && address >= s.address &&
            address - s.address < s.size) {
            return &s;
        }
    }
    return nullptr;
}

uint32_t ElfFile::file_offset_of(uint32_t address, uint32_t bytes) const {
    const Section* s = section_at(address);
    if (s == nullptr || address - s->address + bytes > s->size) {
        throw std::runtime_error("address outside the loaded sections");
    }
    return s->file_offset + (address - s->address);
}

uint32_t ElfFile::word(uint32_t address) const {
    return read_at<uint32_t>(bytes_, file_offset_of(address, 4));
}

void ElfFile::set_word(uint32_t address, uint32_t value) {
    std::memcpy(bytes_.data() + file_offset_of(address, 4), &value, 4);
}

uint16_t ElfFile::halfword(uint32_t address) const {
    return read_at<uint16_t>(bytes_, file_offset_of(address, 2));
}

void ElfFile::set_halfword(uint32_t address, uint16_t value) {
    std::memcpy(bytes_.data() + file_offset_of(address, 2), &value, 2);
}

} // namespace target
