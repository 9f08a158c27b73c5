// libFuzzer target: arbitrary call records of every code given to the column selector's server,
// over two selectors in this process: one with DEVICE_PRESENT 0 and one with DEVICE_PRESENT 1,
// whose peers (the two board managers and the sipper) are served by threads and whose simulated
// boards move on a virtual clock, so motions end at once.
//
// The input is: one byte choosing the selector (bit 0: 1 the one with the device), then a list of
// commands, each starting with one byte:
//   0  call: 1 byte code choice, then the operation's argument bytes as they come; the record is
//      well formed for the codes 0 to 30, a header alone for any other code
//   1  raw: 2 bytes n, then n bytes pushed as a record (its own length field as given)
//   2  misfit: a call as in 0, then cut or grown by 1 byte choice, its length field made to match
//   3  serve: 1 byte k, then k % 8 + 1 cycles of the selector's main loop
// Names of files in "save_config", "delete_config" and "load_config" are chosen by their first
// byte among files of the selector's own directory (its configuration, another good one, a
// damaged one, a missing one, the empty name), so the run never reaches a file outside it.
//
// Afterwards the queue is served empty, and valid calls must be answered with the right results:
// whatever the records did, the selector still serves.

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "interface/call_record.h"
#include "interface/command_queue.h"
#include "interface/interface_server.h"
#include "interface/operation_tables.h"
#include "platform/clock.h"
#include "platform/named_object.h"
#include "platform/object_name.h"
#include "selector/vantrel.h"
#include "sim/peers/peers.h"
#include "tests/selector/selector_config.h"

using namespace vantrel;

namespace {

void write_file(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Serves a component's interface from a thread for the life of the process.
void serve_forever(Component& component) {
    std::thread([&component] {
        for (;;) component.server()->service();
    }).detach();
}

struct Selector {
    std::string name, dir;
    std::unique_ptr<Vantrel> component;
    std::unique_ptr<CommandQueue> queue;
    std::unique_ptr<Semaphore> start;
    std::int32_t next_id = 1;

    std::string config() const { return dir + "/selector.cfg"; }
    // The selector's files as each input finds them.
    void restore_files(int device_present) const {
        const std::string good = test::selector_config(device_present);
        write_file(config(), good);
        write_file(dir + "/other.cfg",
                   test::selector_config(device_present, 880) + "SAMPLE_LIMIT = 7;\n");
        write_file(dir + "/damaged.cfg", good.substr(0, good.size() / 2) + "\n5 stray\nX = 1;\n");
        std::filesystem::remove(dir + "/missing.cfg");
    }
    std::string file_choice(std::uint8_t byte) const {
        switch (byte % 6) {
            case 0:
                return "";
            case 1:
                return config();
            case 2:
                return dir + "/other.cfg";
            case 3:
                return dir + "/damaged.cfg";
            case 4:
                return dir + "/missing.cfg";
            default:
                return dir + "/saved/copy.cfg";
        }
    }
};

// The object files of `scope`, whoever holds them.
std::vector<std::string> object_files_of(const std::string& scope) {
    const std::string prefix = "vantrel." + platform::encode_name(scope) + ".";
    std::vector<std::string> files;
    std::error_code ignored;
    for (const auto& entry :
         std::filesystem::directory_iterator(platform::kObjectDirectory, ignored)) {
        const std::string file = entry.path().filename().string();
        if (file.rfind(prefix, 0) == 0) files.push_back(entry.path().string());
    }
    return files;
}

// This run's scope: "fuzz-sel-<pid>", inside the scope it was started in when there is one.
std::string run_scope() {
    const std::string own = "fuzz-sel-" + std::to_string(::getpid());
    const char* outer = std::getenv("VANTREL_IPC_SCOPE");
    if (outer == nullptr || *outer == '\0' || std::strlen(outer) + 1 + own.size() > 64) return own;
    return std::string(outer) + "-" + own;
}

struct World {
    World() {
        // A run that crashed left its objects behind: remove those whose process is gone.
        std::set<std::string> scopes;
        const std::string own = run_scope();
        const std::string prefix = "vantrel." + own.substr(0, own.rfind('-') + 1);
        for (const auto& entry : std::filesystem::directory_iterator(platform::kObjectDirectory)) {
            const std::string file = entry.path().filename().string();
            if (file.rfind(prefix, 0) == 0)
                scopes.insert(file.substr(8, file.find('.', prefix.size()) - 8));
        }
        for (const auto& scope : scopes) platform::remove_unheld_objects(scope);
        ::setenv("VANTREL_IPC_SCOPE", own.c_str(), 1);
        // The selectors and peers hold their objects to the end of the process, and libFuzzer ends
        // it with exit() when its time is up: remove them then. The scope is this process's alone.
        std::atexit([] {
            for (const auto& file : object_files_of(platform::ipc_scope())) ::unlink(file.c_str());
        });
        platform::install_clock(&clock);
        char tmpl[] = "/tmp/vantrel-fuzz-XXXXXX";
        if (::mkdtemp(tmpl) == nullptr) std::abort();
        root = tmpl;
        // The directory goes at the end of the run; the selectors and peers stay to the last.
        static std::string to_remove;
        to_remove = root;
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(to_remove, ignored);
        });
        add_component_operations(layout);
        add_vantrel_operations(layout);

        const std::string common = "FREQ = 1;\nLOGSERVERIF = \"NoLogServer\";\n";
        write_file(root + "/rotary.cfg", common + "BOARD_ID = 1;\nREFERENCE_POSITION = -500.0;\n");
        write_file(root + "/linear.cfg", common + "BOARD_ID = 2;\n");
        write_file(root + "/sipper.cfg", common);
        rotary = std::make_unique<sim::BoardManager>("RotaryMC", root + "/rotary.log",
                                                     root + "/rotary.cfg");
        linear = std::make_unique<sim::BoardManager>("LinearMC", root + "/linear.log",
                                                     root + "/linear.cfg");
        sipper =
            std::make_unique<sim::Sipper>("Sipper", root + "/sipper.log", root + "/sipper.cfg");
        serve_forever(*rotary);
        serve_forever(*linear);
        serve_forever(*sipper);

        // The task of the selector with the device logs to "Vantrel": that is itself.
        make(selectors[0], "Absent", 0);
        make(selectors[1], "Vantrel", 1);
    }

