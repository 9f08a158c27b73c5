#pragma once
// A simulated motion board, as a process sees it. The board's state lives in the named shared
// segment "flexsim-board-<id>" beside a named lock of the same name, so every process of the IPC
// scope that addresses board <id> sees one board. Like every named object, the board exists while
// some process holds a BoardHandle to it: the process that stands in for the motion-board manager
// keeps its boards alive, so that their position counters and variables outlast the component
// processes that use them. The flex_* functions open the board for each call and answer
// FLEX_BOARD_NOT_PRESENT when nobody holds it.
//
// Time comes from platform::now_ns(), so a test with a virtual clock moves the axes with it. All
// processes using one board must share one time line (the real monotonic clock does).
//
// Thread safety: every operation takes the board's lock; a handle may be used from any thread.

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/named_object.h"
#include "platform/robust_mutex.h"
#include "sim/board_state.h"

namespace vantrel::sim {

class BoardHandle {
  public:
    // Opens board `id` (0..255). With create_or_open a board that no process holds is created
    // afresh: axes at rest at 0, nothing loaded, variables 0, reference switches at 0.
    // Throws std::invalid_argument for an id outside 0..255 and platform::PlatformError
    // (not_found for open_existing when no process holds the board).
    explicit BoardHandle(int id, platform::OpenMode mode = platform::OpenMode::create_or_open);
    ~BoardHandle();

    BoardHandle(const BoardHandle&) = delete;
    BoardHandle& operator=(const BoardHandle&) = delete;

    int id() const { return id_; }
    // True when this handle created the board.
    bool created() const { return state_->created(); }

    // Configuration (axis 1..4; std::invalid_argument otherwise). Places are physical places in
    // counts; the position counter reads them until reset_pos shifts it.
    void set_reference_position(int axis, double place);
    void set_counts_per_revolution(int axis, std::int32_t counts);
    // Puts the axis at rest at `place`, as if moved by hand (its travel record starts there).
    void place_axis(int axis, double place);
    // Starts the record of the places the axis passes through (travel_low, travel_high) afresh
    // at its present place.
    void reset_travel(int axis);

    // Variable 0..127 (std::invalid_argument otherwise), as flex_load_var would, without the
    // faults a library call meets.
    void set_variable(int number, std::int32_t value);

    // Faults on demand.
    void fail_calls(Function function, std::int32_t count, std::int32_t status);
    void delay_calls(Function function, std::int32_t milliseconds);
    void set_read_buffer_stale(bool stale);
    void set_reference_missing(int axis, bool missing);
    // A stalled axis stops where it is and its motion never completes; clearing the fault ends
    // the motion where the axis stands.
    void set_stalled(int axis, bool stalled);
    void clear_faults();

    // The state advanced to now.
    BoardState snapshot();

    // Runs one board function as the library does: waits the function's configured delay, then
    // under the board's lock advances the state to now, fails with an injected fault if one is
    // due, and otherwise runs `body` on the state. Returns the status.
    using Body = std::function<std::int32_t(BoardState& state, std::int64_t now_ns)>;
    std::int32_t call(Function function, const Body& body);

  private:
    template <class F>
    void modify(F&& change);
    static AxisState& axis_of(BoardState& state, int axis);

    int id_;
    std::unique_ptr<platform::RobustMutex> lock_;
    std::unique_ptr<platform::NamedObject> state_;
    BoardState* board_ = nullptr;
};

// Creates board `id` or opens the live one; the board lives at least as long as the handle.
std::unique_ptr<BoardHandle> open_board(int id);

}  // namespace vantrel::sim
