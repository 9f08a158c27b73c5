// Object files planted by another user, and damaged ones of our own: every kind of object refuses
// them at once, names the file and what is wrong with it, and leaves it as it was. Waits on a lock
// that another process keeps end at their limit, for opening, closing and removing alike.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>

#include "platform/error.h"
#include "platform/futex_semaphore.h"
#include "platform/named_object.h"
#include "platform/robust_mutex.h"
#include "tests/support/ipc_test.h"
#include "tests/support/other_user.h"

using namespace vantrel::platform;
using namespace vantrel::test;

namespace {

// Opens object `name` of one kind and keeps it open as long as the result lives.
using Opener = std::function<std::shared_ptr<void>(const std::string& name, long limit_ms)>;

struct Kind {
    ObjectKind kind;
    Opener open;
};

const Kind kKinds[] = {
    {ObjectKind::shared_memory,
     [](const std::string& name, long limit) {
         return std::make_shared<NamedObject>(ObjectKind::shared_memory, name, 64,
                                              OpenMode::create_or_open, nullptr, limit);
     }},
    {ObjectKind::mutex,
     [](const std::string& name, long limit) {
         return std::make_shared<RobustMutex>(name, OpenMode::create_or_open, limit);
     }},
    {ObjectKind::semaphore,
     [](const std::string& name, long limit) {
         return std::make_shared<FutexSemaphore>(name, 0, 1, OpenMode::create_or_open, limit);
     }},
};

// What a planting leaves running: the other user's lock holder, or our own damaged object's
// holder.
struct Kept {
    std::unique_ptr<ChildProcess> process;
    std::shared_ptr<void> object;
};

std::string path_of(ObjectKind kind, const std::string& name) {
    return std::string(kObjectDirectory) + "/" + object_file_name(ipc_scope(), kind, name);
}

Kept plant_as_nobody(const std::string& script, const std::string& path) {
    EXPECT_EQ(shell_as_nobody(script, path), 0) << script;
    return {};
}

long elapsed_ms(const std::function<void()>& body) {
    const auto start = std::chrono::steady_clock::now();
    body();
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count());
}

class PlantedObjectTest : public IpcTest {
  protected:
    void SetUp() override {
        if (!can_act_as_other_user()) GTEST_SKIP() << "needs root to act as another user";
    }
    TempDir dir_;
};

