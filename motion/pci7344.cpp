#include "motion/pci7344.h"

#include "motion/flex_library.h"

namespace vantrel {
namespace {

// The board library in use (built in, or loaded at start).
const FlexLibrary& lib() {
    return flex_library();
}

std::string lock_name(std::int32_t board_id) {
    return "pci7344-" + std::to_string(board_id) + "MUTEX";
}

}  // namespace

// Holds the board lock for a scope (recursively: the caller may hold it already).
class Pci7344::Hold {
  public:
    explicit Hold(Pci7344& board) : board_(board) { board_.take_lock(); }
    ~Hold() { board_.unlock(); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

  private:
    Pci7344& board_;
};

void Pci7344::take_lock() {
    if (!try_lock(lock_limit_ms_))
        throw Pci7344_Exception("Pci7344 -- board lock \"" + lock_name(board_id_) +
                                    "\" not obtained within " + std::to_string(lock_limit_ms_) +
                                    " ms",
                                FLEX_BOARD_ACCESS_FAILED);
}

Pci7344::Pci7344(std::int32_t board_id, long lock_limit_ms)
    : Mutex(lock_name(board_id), false), board_id_(board_id), lock_limit_ms_(lock_limit_ms) {
    if (!valid()) throw Exception("Pci7344 Error, failed to initialize access synchronization.");
}

Pci7344::~Pci7344() = default;

std::string Pci7344::describe(std::int32_t status) {
    Hold held(*this);
    char buffer[500] = {};
    std::uint32_t size = sizeof buffer;
    lib().flex_get_error_description(0, status, 0, 0, buffer, &size);
    buffer[sizeof buffer - 1] = '\0';  // whatever the library did, the text ends in the buffer
    return buffer;
}

template <class Call>
void Pci7344::call(const char* prefix, Call&& library_call) {
    std::int32_t status = 0;
    std::string message;
    {
        Hold held(*this);
        status = library_call();
        if (status != 0) message = prefix + describe(status);
    }
    // Thrown only once the lock is released.
    if (status != 0) throw Pci7344_Exception(std::move(message), status);
}

void Pci7344::set_stepper_loop_mode(std::uint8_t axis, std::uint16_t loop_mode) {
    call("Pci7344::set_stepper_loop_mode -- ",
         [&] { return lib().flex_set_stepper_loop_mode(board(), axis, loop_mode); });
}

void Pci7344::load_acceleration(std::uint8_t axis, std::uint16_t acceleration_type,
                                std::uint32_t acceleration, std::uint8_t input_vector) {
    call(" Pci7344::load_acceleration -- ", [&] {
        return lib().flex_load_acceleration(board(), axis, acceleration_type, acceleration,
                                            input_vector);
    });
}

void Pci7344::load_target_pos(std::uint8_t axis, std::int32_t target_position,
                              std::uint8_t input_vector) {
    call("Pci7344::load_target_pos -- ",
         [&] { return lib().flex_load_target_pos(board(), axis, target_position, input_vector); });
}

void Pci7344::load_velocity(std::uint8_t axis, std::int32_t velocity, std::uint8_t input_vector) {
    call("Pci7344::load_velocity -- ",
         [&] { return lib().flex_load_velocity(board(), axis, velocity, input_vector); });
}

void Pci7344::reset_pos(std::uint8_t axis, std::int32_t position1, std::int32_t position2,
                        std::uint8_t input_vector) {
    call("Pci7344::reset_pos  -- ",
         [&] { return lib().flex_reset_pos(board(), axis, position1, position2, input_vector); });
}

void Pci7344::set_op_mode(std::uint8_t axis, std::uint16_t operation_mode) {
    call("Pci7344::set_op_mode  -- ",
         [&] { return lib().flex_set_op_mode(board(), axis, operation_mode); });
}

void Pci7344::check_move_complete_status(std::uint8_t axis, std::uint16_t axis_map,
                                         std::uint16_t& move_complete) {
    call("Pci7344::check_move_complete_status  -- ", [&] {
        return lib().flex_check_move_complete_status(board(), axis, axis_map, &move_complete);
    });
}

void Pci7344::load_scurve_time(std::uint8_t axis, std::uint16_t scurve_time,
                               std::uint8_t input_vector) {
    call(" Pci7344::load_scurve_time -- ",
         [&] { return lib().flex_load_scurve_time(board(), axis, scurve_time, input_vector); });
}

void Pci7344::start(std::uint8_t axis, std::uint16_t axis_map) {
    call("Pci7344::start -- ", [&] { return lib().flex_start(board(), axis, axis_map); });
}

void Pci7344::stop_motion(std::uint8_t axis, std::uint16_t stop_type, std::uint16_t axis_map) {
    call("Pci7344::stop_motion  -- ",
         [&] { return lib().flex_stop_motion(board(), axis, stop_type, axis_map); });
}

void Pci7344::find_reference(std::uint8_t axis, std::uint16_t axis_map, std::uint8_t find_type) {
    call("Pci7344::find_reference -- ",
         [&] { return lib().flex_find_reference(board(), axis, axis_map, find_type); });
}

void Pci7344::read_reference_rtn(std::uint8_t axis, std::uint16_t axis_map, std::uint16_t attribute,
                                 std::uint16_t& status) {
    call("Pci7344::read_reference_rtn -- ", [&] {
        return lib().flex_read_reference_status_rtn(board(), axis, axis_map, attribute, &status);
    });
}

void Pci7344::begin_store(std::uint8_t program) {
    take_lock();
    const std::int32_t status = lib().flex_begin_store(board(), program);
    if (status == 0) return;  // the lock stays held until end_store
    std::string message;
    try {
        message = "Pci7344::begin_store  -- " + describe(status);
    } catch (...) {
        unlock();
        throw;
    }
    unlock();
    throw Pci7344_Exception(std::move(message), status);
}

void Pci7344::end_store(std::uint8_t program) {
    // The lock is held since begin_store.
    const std::int32_t status = lib().flex_end_store(board(), program);
    std::string message;
    if (status != 0) {
        try {
            message = " Pci7344::end_store -- " + describe(status);
        } catch (...) {
            unlock();
            throw;
        }
    }
    unlock();
    if (status != 0) throw Pci7344_Exception(std::move(message), status);
}

void Pci7344::load_var(std::int32_t value, std::uint8_t variable) {
    call("Pci7344::load_var  -- ", [&] { return lib().flex_load_var(board(), value, variable); });
}

void Pci7344::read_var_rtn(std::uint8_t variable, std::int32_t& value) {
    call("Pci7344::read_var_rtn -- ",
         [&] { return lib().flex_read_var_rtn(board(), variable, &value); });
}

void Pci7344::flush_rdb() {
    call("Pci7344::flush_rdb -- ", [&] { return lib().flex_flush_rdb(board()); });
}

void Pci7344::read_pos_rtn(std::uint8_t axis, std::int32_t& position) {
    // Data that an earlier read left behind (-70025) is flushed and the position read again, a few
    // times. A read that never comes fresh is a board error like any other: no caller ever gets a
    // position that was not read.
    constexpr int kReads = 3;
    for (int read = 1;; ++read) {
        std::int32_t fresh = 0;
        std::int32_t status = 0;
        std::string message;
        {
            Hold held(*this);
            status = lib().flex_read_pos_rtn(board(), axis, &fresh);
            if (status != 0 && (status != FLEX_READ_BUFFER_NOT_EMPTY || read == kReads))
                message = "Pci7344::read_pos_rtn -- " + describe(status);
            // Flushed under the same hold, so that no other reader meets the stale data first.
            if (status == FLEX_READ_BUFFER_NOT_EMPTY) flush_rdb();
        }
        if (status == 0) {
            position = fresh;
            return;
        }
        if (!message.empty()) throw Pci7344_Exception(std::move(message), status);
    }
}

}  // namespace vantrel
