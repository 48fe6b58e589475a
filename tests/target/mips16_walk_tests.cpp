// MIPS16e decoding on what the cross assembler encodes: every save and addiu $sp frame size, branches over
// offsets that use every bit, the post-link step's calls, register jumps, and a pool that looks like code.
#include <gtest/gtest.h>

#include <elf.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "code_walk.h"
#include "volume.h"

namespace {

using target::Flow;

std::string step(Flow flow, const std::string& label = "", bool mips16 = true) {
    return std::to_string(static_cast<int>(flow)) + " " + label + (mips16 ? "" : " in MIPS32");
}

TEST(Mips16Walk, ReadsWhatTheAssemblerEncodes) {
    // The source, and what each of its functions must give: frame and steps.
    std::ostringstream source;
    std::map<std::string, uint32_t> frames;
    std::map<std::string, std::vector<std::string>> expected;
    const auto function = [&](const std::string& name, const std::string& body, int frame,
                              std::vector<std::string> steps = {}) {
        source << "\t.align 2\n\t.type " << name << ", @function\n"
               << name << ":\n\t.insn\n"
               << body << "\tjrc $ra\n\t.size " << name << ", . - " << name << "\n";
        frames[name] = static_cast<uint32_t>(frame);
        expected[name] = std::move(steps);
    };
    source << "\t.set noreorder\n\t.type g, @function\ng:\n\tjr $ra\n\tnop\n\t.size g, 8\n\t.set mips16\n";
    for (int size = 0; size <= 2040; size += 8) { // extended for 0 and past 128
        function("f" + std::to_string(size), "\tsave " + std::to_string(size) + ", $ra, $s0\n", size);
    }
    for (const auto& [from, by] : {std::pair{-1024, 8}, {-32768, 251}}) { // 251: extended, mostly
        for (int change = from; change < -from; change += by) {
            function("a" + std::to_string(by) + "_" + std::to_string(change + 32768),
                     "\taddiu $sp, " + std::to_string(change) + "\n", change < 0 ? -change : 0);
        }
    }
    // Labels ever further apart; every kind of branch from each to each.
    std::ostringstream branches;
    std::vector<std::string> branched;
    const std::vector<int> gaps = {1, 1, 60, 200, 500, 900, 9000};
    for (size_t from = 0; from < gaps.size(); ++from) {
        branches << "\t.fill " << gaps[from] << ", 2, 0x6500\nb" << from << ":\n\t.insn\n";
        for (size_t to = 0; to < gaps.size(); ++to) {
            for (const char* kind : {"b ", "beqz $v0, ", "bnez $a1, ", "bteqz ", "btnez "}) {
                branches << "\t" << kind << "b" << to << "\n";
                branched.push_back(step(Flow::Branch, "b" + std::to_string(to)));
            }
        }
    }
    function("branches", branches.str(), 0, branched);
    // A call to each function so far, as far back as the branches reach.
    std::string calls;
    std::vector<std::string> called;
    for (const auto& [name, frame] : frames) {
        calls += "\tla $v0, " + name + "\n\tjalrc $v0\n";
        called.push_back(step(Flow::Call, name));
    }
    called.insert(called.end(), {step(Flow::Call, "g", false), step(Flow::HostCall), step(Flow::HostCall),
                                 step(Flow::HostJump), step(Flow::HostJump), step(Flow::AbsoluteJump),
                                 step(Flow::AbsoluteJump)});
    function("calls",
             calls +
                 "\tla $v0, g\n\tjalrc $v0\n\tjalrc $v0\n\tjalr $v1\n\tnop\n\tjr $a0\n\tnop\n"
                 "\tjrc $a1\n\tjr $ra\n\tnop\n\t.half 0x1C00, 0x64C1\n\tjal f0\n\tnop\n", // jalx, then a save
             0, called);
    // A pool of jal, extend, jalrc and save amid the code, as GCC places one in a long function.
    function("pool",
             "\tsave 16, $ra\n\tb pool_code\n\t.type __pool_pool_1, @object\n__pool_pool_1:\n\t.align 2\n"
             "\t.half 0x1800, 0xF000, 0xEAC0, 0x6480, 0xF000, 0x0A00, 0xEAC0, 0xE800\n"
             "\t.type __pend_pool_1, @object\n__pend_pool_1:\npool_code:\n\t.insn\n\tjalrc $v0\n",
             16, {step(Flow::Branch, "pool_code"), step(Flow::HostCall)});

    testsupport::ScratchDir dir;
    std::ofstream(dir.file("sweep.s")) << source.str();
    const std::string assemble = std::string(CROSS_CXX) + " -march=m4k -EL -mno-abicalls -nostdlib -static " +
                                 "-Wl,-Ttext=0x9D020000 -Wl,-e,0x9D020000 " + dir.file("sweep.s").string() +
                                 " -o " + dir.file("sweep.elf").string();
    ASSERT_EQ(std::system(assemble.c_str()), 0);
    const target::ElfFile elf = target::ElfFile::load(dir.file("sweep.elf"));
    std::map<uint32_t, std::string> labels;
    for (const target::Symbol& s : elf.symbols()) {
        if (s.type == STT_FUNC || (s.type == STT_NOTYPE && s.mips16())) { // functions and code labels
            labels[s.value] = s.name;
        }
    }
    for (const auto& [name, frame] : frames) {
        const target::FunctionCode code =
            target::walk_mips16(elf, *elf.symbol(name), target::literal_pools(elf));
        std::vector<std::string> steps;
        for (const target::FlowStep& flow : code.steps) {
            const bool relative = flow.flow == Flow::Branch || flow.flow == Flow::Call;
            steps.push_back(step(flow.flow, relative ? labels[flow.target & ~1u] : "",
                                 !relative || (flow.target & 1) != 0));
        }
        EXPECT_EQ(code.frame, frame) << name;
        EXPECT_EQ(steps, expected.at(name)) << name;
    }
}

} // namespace