    void make(Selector& s, const std::string& name, int device_present) {
        s.name = name;
        s.dir = root + "/" + name;
        std::filesystem::create_directories(s.dir);
        s.restore_files(device_present);
        s.component = std::make_unique<Vantrel>(name, s.dir + "/selector.log", s.config());
        s.component->begin_main();
        s.queue = std::make_unique<CommandQueue>(name + "_cmdQ", ComponentInterface::kQueueSize);
        s.start = std::make_unique<Semaphore>(name + "_action_start_signal", 0, 100);
    }

    platform::VirtualClock clock;
    std::string root;
    InterfaceLayout layout;  // what a VantrelIF enters: codes 0 to 30
    std::unique_ptr<sim::BoardManager> rotary, linear;
    std::unique_ptr<sim::Sipper> sipper;
    Selector selectors[2];
};

class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return pos_ >= size_; }
    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::uint16_t u16() { return static_cast<std::uint16_t>(byte() | byte() << 8); }
    void fill(std::uint8_t* out, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) out[i] = byte();
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

void put_u16(RecordBytes& r, std::size_t at, std::uint16_t v) {
    r[at] = static_cast<std::uint8_t>(v);
    r[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void put_i32(RecordBytes& r, std::size_t at, std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i) r[at + i] = static_cast<std::uint8_t>(u >> (8 * i));
}

// A record for the code the input chooses, its arguments from the input.
RecordBytes make_call(World& w, Selector& s, Input& in) {
    const std::uint8_t choice = in.byte();
    // Mostly the selector's own codes; now and then one nobody knows.
    const std::uint16_t code = choice < 248 ? choice % 31 : static_cast<std::uint16_t>(in.u16());
    const Operation* op = w.layout.find(code);
    if (op == nullptr) {
        RecordBytes r(4);
        put_u16(r, 0, 4);
        put_u16(r, 2, code);
        return r;
    }
    RecordBytes r(op->record_length());
    put_u16(r, 0, static_cast<std::uint16_t>(r.size()));
    put_u16(r, 2, code);
    for (std::size_t i = 0; i < op->arguments.size(); ++i) {
        const std::size_t at = op->argument_offset(i);
        if (op->arguments[i] == WireType::text && (code == 6 || code == 7 || code == 8)) {
            const std::string file = s.file_choice(in.byte());
            std::copy(file.begin(), file.end(), r.begin() + static_cast<std::ptrdiff_t>(at));
        } else if (op->arguments[i] == WireType::text) {
            // A short text from the input, or the whole field (no NUL at all).
            const std::size_t n = in.byte() == 0xFF ? kTextFieldSize : in.byte();
            in.fill(r.data() + at, n);
        } else {
            in.fill(r.data() + at, wire_size(op->arguments[i]));
        }
    }
    if (op->kind == CallKind::two_way) put_i32(r, op->call_id_offset(), s.next_id++);
    return r;
}

void cycle(Selector& s) {
    s.start->release();  // so that a step with nothing queued does not wait its 10 ms
    s.component->main_cycle();
}

// A valid two-way call of `name` must be answered: its id completed and its first result slot
// read back.
Value answer(World& w, Selector& s, const char* name, std::vector<Value> args = {}) {
    const Operation* op = w.layout.find(std::string_view(name));
    const std::int32_t id = s.next_id++;
    if (!s.queue->push(encode_call(*op, args, id))) std::abort();
    for (int i = 0; i < 1000 && s.component->server()->completed_call_id() != id; ++i) cycle(s);
    if (s.component->server()->completed_call_id() != id) std::abort();
    const auto value = s.component->server()->read_slot(op->results.at(0));
    if (!value) std::abort();
    return *value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Never destroyed: the peers' threads serve for the life of the process.
    static World* world = new World;
    World& w = *world;
    Input in(data, size);
    Selector& s = w.selectors[in.byte() & 1];
    s.restore_files(&s == &w.selectors[1] ? 1 : 0);
    s.queue->reset();

    for (int commands = 0; !in.empty() && commands < 64; ++commands) {
        switch (in.byte() % 4) {
            case 0:
                s.queue->push(make_call(w, s, in));
                break;
            case 1: {
                RecordBytes raw(in.u16() % 4200);
                in.fill(raw.data(), raw.size());
                s.queue->push(raw);
                break;
            }
            case 2: {
                RecordBytes r = make_call(w, s, in);
                const std::uint8_t change = in.byte();
                if (change & 0x80)
                    r.resize(r.size() + (change & 0x0F), change);
                else
                    r.resize(r.size() - std::min<std::size_t>(r.size() - 4, change & 0x0F));
                put_u16(r, 0, static_cast<std::uint16_t>(r.size()));
                s.queue->push(r);
                break;
            }
            default:
                for (int k = in.byte() % 8 + 1; k > 0; --k) cycle(s);
                break;
        }
    }

    // Whatever happened, the queue drains and valid calls get their answers. A motion started here
    // goes on adding its log messages to the queue of "Vantrel" until it ends (soon, on the
    // virtual clock): wait for both, in real time.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    const auto moving = [&] { return s.component->task() && s.component->task()->is_running(); };
    while (s.queue->pending() > 0 || moving()) {
        if (std::chrono::steady_clock::now() > give_up) std::abort();
        cycle(s);
    }
    const auto state = std::get<std::int32_t>(answer(w, s, "get_state"));
    if (state < 0 || state > 3) std::abort();
    if (std::get<std::string>(answer(w, s, "get_name")) != s.name) std::abort();
    const auto capacity = std::get<std::int32_t>(answer(w, s, "get_capacity"));
    if (capacity != 6 && capacity != 12) std::abort();
    const auto type = std::get<std::string>(answer(w, s, "get_column_type", {std::int32_t{1}}));
    if (type.size() > 249) std::abort();
    return 0;
}
