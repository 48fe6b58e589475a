#include "call_script.h"

#include <array>
#include <climits>
#include <string>

#include "ram_layout.h"
#include "sdtypes.h"

namespace fuzz {

namespace {

constexpr int MAX_CALLS = 24;
constexpr uint8_t COMMANDS = 13; // 0 to 12

int32_t position(ByteReader& in) {
    static constexpr std::array<int32_t, 14> edges{0,    1,    5,          100,     511,     512, 513,
                                                   1000, 1536, 0x7FFFFFF0, INT_MAX, INT_MIN, -1,  2047};
    const uint8_t pick = in.byte();
    return pick < edges.size() ? edges[pick] : in.word();
}

// Counts stay within the caller's buffer, as the interface requires; negative ones are the caller's mistake.
int32_t count(ByteReader& in) {
    static constexpr std::array<int32_t, 15> edges{0,   1,   10,   100,  255,  256,     257, 511,
                                                   512, 513, 1024, 2048, 4096, INT_MIN, -1};
    const uint8_t pick = in.byte();
    return pick < edges.size()
               ? edges[pick]
               : static_cast<int32_t>(static_cast<uint32_t>(in.word()) % (sim::RAM_P1_SIZE + 1));
}

std::vector<uint8_t> name(ByteReader& in, Names names) {
    if (names == Names::Known) {
        static constexpr std::array<const char*, 10> known{"FILE.TXT",
                                                           "DIR/INNER.TXT",
                                                           "PROG.BAS",
                                                           "DIR",
                                                           "/",
                                                           "",
                                                           "NOPE.TXT",
                                                           "/dir/inner.txt",
                                                           "\xE5LD.TXT",
                                                           "\x05"
                                                           "EIGHT.TXT"};
        return sim::counted(known[in.byte() % known.size()]);
    }
    std::vector<uint8_t> p1{in.byte()};
    const std::vector<uint8_t> bytes = in.bytes(in.byte());
    p1.insert(p1.end(), bytes.begin(), bytes.end());
    return p1;
}

std::vector<uint8_t> data(ByteReader& in, int32_t n) {
    std::vector<uint8_t> bytes(n > 0 ? static_cast<size_t>(n) : 0, in.byte());
    // A negative count is refused before its data is looked at: no length byte.
    return n >= 0 ? sim::data_arg(bytes) : bytes;
}

} // namespace

sim::CardType card_type(ByteReader& in) {
    switch (in.byte() % 4) {
    case 0: return sim::CardType::Sd2Byte;
    case 1: return sim::CardType::Mmc;
    case 2: return sim::CardType::Sd1;
    default: return sim::CardType::Sd2Block;
    }
}

void run_script(FuzzSession& session, ByteReader& in, Names names) {
    session.board().set_program({"10 PRINT \"SAVED\"", "20 GOTO 10"});
    for (int i = 0; i < MAX_CALLS && in.remaining() > 0; i++) {
        const uint8_t op = in.byte();
        sim::Call c;
        c.mode = names == Names::Any && op >= 0xF0 ? in.word() : op % COMMANDS;
        switch (c.mode) {
        case MODE_SET_CS: c.p1 = {names == Names::Any ? in.byte() : uint8_t{7}, 0, 0, 0}; break;
        case MODE_OPEN:
        case MODE_OPENDIR:
        case MODE_LOAD:
        case MODE_SAVE:
        case MODE_CREATE:
        case MODE_DELETE: c.p1 = name(in, names); break;
        case MODE_SET_SIZE: c.p2 = position(in); break;
        case MODE_APPEND:
            c.p3 = count(in);
            c.p1 = data(in, c.p3);
            break;
        case MODE_READ:
            c.p2 = position(in);
            c.p3 = count(in);
            break;
        case MODE_WRITE:
            c.p2 = position(in);
            c.p3 = count(in);
            c.p1 = data(in, c.p3);
            break;
        default: c.p1 = in.bytes(4); break;
        }
        session.call(c);
    }
}

} // namespace fuzz
