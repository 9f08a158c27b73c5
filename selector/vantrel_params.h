#pragma once
// VantrelParams: the column selector's settings and the state it shares between the component's
// main thread and the motion task. Every accessor holds the record's lock for that one access only;
// compound updates (read, then write) are two separate holds.
//
// Thread safety: all operations may be called from any thread.

#include <map>
#include <string>

#include "framework/mutex.h"

namespace vantrel {

class VantrelParams {
  public:
    static constexpr int kMaxColumns = 12;
    // Request codes of the motion task besides the position indices 0..12.
    static constexpr int kRequestHome = 13;
    static constexpr int kRequestRelease = 14;
    static constexpr int kRequestClamp = 15;

    VantrelParams();
    ~VantrelParams();

    VantrelParams(const VantrelParams&) = delete;
    VantrelParams& operator=(const VantrelParams&) = delete;

    // Per-column data; indices outside 1..capacity read "" / 0 and are not stored.
    std::string column_type(int index);
    void set_column_type(int index, const std::string& type);
    int sample_count(int index);
    void set_sample_count(int index, int count);

    // Rotor target of a position index 0..capacity (0 when the index has no entry).
    // Throws Exception("VantrelParams::position ERROR, invalid position index") otherwise.
    int position(int index);
    // Stores a position when 0 <= index <= capacity; does nothing otherwise.
    void set_position(int index, int value);

    std::string stats_path();
    void set_stats_path(const std::string& path);

    int request();
    void set_request(int code);
    bool device_present();
    void set_device_present(bool present);
    int capacity();
    void set_capacity(int capacity);
    int gripper_velocity();
    void set_gripper_velocity(int value);
    int gripper_accel();
    void set_gripper_accel(int value);
    int gripper_stroke();
    void set_gripper_stroke(int value);
    int rotor_velocity();
    void set_rotor_velocity(int value);
    int rotor_accel();
    void set_rotor_accel(int value);
    int rotor_pattern();
    void set_rotor_pattern(int value);
    int buzz_amplitude();
    void set_buzz_amplitude(int value);
    int sample_limit();
    void set_sample_limit(int value);
    double buzz_duration();
    void set_buzz_duration(double value);
    bool auto_column_switch();
    void set_auto_column_switch(bool value);
    double p1_pres_limit();
    void set_p1_pres_limit(double value);
    double p3_pres_limit();
    void set_p3_pres_limit(double value);

  private:
    template <typename T>
    T get(const T& field) {
        MutexLock guard(lock_);
        return field;
    }
    template <typename T>
    void put(T& field, const T& value) {
        MutexLock guard(lock_);
        field = value;
    }
    bool is_column(int index) const { return index >= 1 && index <= capacity_; }

    Mutex lock_;
    std::map<int, std::string> column_types_;
    std::map<int, int> sample_counts_;
    std::string stats_path_;
    int request_ = -1;  // no request before the first one is stored
    std::map<int, int> positions_;
    bool device_present_ = false;
    int capacity_ = 6;
    int gripper_velocity_ = 0;
    int gripper_accel_ = 0;
    int gripper_stroke_ = 0;
    int rotor_velocity_ = 0;
    int rotor_accel_ = 0;
    int rotor_pattern_ = 0;
    int buzz_amplitude_ = 0;
    int sample_limit_ = 10000000;
    double buzz_duration_ = 0.0;
    bool auto_column_switch_ = false;
    double p1_pres_limit_ = 0.0;
    double p3_pres_limit_ = 0.0;
};

}  // namespace vantrel
