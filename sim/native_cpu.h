// Runs the module's native build on a board: the module's register and
// host-table accesses land in the board through the thin access layer.
#pragma once

#include "cpu.h"

namespace sim {

// Binds a board to the module's native build for the scope's lifetime, so that
// tests can call the module's inner functions directly.
class BoardScope {
  public:
    explicit BoardScope(Board& board);
    ~BoardScope();
    BoardScope(const BoardScope&) = delete;
    BoardScope& operator=(const BoardScope&) = delete;

  private:
    Board* previous_;
};

class NativeCpu : public Cpu {
  public:
    void call_main(Board& board) override;
    std::string name() const override { return "native"; }
};

} // namespace sim
