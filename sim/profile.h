#pragma once
// The velocity profile of one axis move: a short list of phases of constant acceleration, from a
// start place and velocity at a start time. Plain data, so that it can live in shared memory.
//
// A move to a target accelerates to the top velocity (or as far as the distance allows), cruises,
// and decelerates to stand exactly on the target: a trapezoid, or a triangle for short moves. A
// move started while the axis still runs the other way first decelerates to a stop.

#include <cstdint>

namespace vantrel::sim {

struct Phase {
    double duration_s;
    double acceleration;  // counts/s^2, signed
};

struct Profile {
    std::int64_t start_ns;
    double start_position;  // counts
    double start_velocity;  // counts/s, signed
    int phase_count;
    Phase phases[4];
    double end_position;  // exact, so that a move ends on its target without rounding drift
};

struct Sample {
    double position;
    double velocity;
    bool done;
};

// A move from `position`/`velocity` at `now_ns` to `target` with the top speed `max_velocity` and
// the rates `acceleration` and `deceleration` (all positive).
Profile plan_move(std::int64_t now_ns, double position, double velocity, double target,
                  double max_velocity, double acceleration, double deceleration);

// A stop from `position`/`velocity` at `deceleration`.
Profile plan_stop(std::int64_t now_ns, double position, double velocity, double deceleration);

// Standing still at `position`.
Profile plan_rest(std::int64_t now_ns, double position);

// Where the axis is at `now_ns` (never before the start of the profile).
Sample sample(const Profile& profile, std::int64_t now_ns);

// The lowest and highest places of the profile from its start up to `now_ns`.
struct Span {
    double low;
    double high;
};
Span span(const Profile& profile, std::int64_t now_ns);

// Seconds from the start of the profile to its end.
double duration_s(const Profile& profile);

}  // namespace vantrel::sim
