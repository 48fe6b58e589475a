// Writes the seed corpora: sessions a program would run on the seed card
// (open, read, write at and across sector edges, list, load, save), encoded
// for call_script.h. Run once; the files are kept in the repository.
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
enum Name : uint8_t { FILE_TXT = 0, INNER = 1, PROG = 2, DIR = 3, ROOT = 4, DELETED = 8, KANJI = 9 };

Script open(Name n) { return {1, n}; }
Script read(Pos p, Cnt c) { return {2, p, c}; }
Script write(Pos p, Cnt c, uint8_t fill) { return {3, p, c, fill}; }
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

// The same session with a free-form name where the known-name target has a pick.
Script any_names(const Script& s) {
    static const char* names[] = {"FILE.TXT", "DIR/INNER.TXT", "PROG.BAS", "DIR", "/"};
    Script out{s[0]};
    for (size_t i = 1; i < s.size(); i++) {
        out.push_back(s[i]);
        if (s[i] == 1 || s[i] == 4 || s[i] == 6 || s[i] == 7) {
            const std::string n = s[i + 1] < 5 ? names[s[i + 1]] : "NOPE";
            out.push_back(static_cast<uint8_t>(n.size()));
            out.push_back(static_cast<uint8_t>(n.size()));
            out.insert(out.end(), n.begin(), n.end());
            i++;
        } else if (s[i] == 2 || s[i] == 3) {
            const long args = s[i] == 2 ? 2 : 3; // position and count, then a write's fill byte
            const auto first = s.begin() + static_cast<long>(i) + 1;
            out.insert(out.end(), first, first + args);
            i += static_cast<size_t>(args);
        }
    }
    return out;
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
    };
    const std::vector<uint8_t> volume = fuzz::seed_volume();
    for (size_t i = 0; i < sessions.size(); i++) {
        Script corrupt(volume.begin(), volume.begin() + fuzz::SEED_SYSTEM_BYTES);
        corrupt.insert(corrupt.end(), sessions[i].begin(), sessions[i].end());
        save(std::string(argv[1]) + "/seed" + std::to_string(i), corrupt);
        save(std::string(argv[2]) + "/seed" + std::to_string(i), any_names(sessions[i]));
    }
    return 0;
}
