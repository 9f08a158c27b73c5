#pragma once
// Pci7344: one motion board, reached through the flex_* library functions. The object is itself
// the board's machine-wide lock "pci7344-<id>MUTEX": every operation holds it for its one library
// call (plus the error description), so all threads of all processes that address the board take
// turns. A non-zero library status becomes a Pci7344_Exception whose message is the operation's
// prefix followed by the library's description of the status.
//
// Thread safety: any thread may call any operation; begin_store and end_store must be called by
// the same thread, since the lock is held from one to the other.

#include <cstdint>
#include <string>

#include "framework/mutex.h"
#include "platform/exception.h"

namespace vantrel {

class Pci7344_Exception : public Exception {
  public:
    Pci7344_Exception(std::string message, std::int32_t status)
        : Exception(std::move(message)), status_(status) {}
    std::int32_t status() const noexcept { return status_; }

  private:
    std::int32_t status_;
};

class Pci7344 : public Mutex {
  public:
    // The library is given the low 8 bits of `board_id`. Throws Exception
    // "Pci7344 Error, failed to initialize access synchronization." when the lock cannot be made.
    explicit Pci7344(std::int32_t board_id);
    ~Pci7344() override;

    std::int32_t board_id() const noexcept { return board_id_; }

    void set_stepper_loop_mode(std::uint8_t axis, std::uint16_t loop_mode);
    void load_acceleration(std::uint8_t axis, std::uint16_t acceleration_type,
                           std::uint32_t acceleration, std::uint8_t input_vector);
    void load_target_pos(std::uint8_t axis, std::int32_t target_position,
                         std::uint8_t input_vector);
    void load_velocity(std::uint8_t axis, std::int32_t velocity, std::uint8_t input_vector);
    void reset_pos(std::uint8_t axis, std::int32_t position1, std::int32_t position2,
                   std::uint8_t input_vector);
    void set_op_mode(std::uint8_t axis, std::uint16_t operation_mode);
    void check_move_complete_status(std::uint8_t axis, std::uint16_t axis_map,
                                    std::uint16_t& move_complete);
    void load_scurve_time(std::uint8_t axis, std::uint16_t scurve_time, std::uint8_t input_vector);
    void start(std::uint8_t axis, std::uint16_t axis_map);
    void stop_motion(std::uint8_t axis, std::uint16_t stop_type, std::uint16_t axis_map);
    void find_reference(std::uint8_t axis, std::uint16_t axis_map, std::uint8_t find_type);
    void read_reference_rtn(std::uint8_t axis, std::uint16_t axis_map, std::uint16_t attribute,
                            std::uint16_t& status);
    // Opens a program download and returns holding the board lock (on success only); end_store
    // closes it and releases the lock in every case.
    virtual void begin_store(std::uint8_t program);
    virtual void end_store(std::uint8_t program);
    void load_var(std::int32_t value, std::uint8_t variable);
    void read_var_rtn(std::uint8_t variable, std::int32_t& value);
    void flush_rdb();
    // A read that finds data of an earlier read waiting (status -70025) flushes the read buffer
    // and reads again, up to three reads; when none is fresh it throws with status -70025.
    // `position` changes only when a read succeeds.
    void read_pos_rtn(std::uint8_t axis, std::int32_t& position);

  private:
    std::uint8_t board() const noexcept { return static_cast<std::uint8_t>(board_id_ & 0xFF); }
    // The library's text for `status`, fetched under the lock.
    std::string describe(std::int32_t status);
    // Runs one library call under the lock; a failure is described before the lock is released
    // and thrown after.
    template <class Call>
    void call(const char* prefix, Call&& library_call);

    std::int32_t board_id_;
};

}  // namespace vantrel
