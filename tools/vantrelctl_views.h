#pragma once
// What vantrelctl shows of a column selector on a terminal: the status screen, the drawing of the
// rotor ring, and the progress line of a motion.
//
// Thread safety: plain functions.

#include <string>

#include "tools/client/selector.h"

namespace vantrel::ctl {

// The status screen (the current column's row marked with ">").
std::string render_status(const Snapshot& s, const std::string& interface);

// The rotor ring as seen from above: `capacity` columns around the ring, the working place at the
// top (the column standing there is the current one). `top` is the column number standing at the
// working place, fractional between columns (0.5: half a pitch before column 1, where the drawing
// shows the park position); `highlighted` is drawn as [n] (in reverse video too with `ansi`), 0
// for none. `caption` is written in the middle of the ring.
struct RingView {
    int capacity = 6;
    double top = 1.0;
    int highlighted = 0;
    std::string caption;
};
std::string draw_ring(const RingView& view, bool ansi);
// The ring view of a snapshot; `last_top` keeps the ring where it was when the rotor stands
// between columns.
RingView ring_view(const Snapshot& s, double& last_top);

// "  2.4 s  rotor   1880  busy yes  homed yes  column 3"
std::string progress_text(const MotionPoll& poll, double elapsed_s);

}  // namespace vantrel::ctl
