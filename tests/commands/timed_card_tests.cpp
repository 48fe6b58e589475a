// The SD standard's longest delays, one at a time, on the module's native
// build: a card that takes them is healthy, so mount, read and write must succeed.
#include <gtest/gtest.h>

#include <array>

#include "e2e_bench.h"

namespace {

using Delay = uint64_t sim::CardTiming::*;

class CardAtAnSdLimit : public ::testing::TestWithParam<Delay> {};

TEST_P(CardAtAnSdLimit, MountReadAndWriteSucceed) {
    sim::SdCardConfig config;
    config.timing = sim::card_timing(sim::CardProfile::Typical);
    (*config.timing).*GetParam() = sim::card_timing(sim::CardProfile::Limits).*GetParam();
    e2e::Bench bench;
    const std::vector<uint8_t> data = testsupport::pattern(1024, 7);
    const std::vector<uint8_t> sector = testsupport::pattern(512, 9);
    bench.volume().put("/DATA.BIN", data);
    bench.insert_card(config);
    bench.open("DATA.BIN");
    ASSERT_EQ(bench.console(), "");
    EXPECT_EQ(bench.read(0, 512), std::vector<uint8_t>(data.begin(), data.begin() + 512));
    EXPECT_EQ(bench.write(512, sector), 512);
    EXPECT_EQ(bench.read(512, 512), sector); // also when the write failed
}

INSTANTIATE_TEST_SUITE_P(Sd, CardAtAnSdLimit,
                         ::testing::Values(&sim::CardTiming::start_up_ps, &sim::CardTiming::read_access_ps,
                                           &sim::CardTiming::write_busy_ps),
                         [](const ::testing::TestParamInfo<Delay>& info) {
                             return std::string(std::array{"StartUp", "ReadAccess", "WriteBusy"}[info.index]);
                         });

} // namespace
