// The README's first session, run as it stands there.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "run_sdsim.h"
#include "volume.h"

namespace {

// The fenced block that follows the marker line in the README.
std::string block_after(const std::string& readme, const std::string& marker) {
    const size_t at = readme.find(marker);
    if (at == std::string::npos) {
        return "(no " + marker + ")";
    }
    const size_t open = readme.find("```\n", at) + 4;
    return readme.substr(open, readme.find("```\n", open) - open);
}

TEST(SdsimReadme, TheFirstSessionPrintsWhatTheReadmeShows) {
    std::ifstream in(README_PATH);
    const std::string readme{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::string script = block_after(readme, "<!-- sdsim run script: first session -->");
    const std::string shown = block_after(readme, "<!-- sdsim run output: first session -->");

    testsupport::ScratchDir dir;
    const sdsimtest::Outcome r = sdsimtest::sdsim(dir, "run -", script);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, shown);
    const std::string scratch = sdsimtest::file_on(sdsimtest::demo_card(dir), "/SCRATCH.TXT");
    EXPECT_EQ(scratch.substr(0, 22), "..........RECORD 1\r\n..");
}

} // namespace
