#include "run_sdsim.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sys/wait.h>

namespace sdsimtest {

namespace {

std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

std::string demo_card(const testsupport::ScratchDir& dir) { return dir.file("demo.img").string(); }

Outcome sdsim(const testsupport::ScratchDir& dir, const std::string& args, const std::string& input,
              const std::string& env, const std::string& redirect) {
    using testsupport::quote;
    std::ofstream(dir.file("stdin"), std::ios::binary) << input;
    const std::string environment = env.empty() ? "SDSIM_DEMO_CARD=" + quote(demo_card(dir)) : env;
    const std::string command = "cd " + quote(dir.path().string()) + " && env " + environment + " " +
                                quote(SDSIM_BINARY) + " " + args + " <stdin >stdout 2>stderr " + redirect;
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(dir.file("stdout")), slurp(dir.file("stderr"))};
}

std::string file_on(const std::string& image, const std::string& path) {
    return testsupport::run("mcopy -n -i " + testsupport::quote(image) + " ::" + path + " -");
}

} // namespace sdsimtest
