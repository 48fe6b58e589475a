// Writes the seed corpora: sessions a program would run on the seed card
// (open, read, write at and across sector edges, list, load, save, status,
// create, set size, append, delete), encoded for call_script.h. The corrupting
// target also gets each session on a boot record that gives its total sectors
// in the 32-bit field (the 16-bit one 0), so that mutations reach both. Run
// once; the files are kept in the repository.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "seed_volume.h"

namespace {

using Script = std::vector<uint8_t>;

// Indices into the decoder's edge tables and known names.
enum Pos : uint8_t {
    P0 = 0,
    P5 = 2,
    P511 = 4,
    P512 = 5,
    P1000 = 7,
    P1536 = 8,
    PHUGE = 9,
    PMAX = 10,
    PMIN = 11,
    PAPPEND = 12
};
enum Cnt : uint8_t {
    C10 = 2,
    C100 = 3,
    C255 = 4,
    C256 = 5,
    C512 = 8,
    C700 = 10,
    C4096 = 12,
    CMIN = 13,
    CNEG = 14
};
enum Name : uint8_t {
    FILE_TXT = 0,
    INNER = 1,
    PROG = 2,
    DIR = 3,
    ROOT = 4,
    NOPE = 6,
    DELETED = 8,
    KANJI = 9
};

Script open(Name n) { return {1, n}; }
Script read(Pos p, Cnt c) { return {2, p, c}; }
Script write(Pos p, Cnt c, uint8_t fill) { return {3, p, c, fill}; }
Script status() { return {8, 0, 0, 0, 0}; }
Script create(Name n) { return {9, n}; }
Script set_size(Pos p) { return {10, p}; }
Script append(Cnt c, uint8_t fill) { return {11, c, fill}; }
Script remove(Name n) { return {12, n}; }
Script list(Name n, int entries) {
    Script s{4, n};
    s.insert(s.end(), static_cast<size_t>(entries), 5);
    return s;
}

Script join(std::initializer_list<Script> parts) {
    Script all{3}; // card type: SD version 2, block addressed
    for (const Script& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

// The bytes that follow an op other than a name's: read (position, count),
// write (position, count, fill), status (four bytes of p1), set size (size),
// append (count, fill).
long argument_bytes(uint8_t op) {
    switch (op) {
    case 2: return 2;
    case 3: return 3;
    case 8: return 4;
    case 10: return 1;
    case 11: return 2;
    default: return 0;
    }
}

// The same session with a free-form name where the known-name target has a pick.
Script any_names(const Script& s) {
    static const char* names[] = {"FILE.TXT", "DIR/INNER.TXT", "PROG.BAS", "DIR", "/"};
    Script out{s[0]};
    for (size_t i = 1; i < s.size(); i++) {
        const uint8_t op = s[i];
        out.push_back(op);
        if (op == 1 || op == 4 || op == 6 || op == 7 || op == 9 || op == 12) {
            const std::string n = s[i + 1] < 5 ? names[s[i + 1]] : "NOPE.TXT";
            out.push_back(static_cast<uint8_t>(n.size()));
            out.push_back(static_cast<uint8_t>(n.size()));
            out.insert(out.end(), n.begin(), n.end());
            i++;
        } else {
            const auto first = s.begin() + static_cast<long>(i) + 1;
            out.insert(out.end(), first, first + argument_bytes(op));
            i += static_cast<size_t>(argument_bytes(op));
        }
    }
    return out;
}

// The seed card's system sectors with the boot record's total in TotSec32 and TotSec16 0.
Script total_in_32_bits(Script system) {
    constexpr size_t BOOT = 512, TOT_SEC16 = BOOT + 19, TOT_SEC32 = BOOT + 32;
    const uint32_t total = system[TOT_SEC16] | system[TOT_SEC16 + 1] << 8;
    system[TOT_SEC16] = 0;
    system[TOT_SEC16 + 1] = 0;
    for (size_t i = 0; i < 4; i++) {
        system[TOT_SEC32 + i] = static_cast<uint8_t>(total >> (8 * i));
    }
    return system;
}

void save(const std::string& path, const Script& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: write_seeds <corrupt-volume dir> <call-sequence dir>\n");
        return 2;
    }
    const std::vector<Script> sessions{
        join({open(FILE_TXT), read(P0, C100), read(P1000, C512), write(P5, C10, 'x'), read(P0, C255)}),
        join({open(FILE_TXT), write(P0, C700, 'a'), write(PAPPEND, C10, 'b'), write(P511, C256, 'c')}),
        join({open(INNER), read(P0, C4096), write(P1000, C100, 'd'), read(PHUGE, C10), read(PMAX, C10)}),
        join({open(FILE_TXT), read(PMIN, CNEG), write(PMIN, CMIN, 'e'), read(P512, C256)}),
        join({list(ROOT, 7), list(DIR, 4)}),
        join({{6, PROG}, {7, PROG}, {6, PROG}, open(PROG), read(P0, C100)}),
        join({open(DELETED), write(P0, C10, 'f'), open(KANJI), read(P0, C100), open(DIR)}),
        join({create(NOPE), append(C100, 'g'), append(C512, 'h'), set_size(P1000), read(P0, C255), status(),
              write(P511, C10, 'i'), set_size(P5), list(ROOT, 8)}),
        join({open(FILE_TXT), set_size(P5), set_size(P1536), append(C255, 'j'), status(), open(INNER),
              append(C4096, 'k')}),
        join({remove(FILE_TXT), remove(DIR), remove(KANJI), create(INNER), append(C10, 'l'), list(DIR, 4)}),
        join({{7, NOPE}, {6, NOPE}, status(), {7, PROG}, remove(PROG), create(ROOT), list(ROOT, 8)}),
    };
    const std::vector<uint8_t> volume = fuzz::seed_volume();
    const Script system(volume.begin(), volume.begin() + fuzz::SEED_SYSTEM_BYTES);
    for (size_t i = 0; i < sessions.size(); i++) {
        for (const auto& [name, sectors] :
             {std::pair{"/seed", system}, {"/seed-totsec32-", total_in_32_bits(system)}}) {
            Script corrupt = sectors;
            corrupt.insert(corrupt.end(), sessions[i].begin(), sessions[i].end());
            save(std::string(argv[1]) + name + std::to_string(i), corrupt);
        }
        save(std::string(argv[2]) + "/seed" + std::to_string(i), any_names(sessions[i]));
    }
    return 0;
}
