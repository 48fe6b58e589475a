// The SD standard's longest delays, each on its own and all at once, on the
// module's native build: a card that takes them is healthy, so mount, read and
// write must succeed.
#include <gtest/gtest.h>

#include "e2e_bench.h"

namespace {

using sim::CardTiming;

struct Limit {
    const char* name;
    void (*set)(CardTiming& timing, const CardTiming& limits);
};

void PrintTo(const Limit& limit, std::ostream* os) { *os << limit.name; }

class CardAtTheLimits : public ::testing::TestWithParam<Limit> {};

TEST_P(CardAtTheLimits, MountReadAndWriteSucceed) {
    CardTiming timing = sim::card_timing(sim::CardProfile::Typical);
    GetParam().set(timing, sim::card_timing(sim::CardProfile::Limits));
    sim::SdCardConfig config;
    config.timing = timing;
    e2e::Bench bench;
    const std::vector<uint8_t> data = testsupport::pattern(2048, 7);
    bench.volume().put("/DATA.BIN", data);
    bench.insert_card(config);

    bench.open("DATA.BIN");
    ASSERT_EQ(bench.console(), "");
    EXPECT_EQ(bench.read(0, 600), std::vector<uint8_t>(data.begin(), data.begin() + 600));
    EXPECT_EQ(bench.console(), "");
    const std::vector<uint8_t> sector = testsupport::pattern(512, 9);
    EXPECT_EQ(bench.write(512, sector), 512);
    EXPECT_EQ(bench.console(), "");
    EXPECT_EQ(bench.read(512, 512), sector);
    EXPECT_EQ(bench.console(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Sd, CardAtTheLimits,
    ::testing::Values(
        Limit{"StartUp", [](CardTiming& t, const CardTiming& l) { t.start_up_ps = l.start_up_ps; }},
        Limit{"ReadAccess", [](CardTiming& t, const CardTiming& l) { t.read_access_ps = l.read_access_ps; }},
        Limit{"WriteBusy", [](CardTiming& t, const CardTiming& l) { t.write_busy_ps = l.write_busy_ps; }},
        Limit{"All", [](CardTiming& t, const CardTiming& l) { t = l; }}),
    [](const ::testing::TestParamInfo<Limit>& info) { return std::string(info.param.name); });

} // namespace