TEST_F(PlantedObjectTest, EveryKindRefusesAPlantedFileAtOnceAndLeavesItAlone) {
    const std::string victim = dir_.path() + "/precious";
    struct Planting {
        const char* what;
        std::function<Kept(const Kind&, const std::string& path)> plant;
        PlatformErrc refused_as;
        const char* says;
    };
    const Planting plantings[] = {
        {"another user's file open to all",
         [](const Kind&, const std::string& path) {
             return plant_as_nobody("printf squatter > \"$1\" && chmod 666 \"$1\"", path);
         },
         PlatformErrc::untrusted, "is a regular file, owner nobody (uid 65534), mode 0666"},
        {"another user's private file",
         [](const Kind&, const std::string& path) {
             return plant_as_nobody("printf squatter > \"$1\" && chmod 600 \"$1\"", path);
         },
         PlatformErrc::untrusted, "is a regular file, owner nobody (uid 65534), mode 0600;"},
        {"a FIFO",
         [](const Kind&, const std::string& path) {
             return plant_as_nobody("mkfifo \"$1\"", path);
         },
         PlatformErrc::untrusted, "is a FIFO, owner nobody"},
        {"a symbolic link to a file of ours",
         [&](const Kind&, const std::string& path) {
             return plant_as_nobody("ln -s " + victim + " \"$1\"", path);
         },
         PlatformErrc::untrusted, "is a symbolic link, owner nobody"},
        {"another user's file whose gate they hold",
         [](const Kind&, const std::string& path) {
             plant_as_nobody("printf squatter > \"$1\" && chmod 666 \"$1\"", path);
             Kept kept{std::make_unique<ChildProcess>(
                           as_nobody({helper_path("object_child"), "gate", path})),
                       nullptr};
             EXPECT_EQ(kept.process->read_line(), "held");
             return kept;
         },
         PlatformErrc::untrusted, "is a regular file, owner nobody (uid 65534), mode 0666;"},
        {"our live object, grown",
         [](const Kind& k, const std::string& path) {
             Kept kept{nullptr, k.open("planted", kDefaultWaitLimitMs)};
             EXPECT_EQ(::truncate(path.c_str(), 4096), 0);
             return kept;
         },
         PlatformErrc::invalid_object, "holds 4096 bytes, which does not match its header"},
        {"our live object with a garbage header",
         [](const Kind& k, const std::string& path) {
             Kept kept{nullptr, k.open("planted", kDefaultWaitLimitMs)};
             const int fd = ::open(path.c_str(), O_WRONLY);
             EXPECT_EQ(::pwrite(fd, "garbage!", 8, 0), 8);
             ::close(fd);
             return kept;
         },
         PlatformErrc::invalid_object, "does not start with an object header"},
        {"our live object under a second name",
         [](const Kind& k, const std::string& path) {
             Kept kept{nullptr, k.open("original", kDefaultWaitLimitMs)};
             EXPECT_EQ(::link(path_of(k.kind, "original").c_str(), path.c_str()), 0);
             return kept;
         },
         PlatformErrc::untrusted, "is a regular file, owner root (uid 0), mode 0600, 2 links;"},
    };
    { std::ofstream(victim) << "precious"; }

    for (const Kind& kind : kKinds) {
        for (const Planting& p : plantings) {
            const std::string path = path_of(kind.kind, "planted");
            SCOPED_TRACE(path + ": " + p.what);
            Kept kept = p.plant(kind, path);
            const FileSnapshot before = FileSnapshot::of(path);
            ASSERT_TRUE(before.exists);
            const long took = elapsed_ms([&] {
                try {
                    kind.open("planted", kDefaultWaitLimitMs);
                    ADD_FAILURE() << "opened";
                } catch (const PlatformError& e) {
                    EXPECT_EQ(e.code(), p.refused_as) << e.what();
                    EXPECT_NE(std::string(e.what()).find(path + " " + p.says), std::string::npos)
                        << e.what();
                }
            });
            EXPECT_LT(took, kDefaultWaitLimitMs / 2);  // refused, not waited for
            EXPECT_TRUE(FileSnapshot::of(path) == before) << "the planted file was changed";
            ::unlink(path.c_str());
        }
    }
    EXPECT_EQ(slurp(victim), "precious");
}

TEST_F(PlantedObjectTest, ALockAnotherProcessKeepsEndsEveryWaitAtItsLimit) {
    constexpr long kLimit = 300;
    auto held = std::make_unique<NamedObject>(ObjectKind::shared_memory, "busy", 64,
                                              OpenMode::create_or_open, nullptr, kLimit);
    const std::string path = held->path();
    ChildProcess stuck({helper_path("object_child"), "gate", path});
    ASSERT_EQ(stuck.read_line(), "held");

    long took = elapsed_ms([&] {
        try {
            NamedObject(ObjectKind::shared_memory, "busy", 64, OpenMode::create_or_open, nullptr,
                        kLimit);
            ADD_FAILURE() << "opened past a held gate";
        } catch (const PlatformError& e) {
            EXPECT_EQ(e.code(), PlatformErrc::timed_out) << e.what();
            EXPECT_NE(std::string(e.what()).find(path + ": another process held its gate"),
                      std::string::npos)
                << e.what();
        }
    });
    EXPECT_LT(took, kLimit + 1000);

    // The last holder cannot take the gate to remove the file: it closes all the same.
    took = elapsed_ms([&] { held.reset(); });
    EXPECT_LT(took, kLimit + 1000);
    EXPECT_TRUE(std::filesystem::exists(path));

    // Removal never waits: not on our gate held, not on another user's file with a held gate.
    const std::string foreign = path_of(ObjectKind::mutex, "foreign");
    plant_as_nobody("printf squatter > \"$1\" && chmod 666 \"$1\"", foreign);
    ChildProcess squatter(as_nobody({helper_path("object_child"), "gate", foreign}));
    ASSERT_EQ(squatter.read_line(), "held");
    std::size_t removed = 99;
    took = elapsed_ms([&] { removed = remove_unheld_objects(ipc_scope()); });
    EXPECT_EQ(removed, 0u);
    EXPECT_LT(took, 1000);

    stuck.close_stdin();
    EXPECT_EQ(stuck.wait(), 0);
    EXPECT_EQ(remove_unheld_objects(ipc_scope()), 1u);  // ours, now unheld; never theirs
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(slurp(foreign), "squatter");
    ::unlink(foreign.c_str());
}

}  // namespace
