#include "tests/tools/browser.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace vantrel::test {
namespace {

constexpr auto kCallLimit = std::chrono::seconds(30);

}  // namespace

Browser::Browser(const std::string& profile_dir, const std::string& log) {
    // Chromium reads commands on its descriptor 3 and writes answers on 4.
    int commands[2], answers[2];
    if (::pipe2(commands, O_CLOEXEC) != 0 || ::pipe2(answers, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, commands[0], 3);
    posix_spawn_file_actions_adddup2(&actions, answers[1], 4);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    // Root needs --no-sandbox; the rest keeps a browser on a closed network from reaching out.
    const std::vector<std::string> argv = {"/usr/bin/chromium",
                                           "--headless",
                                           "--no-sandbox",
                                           "--disable-gpu",
                                           "--disable-quic",
                                           "--no-first-run",
                                           "--disable-background-networking",
                                           "--disable-component-update",
                                           "--disable-sync",
                                           "--disable-dev-shm-usage",
                                           "--user-data-dir=" + profile_dir,
                                           "--remote-debugging-pipe",
                                           "about:blank"};
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const int rc = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(commands[0]);
    ::close(answers[1]);
    to_browser_ = commands[1];
    from_browser_ = answers[0];
    if (rc != 0) throw std::runtime_error("cannot start /usr/bin/chromium (is it installed?)");

    const std::string target =
        call("Target.createTarget", {{"url", "about:blank"}}, true)["targetId"];
    session_ =
        call("Target.attachToTarget", {{"targetId", target}, {"flatten", true}}, true)["sessionId"];
    call("Page.enable");
    call("Runtime.enable");
}

Browser::~Browser() {
    if (to_browser_ >= 0) ::close(to_browser_);
    if (from_browser_ >= 0) ::close(from_browser_);
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

ctl::Json Browser::call(const std::string& method, const ctl::Json& params, bool browser_level) {
    const int id = next_id_++;
    ctl::Json message = {{"id", id}, {"method", method}, {"params", params}};
    if (!browser_level && !session_.empty()) message["sessionId"] = session_;
    std::string text = ctl::dump(message);
    text.push_back('\0');
    for (std::size_t sent = 0; sent < text.size();) {
        const ssize_t n = ::write(to_browser_, text.data() + sent, text.size() - sent);
        if (n <= 0) throw std::runtime_error("the browser went away during " + method);
        sent += static_cast<std::size_t>(n);
    }
    const ctl::Json reply = read_reply(id);
    if (reply.contains("error"))
        throw std::runtime_error(method + " failed: " + ctl::dump(reply["error"]));
    return reply.value("result", ctl::Json::object());
}

ctl::Json Browser::read_reply(int id) {
    const auto deadline = std::chrono::steady_clock::now() + kCallLimit;
    for (;;) {
        // Messages end in a NUL; events (no id) are not needed here.
        for (auto end = buffer_.find('\0'); end != std::string::npos; end = buffer_.find('\0')) {
            const ctl::Json message = ctl::Json::parse(buffer_.substr(0, end), nullptr, false);
            buffer_.erase(0, end + 1);
            if (message.is_object() && message.value("id", -1) == id) return message;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) throw std::runtime_error("the browser did not answer in time");
        pollfd p{from_browser_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char chunk[65536];
        const ssize_t n = ::read(from_browser_, chunk, sizeof chunk);
        if (n <= 0) throw std::runtime_error("the browser closed its pipe");
        buffer_.append(chunk, static_cast<std::size_t>(n));
    }
}

void Browser::viewport(int width, int height, bool mobile) {
    call("Emulation.setDeviceMetricsOverride",
         {{"width", width}, {"height", height}, {"deviceScaleFactor", 1}, {"mobile", mobile}});
}

void Browser::open(const std::string& url) {
    call("Page.navigate", {{"url", url}});
    if (!wait_for("document.readyState === 'complete'", std::chrono::seconds(20)))
        throw std::runtime_error("the page did not load: " + url);
}

ctl::Json Browser::evaluate(const std::string& expression) {
    const ctl::Json result =
        call("Runtime.evaluate",
             {{"expression", expression}, {"returnByValue", true}, {"awaitPromise", true}});
    if (result.contains("exceptionDetails"))
        throw std::runtime_error("script failed: " + expression + ": " +
                                 ctl::dump(result["exceptionDetails"]));
    return result["result"].value("value", ctl::Json());
}

bool Browser::wait_for(const std::string& predicate, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (evaluate("!!(" + predicate + ")") == true) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

void Browser::click(const std::string& selector) {
    const ctl::Json box =
        evaluate("(() => { const r = document.querySelector(" + ctl::dump(selector) +
                 ").getBoundingClientRect(); return [r.x + r.width / 2, r.y + "
                 "r.height / 2]; })()");
    for (const char* type : {"mousePressed", "mouseReleased"})
        call("Input.dispatchMouseEvent",
             {{"type", type}, {"x", box[0]}, {"y", box[1]}, {"button", "left"}, {"clickCount", 1}});
}

void Browser::type(const std::string& selector, const std::string& text) {
    evaluate("document.querySelector(" + ctl::dump(selector) + ").focus()");
    call("Input.insertText", {{"text", text}});
}

void Browser::screenshot(const std::string& png_path) {
    const std::string data = call("Page.captureScreenshot", {{"format", "png"}})["data"];
    std::string png(data.size() / 4 * 3 + 3, '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(png.data()),
                                  reinterpret_cast<const unsigned char*>(data.data()),
                                  static_cast<int>(data.size()));
    if (n < 0) throw std::runtime_error("the screenshot is not base64");
    // EVP_DecodeBlock counts the padding as zero bytes.
    std::size_t size = static_cast<std::size_t>(n);
    for (auto it = data.rbegin(); it != data.rend() && *it == '='; ++it) --size;
    png.resize(size);
    std::ofstream(png_path, std::ios::binary) << png;
}

}  // namespace vantrel::test
