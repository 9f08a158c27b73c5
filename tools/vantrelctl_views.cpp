#include "tools/vantrelctl_views.h"

#include <cmath>
#include <cstdio>
#include <numbers>

#include "tools/client/operations.h"

namespace vantrel::ctl {
namespace {

const char* yes_no(bool value) {
    return value ? "yes" : "no";
}

std::string column_text(std::int32_t column) {
    if (column == 0) return "0 (park)";
    if (column < 0) return std::to_string(column) + " (between positions)";
    return std::to_string(column);
}

}  // namespace

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

std::string progress_text(const MotionPoll& p, double elapsed_s) {
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, "%6.1f s  rotor %7d  busy %-3s  homed %-3s  column %s",
                  elapsed_s, p.rotor_position, yes_no(p.busy), yes_no(p.homed),
                  p.column < 0 ? "-" : std::to_string(p.column).c_str());
    return buffer;
}

}  // namespace vantrel::ctl
