#include "tools/vantrelctl_views.h"

#include <cmath>
#include <cstdio>
#include <numbers>

#include "platform/clock.h"
#include "tools/vantrelctl_core.h"

namespace vantrel::ctl {
namespace {

// A selector answering a capacity beyond this is not believed column by column.
constexpr std::int32_t kMaxColumnsShown = 64;

const char* yes_no(bool value) {
    return value ? "yes" : "no";
}

std::string column_text(std::int32_t column) {
    if (column == 0) return "0 (park)";
    if (column < 0) return std::to_string(column) + " (between positions)";
    return std::to_string(column);
}

double seconds_since(std::int64_t start_ns) {
    return static_cast<double>(platform::now_ns() - start_ns) / 1e9;
}

std::string fixed(double value, int decimals) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

}  // namespace

int read_snapshot(VantrelIF& v, Snapshot& s, std::string& failed) {
    s = Snapshot{};
    int result = 0;
    // Each query in turn until one fails.
    auto query = [&](const char* operation, auto&& call) {
        if (result == 0) {
            result = ask(call);
            if (result != 0) failed = operation;
        }
        return result == 0;
    };
    query("get_state", [&] { return v.get_state(s.state); });
    query("get_name", [&] { return v.get_name(s.name); });
    query("get_component_version", [&] { return v.get_component_version(s.version); });
    query("device_present", [&] { return v.device_present(s.device_present); });
    query("get_capacity", [&] { return v.get_capacity(s.capacity); });
    query("get_sample_limit", [&] { return v.get_sample_limit(s.sample_limit); });
    query("get_auto_column_switch", [&] { return v.get_auto_column_switch(s.auto_switch); });
    query("get_pres_limits", [&] { return v.get_pres_limits(s.p1_limit, s.p3_limit); });
    query("get_rotor_position", [&] { return v.get_rotor_position(s.rotor_position); });
    if (result != 0 || !s.answers_guarded()) return result;

    bool homed = false, busy = false;
    std::int32_t column = -1;
    query("homed", [&] { return v.homed(homed); });
    query("is_busy", [&] { return v.is_busy(busy); });
    query("get_current_column", [&] { return v.get_current_column(column); });
    if (result != 0) return result;
    s.homed = homed;
    s.busy = busy;
    s.column = column;
    const std::int32_t shown = std::min(s.capacity, kMaxColumnsShown);
    for (std::int32_t c = 1; c <= shown && result == 0; ++c) {
        Snapshot::Column col;
        query("get_column_type", [&] { return v.get_column_type(c, col.type); });
        query("get_sample_count", [&] { return v.get_sample_count(c, col.samples); });
        s.columns.push_back(col);
    }
    if (result != 0) s.columns.clear();
    return result;
}

std::string render_status(const Snapshot& s, const std::string& interface) {
    std::string why_unknown = "-";
    if (!s.device_present)
        why_unknown = "- (device not present)";
    else if (s.state == 0)
        why_unknown = "- (not initialised: send reset)";
    auto row = [](const std::string& label, const std::string& value) {
        char buffer[512];
        std::snprintf(buffer, sizeof buffer, "  %-16s %s\n", label.c_str(), value.c_str());
        return std::string(buffer);
    };
    auto maybe = [&](const std::optional<bool>& v) { return v ? yes_no(*v) : why_unknown; };

    std::string out = s.name + " on \"" + interface + "\"" +
                      (s.version.empty() ? "" : " (version " + s.version + ")") + "\n";
    out += row("state", std::to_string(s.state) + " " + state_name(s.state));
    out += row("device present", yes_no(s.device_present));
    out += row("homed", maybe(s.homed));
    out += row("busy", maybe(s.busy));
    out += row("current column", s.column ? column_text(*s.column) : why_unknown);
    out += row("rotor position", std::to_string(s.rotor_position));
    out += row("capacity", std::to_string(s.capacity) + " columns");
    out += row("sample limit", std::to_string(s.sample_limit));
    out += row("auto switch", s.auto_switch ? "on" : "off");
    out += row("pressure limits",
               "P1 " + format_value(s.p1_limit) + ", P3 " + format_value(s.p3_limit));
    if (!s.columns.empty()) {
        out += "\n    column  type                              samples\n";
        for (std::size_t i = 0; i < s.columns.size(); ++i) {
            const int number = static_cast<int>(i) + 1;
            const bool current = s.column && *s.column == number;
            char buffer[512];
            std::snprintf(buffer, sizeof buffer, "  %s %6d  %-32s %8d\n", current ? ">" : " ",
                          number, s.columns[i].type.c_str(), s.columns[i].samples);
            out += buffer;
        }
    }
    return out;
}

std::string status_json(const Snapshot& s, const std::string& interface) {
    auto opt_bool = [](const std::optional<bool>& v) {
        return v ? std::string(*v ? "true" : "false") : std::string("null");
    };
    std::string out =
        "{\"interface\":" + json_string(interface) + ",\"name\":" + json_string(s.name) +
        ",\"version\":" + json_string(s.version) + ",\"state\":" + std::to_string(s.state) +
        ",\"state_name\":" + json_string(state_name(s.state)) +
        ",\"device_present\":" + (s.device_present ? "true" : "false") +
        ",\"homed\":" + opt_bool(s.homed) + ",\"busy\":" + opt_bool(s.busy) +
        ",\"current_column\":" + (s.column ? std::to_string(*s.column) : "null") +
        ",\"rotor_position\":" + std::to_string(s.rotor_position) +
        ",\"capacity\":" + std::to_string(s.capacity) +
        ",\"sample_limit\":" + std::to_string(s.sample_limit) +
        ",\"auto_column_switch\":" + (s.auto_switch ? "true" : "false") +
        ",\"p1_pres_limit\":" + json_value(s.p1_limit) +
        ",\"p3_pres_limit\":" + json_value(s.p3_limit) + ",\"columns\":[";
    for (std::size_t i = 0; i < s.columns.size(); ++i) {
        out += (i == 0 ? "" : ",") + std::string("{\"column\":") + std::to_string(i + 1) +
               ",\"type\":" + json_string(s.columns[i].type) +
               ",\"samples\":" + std::to_string(s.columns[i].samples) + "}";
    }
    return out + "]}";
}

std::string draw_ring(const RingView& view, bool ansi) {
    const int n = view.capacity > 0 ? std::min(view.capacity, 24) : 6;
    const bool big = n > 6;
    // Radii that put no column exactly half-way between two character cells.
    const double rx = big ? 18.0 : 12.0;
    const double ry = big ? 8.0 : 6.0;
    const int width = static_cast<int>(2 * rx) + 9;
    const int cx = width / 2;
    const int header = 2;  // the working place's name and its marker
    const int cy = header + static_cast<int>(ry);
    const int height = cy + static_cast<int>(ry) + 1;
    std::vector<std::string> grid(height, std::string(width, ' '));
    auto place = [&](double turns, int& x, int& y) {
        const double a = 2.0 * std::numbers::pi * turns;
        x = cx + static_cast<int>(std::lround(rx * std::sin(a)));
        y = cy - static_cast<int>(std::lround(ry * std::cos(a)));
    };
    auto write = [&](int x, int y, const std::string& text) {
        for (std::size_t i = 0; i < text.size(); ++i) {
            const int at = x + static_cast<int>(i);
            if (y >= 0 && y < height && at >= 0 && at < width) grid[y][at] = text[i];
        }
    };

    // The ring itself, then the columns on it.
    for (int i = 0; i < n * 8; ++i) {
        int x = 0, y = 0;
        place(static_cast<double>(i) / (n * 8), x, y);
        if (grid[y][x] == ' ') grid[y][x] = '.';
    }
    int marked_row = -1, marked_from = 0, marked_length = 0;
    for (int k = 1; k <= n; ++k) {
        int x = 0, y = 0;
        place((k - view.top) / n, x, y);
        const std::string number = std::to_string(k);
        const bool marked = k == view.highlighted;
        const std::string label = marked ? "[" + number + "]" : " " + number + " ";
        const int from = x - static_cast<int>(label.size()) / 2;
        write(from, y, label);
        if (marked) {
            marked_row = y;
            marked_from = std::max(from, 0);
            marked_length = static_cast<int>(label.size());
        }
    }
    const std::string title = "working place";
    write(cx - static_cast<int>(title.size()) / 2, 0, title);
    write(cx, 1, "v");
    write(cx - static_cast<int>(view.caption.size()) / 2, cy, view.caption);

    std::string out;
    for (int y = 0; y < height; ++y) {
        std::string line = grid[y];
        line.erase(line.find_last_not_of(' ') + 1);
        if (ansi && y == marked_row && marked_from < static_cast<int>(line.size())) {
            line.insert(std::min<std::size_t>(line.size(), marked_from + marked_length), "\033[0m");
            line.insert(marked_from, "\033[7m");
        }
        out += line + "\n";
    }
    return out;
}

RingView ring_view(const Snapshot& s, double& last_top) {
    RingView view;
    view.capacity = s.capacity > 0 ? s.capacity : 6;
    if (!s.device_present) {
        view.caption = "device not present";
    } else if (s.state == 0 || !s.column) {
        view.caption = "not initialised";
    } else if (*s.column > 0) {
        last_top = *s.column;
        view.highlighted = *s.column;
        view.caption = "column " + std::to_string(*s.column);
    } else if (*s.column == 0) {
        last_top = 0.5;
        view.caption = "park";
    } else {
        view.caption = s.busy.value_or(false) ? "moving" : "between columns";
    }
    view.top = last_top;
    return view;
}

WaitOutcome wait_for_motion(VantrelIF& v, const WaitOptions& options,
                            const std::function<void(const MotionPoll&, double)>& progress) {
    WaitOutcome out;
    const std::int64_t start = platform::now_ns();
    auto failed_call = [&](int result, const char* operation) {
        out.kind = WaitOutcome::no_answer;
        out.call_result = result;
        out.failed_operation = operation;
        out.elapsed_s = seconds_since(start);
        return out;
    };
    std::int32_t state = 0;
    bool present = false;
    if (const int r = ask([&] { return v.get_state(state); }); r != 0)
        return failed_call(r, "get_state");
    if (const int r = ask([&] { return v.device_present(present); }); r != 0)
        return failed_call(r, "device_present");
    if (!present || state == 0) {
        out.kind = WaitOutcome::failed;
        out.reason = !present ? "the selector's device is not present (DEVICE_PRESENT)"
                              : "the selector is not initialised (send reset first)";
        return out;
    }
    // One round of the four queries; a round that goes unanswered (the selector busy with a long
    // operation, a stopped process) is tried again until the wait's own limit has passed.
    auto poll_once = [&](MotionPoll& p, const char*& failed) {
        int r = 0;
        auto query = [&](const char* operation, auto&& call) {
            if (r == 0 && (r = ask(call)) != 0) failed = operation;
        };
        query("is_busy", [&] { return v.is_busy(p.busy); });
        query("homed", [&] { return v.homed(p.homed); });
        query("get_current_column", [&] { return v.get_current_column(p.column); });
        query("get_rotor_position", [&] { return v.get_rotor_position(p.rotor_position); });
        return r;
    };
    for (;;) {
        MotionPoll p;
        const char* failed = "";
        const int r = poll_once(p, failed);
        out.elapsed_s = seconds_since(start);
        const bool over = out.elapsed_s > options.timeout_s;
        if (r != 0) {
            if (over) return failed_call(r, failed);
        } else {
            out.last = p;
            if (progress) progress(p, out.elapsed_s);
            if (!p.busy) break;
            if (over) {
                out.kind = WaitOutcome::timed_out;
                out.reason = "still moving after " + fixed(options.timeout_s, 1) + " s";
                return out;
            }
        }
        platform::sleep_ms(options.poll_ms);
    }
    const MotionPoll& p = out.last;
    const std::string where = "rotor position " + std::to_string(p.rotor_position);
    out.kind = WaitOutcome::failed;
    if (!p.homed) {
        out.reason = "not homed afterwards (" + where + ")";
    } else if (options.requested && p.column != *options.requested) {
        out.reason = (p.column < 0 ? "stopped between columns"
                                   : "stands at column " + std::to_string(p.column)) +
                     " (" + where + "), not at the requested column " +
                     std::to_string(*options.requested);
    } else if (p.column < 0) {
        out.reason = "stopped between columns (" + where + ")";
    } else {
        out.kind = WaitOutcome::reached;
    }
    return out;
}

std::string describe_outcome(const WaitOutcome& o) {
    const std::string after = " after " + fixed(o.elapsed_s, 1) + " s";
    switch (o.kind) {
        case WaitOutcome::reached:
            if (o.last.column == 0)
                return "reached the park position (column 0, rotor position " +
                       std::to_string(o.last.rotor_position) + ")" + after;
            return "reached column " + std::to_string(o.last.column) + " (rotor position " +
                   std::to_string(o.last.rotor_position) + ")" + after;
        case WaitOutcome::failed:
            return "motion failed" + after + ": " + o.reason;
        case WaitOutcome::timed_out:
            return "gave up waiting: " + o.reason;
        case WaitOutcome::no_answer:
            return "the selector stopped answering (" + o.failed_operation + ")";
    }
    return "";
}

std::string outcome_json(const WaitOutcome& o, const std::string& interface,
                         std::optional<int> requested) {
    static const char* kinds[] = {"reached", "failed", "timed_out", "no_answer"};
    return "{\"interface\":" + json_string(interface) + ",\"operation\":\"wait\",\"outcome\":\"" +
           kinds[o.kind] + "\",\"requested\":" + (requested ? std::to_string(*requested) : "null") +
           ",\"column\":" + std::to_string(o.last.column) +
           ",\"rotor_position\":" + std::to_string(o.last.rotor_position) +
           ",\"homed\":" + (o.last.homed ? "true" : "false") +
           ",\"busy\":" + (o.last.busy ? "true" : "false") +
           ",\"elapsed_s\":" + fixed(o.elapsed_s, 3) + ",\"reason\":" + json_string(o.reason) + "}";
}

std::string progress_text(const MotionPoll& p, double elapsed_s) {
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, "%6.1f s  rotor %7d  busy %-3s  homed %-3s  column %s",
                  elapsed_s, p.rotor_position, yes_no(p.busy), yes_no(p.homed),
                  p.column < 0 ? "-" : std::to_string(p.column).c_str());
    return buffer;
}

}  // namespace vantrel::ctl
