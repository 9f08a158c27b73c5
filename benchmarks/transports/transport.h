#pragma once
// One way of making the same two-way call between two processes: a 4-byte request, a 4-byte
// answer (the request plus one). The server runs in a process of its own, started by the
// transport; call() is the calling side, in this process.
//
// Thread safety: one Transport belongs to the thread that made it.

#include <cstdint>
#include <memory>
#include <string>

namespace vantrel::bench {

class Transport {
  public:
    virtual ~Transport() = default;
    // The answer to `request`; throws std::runtime_error when the call fails.
    virtual std::uint32_t call(std::uint32_t request) = 0;
};

// Where the servers run: the processor to pin them to, or -1 for anywhere.
struct Placement {
    int server_cpu = -1;
};

// iceoryx request/response through its RouDi daemon, which it starts (iox-roudi from PATH) and
// stops again. Null with `why_not` set when it cannot run here.
std::unique_ptr<Transport> start_iceoryx(const Placement& placement, std::string& why_not);

}  // namespace vantrel::bench
