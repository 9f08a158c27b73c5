#pragma once
// Headless Chromium driven through the DevTools protocol over --remote-debugging-pipe (no port,
// no extra package): one page of a fresh empty profile, commands answered within a limit.
//
// Thread safety: one Browser belongs to one test thread.

#include <sys/types.h>

#include <chrono>
#include <string>

#include "tools/client/json.h"

namespace vantrel::test {

class Browser {
  public:
    // Starts /usr/bin/chromium; `log` receives its output. Throws std::runtime_error when it
    // cannot start or attach.
    Browser(const std::string& profile_dir, const std::string& log);
    ~Browser();
    Browser(const Browser&) = delete;
    Browser& operator=(const Browser&) = delete;

    // A command to the page (or to the browser with `browser_level`); its result. Throws on an
    // error answer or when none comes within the limit.
    ctl::Json call(const std::string& method, const ctl::Json& params = ctl::Json::object(),
                   bool browser_level = false);

    void viewport(int width, int height, bool mobile);
    void open(const std::string& url);
    // The value of a JavaScript expression (promises awaited).
    ctl::Json evaluate(const std::string& expression);
    // Evaluates `predicate` every 50 ms until it is true or `limit` has passed.
    bool wait_for(const std::string& predicate, std::chrono::milliseconds limit);
    // A real mouse click at the middle of the element `selector` names.
    void click(const std::string& selector);
    // Types `text` into the element `selector` names, as keystrokes would.
    void type(const std::string& selector, const std::string& text);
    void screenshot(const std::string& png_path);

  private:
    ctl::Json read_reply(int id);

    pid_t pid_ = -1;
    int to_browser_ = -1;
    int from_browser_ = -1;
    int next_id_ = 1;
    std::string buffer_;
    std::string session_;
};

}  // namespace vantrel::test
