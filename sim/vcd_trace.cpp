#include "vcd_trace.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <stdexcept>

namespace sim {
namespace {

constexpr uint64_t PS_PER_UNIT = 1000; // the dump counts nanoseconds
constexpr size_t FLUSH_AT = 1 << 20;
constexpr char IDS[] = {'!', '"', '#', '$'};

} // namespace

VcdTrace::VcdTrace(const std::string& path) : path_(path) {
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) {
        throw std::runtime_error("cannot write trace '" + path + "': " + std::strerror(errno));
    }
    buffer_ = "$version sdsim card bus $end\n"
              "$timescale 1ns $end\n"
              "$scope module card_bus $end\n"
              "$var wire 1 ! cs $end\n"
              "$var wire 1 \" sck $end\n"
              "$var wire 1 # mosi $end\n"
              "$var wire 1 $ miso $end\n"
              "$upscope $end\n"
              "$enddefinitions $end\n"
              "#0\n"
              "$dumpvars\n1!\n1\"\n1#\n1$\n$end\n";
}

// What is in the buffer is the dump up to the last change: a run that ends in
// a fault still leaves a file that opens.
VcdTrace::~VcdTrace() {
    if (file_ != nullptr) {
        std::fwrite(buffer_.data(), 1, buffer_.size(), file_);
        std::fclose(file_);
    }
}

void VcdTrace::stamp(uint64_t ps) {
    const uint64_t t = std::max((ps > origin_ps_ ? ps - origin_ps_ : 0) / PS_PER_UNIT, last_time_);
    if (t == last_time_) {
        return;
    }
    last_time_ = t;
    char text[24];
    text[0] = '#';
    char* end = std::to_chars(text + 1, text + sizeof text, t).ptr;
    *end++ = '\n';
    buffer_.append(text, end);
}

void VcdTrace::change(uint64_t ps, Signal signal, bool level) {
    if (level_[signal] == level) {
        return;
    }
    level_[signal] = level;
    stamp(ps);
    buffer_.push_back(level ? '1' : '0');
    buffer_.push_back(IDS[signal]);
    buffer_.push_back('\n');
}

void VcdTrace::add(const Board& board) {
    const auto& bytes = board.bus();
    const auto& edges = board.cs_edges();
    size_t e = 0;
    auto edges_until = [&](uint64_t ps) {
        for (; e < edges.size() && edges[e].time_ps <= ps; ++e) {
            change(edges[e].time_ps, Cs, edges[e].high);
        }
    };
    for (const BusByte& b : bytes) {
        edges_until(b.time_ps);
        const uint64_t half = board.byte_ps(b.brg) / 16;
        for (int bit = 7; bit >= 0; --bit) {
            const uint64_t fall = b.time_ps + static_cast<uint64_t>(7 - bit) * 2 * half;
            change(fall, Sck, false);
            change(fall, Mosi, (b.out >> bit) & 1);
            change(fall, Miso, (b.in >> bit) & 1);
            change(fall + half, Sck, true);
        }
        if (buffer_.size() > FLUSH_AT) {
            flush();
        }
    }
    edges_until(UINT64_MAX);
    flush();
}

void VcdTrace::finish(uint64_t end_ps) {
    stamp(end_ps);
    flush();
}

void VcdTrace::flush() {
    if (!buffer_.empty() && std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size()) {
        throw std::runtime_error("cannot write trace '" + path_ + "': " + std::strerror(errno));
    }
    buffer_.clear();
}

} // namespace sim
