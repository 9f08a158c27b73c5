#include "sim/board.h"

#include <stdexcept>
#include <string>

#include "platform/clock.h"
#include "platform/error.h"

namespace vantrel::sim {
namespace {

std::string object_name(int id) {
    return "flexsim-board-" + std::to_string(id);
}

// Holds the board's lock for a scope.
class Locked {
  public:
    explicit Locked(platform::RobustMutex& mutex) : mutex_(mutex) { mutex_.lock(); }
    ~Locked() { mutex_.unlock(); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

  private:
    platform::RobustMutex& mutex_;
};

}  // namespace

BoardHandle::BoardHandle(int id, platform::OpenMode mode) : id_(id) {
    if (id < 0 || id > 255)
        throw std::invalid_argument("board identifier " + std::to_string(id) +
                                    " is outside 0..255");
    // The lock first: whoever finds the state finds its lock too, since every holder of the
    // state holds the lock as well.
    lock_ = std::make_unique<platform::RobustMutex>(object_name(id), mode);
    state_ = std::make_unique<platform::NamedObject>(
        platform::ObjectKind::shared_memory, object_name(id), sizeof(BoardState), mode,
        [id](void* payload, std::size_t) { static_cast<BoardState*>(payload)->id = id; });
    if (state_->size() < sizeof(BoardState))
        throw platform::PlatformError(platform::PlatformErrc::open_failed,
                                      state_->path() + " is too small for a board", 0);
    board_ = static_cast<BoardState*>(state_->data());
}

BoardHandle::~BoardHandle() = default;

AxisState& BoardHandle::axis_of(BoardState& state, int axis) {
    if (axis < 1 || axis > FLEX_AXIS_COUNT)
        throw std::invalid_argument("axis " + std::to_string(axis) + " is outside 1..4");
    return state.axes[axis - 1];
}

template <class F>
void BoardHandle::modify(F&& change) {
    Locked locked(*lock_);
    const std::int64_t now = platform::now_ns();
    advance(*board_, now);
    change(*board_, now);
}

void BoardHandle::set_reference_position(int axis, double place) {
    modify([&](BoardState& s, std::int64_t) { axis_of(s, axis).reference_position = place; });
}

void BoardHandle::set_counts_per_revolution(int axis, std::int32_t counts) {
    if (counts < 0) throw std::invalid_argument("counts per revolution must not be negative");
    modify([&](BoardState& s, std::int64_t) { axis_of(s, axis).counts_per_revolution = counts; });
}

void BoardHandle::place_axis(int axis, double place) {
    modify([&](BoardState& s, std::int64_t now) {
        AxisState& a = axis_of(s, axis);
        a.position = place;
        a.velocity_now = 0;
        a.motion = Motion::idle;
        a.profile = plan_rest(now, place);
        a.travel_low = a.travel_high = place;
    });
}

void BoardHandle::reset_travel(int axis) {
    modify([&](BoardState& s, std::int64_t) {
        AxisState& a = axis_of(s, axis);
        a.travel_low = a.travel_high = a.position;
    });
}

void BoardHandle::set_variable(int number, std::int32_t value) {
    if (number < 0 || number >= FLEX_VARIABLE_COUNT)
        throw std::invalid_argument("variable " + std::to_string(number) + " is outside 0..127");
    modify([&](BoardState& s, std::int64_t) { s.variables[number] = value; });
}

void BoardHandle::fail_calls(Function function, std::int32_t count, std::int32_t status) {
    const int f = static_cast<int>(function);
    if (f < 0 || f >= kFunctionCount) throw std::invalid_argument("no such board function");
    if (status == FLEX_SUCCESS) throw std::invalid_argument("a failure needs a non-zero status");
    modify([&](BoardState& s, std::int64_t) {
        s.faults[f].failures_left = count < 0 ? 0 : count;
        s.faults[f].status = status;
    });
}

void BoardHandle::delay_calls(Function function, std::int32_t milliseconds) {
    const int f = static_cast<int>(function);
    if (f < 0 || f >= kFunctionCount) throw std::invalid_argument("no such board function");
    modify([&](BoardState& s, std::int64_t) {
        s.faults[f].delay_ms = milliseconds < 0 ? 0 : milliseconds;
    });
}

void BoardHandle::set_read_buffer_stale(bool stale) {
    modify([&](BoardState& s, std::int64_t) { s.read_buffer_stale = stale; });
}

void BoardHandle::set_reference_missing(int axis, bool missing) {
    modify([&](BoardState& s, std::int64_t) { axis_of(s, axis).reference_missing = missing; });
}

void BoardHandle::set_stalled(int axis, bool stalled) {
    modify([&](BoardState& s, std::int64_t now) {
        AxisState& a = axis_of(s, axis);
        if (a.stalled == stalled) return;
        a.stalled = stalled;
        a.velocity_now = 0;
        a.profile = plan_rest(now, a.position);  // frozen where it stands
        if (!stalled) a.motion = Motion::idle;   // free again: the lost motion is over
    });
}

void BoardHandle::clear_faults() {
    for (int axis = 1; axis <= FLEX_AXIS_COUNT; ++axis) {
        set_stalled(axis, false);
        set_reference_missing(axis, false);
    }
    modify([](BoardState& s, std::int64_t) {
        for (FunctionFault& fault : s.faults) fault = {};
        s.read_buffer_stale = false;
    });
}

BoardState BoardHandle::snapshot() {
    BoardState copy;
    modify([&](BoardState& s, std::int64_t) { copy = s; });
    return copy;
}

std::int32_t BoardHandle::call(Function function, const Body& body) {
    const int f = static_cast<int>(function);
    std::int32_t delay_ms = 0;
    {
        Locked locked(*lock_);
        ++board_->calls_in_progress;
        ++board_->calls[f];
        delay_ms = board_->faults[f].delay_ms;
    }
    // A slow board: the call takes its time without blocking the board for other callers.
    if (delay_ms > 0) platform::sleep_ms(delay_ms);
    Locked locked(*lock_);
    --board_->calls_in_progress;
    const std::int64_t now = platform::now_ns();
    advance(*board_, now);
    FunctionFault& fault = board_->faults[f];
    if (fault.failures_left > 0) {
        --fault.failures_left;
        return fault.status;
    }
    return body(*board_, now);
}

std::unique_ptr<BoardHandle> open_board(int id) {
    return std::make_unique<BoardHandle>(id, platform::OpenMode::create_or_open);
}

}  // namespace vantrel::sim
