#include "volume_runs.h"

#include <atomic>
#include <chrono>
#include <exception>
#include <future>
#include <stdexcept>
#include <thread>

#include "volume.h"

namespace bench {
namespace {

const Card BYTE_COUNTED{"byte-counted", std::nullopt};

Row measure(const RunPlan& plan, const testsupport::Volume& volume, const Shape& shape, const Workload& w,
            const Card& card) {
    const auto started = std::chrono::steady_clock::now();
    TimedRig rig(w.image == Image::Growing ? plan.growing : plan.image, volume.image().string(), card,
                 plan.interrupts);
    w.run(rig, plan.full ? w.full : w.short_run);
    rig.check_card();
    return {&w, shape, card.name, rig.tally(),
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count()};
}

// Workloads that write put the same bytes in the same places on every card,
// so the cards can share one volume.
ShapeRows run_shape(const RunPlan& plan, const Shape& shape) {
    testsupport::ScratchDir dir;
    testsupport::VolumeSpec layout;
    layout.fat = shape.fat;
    layout.sectors_per_cluster = shape.sectors_per_cluster;
    layout.size_kib = shape.size_mib * 1024;
    const testsupport::Volume volume(dir.file("card.img"), layout);
    fill_volume(volume);
    ShapeRows rows;
    for (const Workload& w : workloads()) {
        if (plan.only_seeks && !is_seek(w)) {
            continue;
        }
        for (const Card& card : plan.only_seeks ? std::vector<Card>{} : plan.cards) {
            rows.table.push_back(measure(plan, volume, shape, w, card));
        }
        if (w.figure != Figure::None) {
            rows.byte_counted.push_back(measure(plan, volume, shape, w, BYTE_COUNTED));
        }
    }
    return rows;
}

} // namespace

void run_shapes(const RunPlan& plan, const std::vector<Shape>& shapes,
                const std::function<void(const Shape&, const ShapeRows&)>& done) {
    std::vector<std::promise<ShapeRows>> promised(shapes.size());
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    const auto work = [&] {
        for (size_t i; (i = next++) < shapes.size();) {
            try {
                if (failed) {
                    throw std::runtime_error("not measured: an earlier shape failed");
                }
                promised[i].set_value(run_shape(plan, shapes[i]));
            } catch (...) {
                failed = true;
                promised[i].set_exception(std::current_exception());
            }
        }
    };
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < plan.threads; ++t) {
        threads.emplace_back(work);
    }
    std::exception_ptr failure;
    for (size_t i = 0; i < shapes.size() && !failure; ++i) {
        try {
            const ShapeRows rows = promised[i].get_future().get();
            done(shapes[i], rows);
        } catch (...) {
            failure = std::current_exception();
            failed = true;
        }
    }
    for (std::thread& t : threads) {
        t.join();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

} // namespace bench
