#include "sim/profile.h"

#include <algorithm>
#include <cmath>

namespace vantrel::sim {
namespace {

// Builds a profile phase by phase, keeping track of where the axis will be.
class Planner {
  public:
    Planner(std::int64_t now_ns, double position, double velocity)
        : profile_{now_ns, position, velocity, 0, {}, position},
          position_(position),
          velocity_(velocity) {}

    void add(double duration_s, double acceleration) {
        if (duration_s <= 0.0) return;
        profile_.phases[profile_.phase_count++] = {duration_s, acceleration};
        position_ += velocity_ * duration_s + 0.5 * acceleration * duration_s * duration_s;
        velocity_ += acceleration * duration_s;
    }
    // Ends a phase that brings the axis to rest: the velocity is exactly zero afterwards.
    void add_stop(double deceleration) {
        if (velocity_ == 0.0) return;
        add(std::abs(velocity_) / deceleration, velocity_ > 0 ? -deceleration : deceleration);
        velocity_ = 0.0;
    }

    double position() const { return position_; }
    double velocity() const { return velocity_; }

    Profile finish(double end_position) {
        profile_.end_position = end_position;
        return profile_;
    }

  private:
    Profile profile_;
    double position_;
    double velocity_;
};

}  // namespace

Profile plan_move(std::int64_t now_ns, double position, double velocity, double target,
                  double max_velocity, double acceleration, double deceleration) {
    Planner plan(now_ns, position, velocity);
    double distance = target - position;
    double direction = distance >= 0 ? 1.0 : -1.0;
    const double stopping = velocity * velocity / (2.0 * deceleration);
    // Running away from the target, or too fast to stop before it: stop first, then come back.
    if (velocity * direction < 0 || stopping > std::abs(distance) + 1e-9) {
        plan.add_stop(deceleration);
        distance = target - plan.position();
        direction = distance >= 0 ? 1.0 : -1.0;
    }
    const double d = std::abs(distance);
    if (d < 1e-9) {
        plan.add_stop(deceleration);
        return plan.finish(target);
    }
    const double u = std::abs(plan.velocity());  // now zero or towards the target
    const double peak = std::sqrt((2.0 * acceleration * deceleration * d + deceleration * u * u) /
                                  (acceleration + deceleration));
    if (peak > max_velocity) {
        if (u <= max_velocity)
            plan.add((max_velocity - u) / acceleration, direction * acceleration);
        else
            plan.add((u - max_velocity) / deceleration, -direction * deceleration);
        const double braking = max_velocity * max_velocity / (2.0 * deceleration);
        const double cruise = std::abs(target - plan.position()) - braking;
        plan.add(cruise / max_velocity, 0.0);
        plan.add(max_velocity / deceleration, -direction * deceleration);
    } else {
        plan.add((peak - u) / acceleration, direction * acceleration);
        plan.add(peak / deceleration, -direction * deceleration);
    }
    return plan.finish(target);
}

Profile plan_stop(std::int64_t now_ns, double position, double velocity, double deceleration) {
    Planner plan(now_ns, position, velocity);
    plan.add_stop(deceleration);
    return plan.finish(plan.position());
}

Profile plan_rest(std::int64_t now_ns, double position) {
    return Planner(now_ns, position, 0.0).finish(position);
}

Sample sample(const Profile& profile, std::int64_t now_ns) {
    double t = static_cast<double>(now_ns - profile.start_ns) / 1e9;
    if (t < 0) t = 0;  // a clock behind the start (another process's clock) sees the start
    double position = profile.start_position;
    double velocity = profile.start_velocity;
    for (int i = 0; i < profile.phase_count; ++i) {
        const Phase& phase = profile.phases[i];
        const double dt = t < phase.duration_s ? t : phase.duration_s;
        position += velocity * dt + 0.5 * phase.acceleration * dt * dt;
        velocity += phase.acceleration * dt;
        if (t < phase.duration_s) return {position, velocity, false};
        t -= phase.duration_s;
    }
    return {profile.end_position, 0.0, true};
}

Span span(const Profile& profile, std::int64_t now_ns) {
    double t = static_cast<double>(now_ns - profile.start_ns) / 1e9;
    if (t < 0) t = 0;
    double position = profile.start_position;
    double velocity = profile.start_velocity;
    Span s{position, position};
    const auto take = [&s](double place) {
        s.low = std::min(s.low, place);
        s.high = std::max(s.high, place);
    };
    for (int i = 0; i < profile.phase_count; ++i) {
        const Phase& phase = profile.phases[i];
        const double dt = t < phase.duration_s ? t : phase.duration_s;
        // A phase that turns the axis round reaches its furthest place inside the phase.
        if (phase.acceleration != 0) {
            const double turn = -velocity / phase.acceleration;
            if (turn > 0 && turn < dt)
                take(position + velocity * turn + 0.5 * phase.acceleration * turn * turn);
        }
        position += velocity * dt + 0.5 * phase.acceleration * dt * dt;
        velocity += phase.acceleration * dt;
        take(position);
        if (t < phase.duration_s) return s;
        t -= phase.duration_s;
    }
    take(profile.end_position);
    return s;
}

double duration_s(const Profile& profile) {
    double total = 0;
    for (int i = 0; i < profile.phase_count; ++i) total += profile.phases[i].duration_s;
    return total;
}

}  // namespace vantrel::sim
