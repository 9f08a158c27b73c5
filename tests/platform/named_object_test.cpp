// Named shared memory across real processes: create-or-open, lifetime, names and scopes.
#include "platform/named_object.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <set>

#include "platform/error.h"
#include "tests/support/child_process.h"
#include "tests/support/ipc_test.h"

using namespace vantrel::platform;
using vantrel::test::ChildProcess;
using vantrel::test::helper_path;

namespace {

class NamedObjectTest : public vantrel::test::IpcTest {
  protected:
    ChildProcess child(const std::vector<std::string>& args) {
        std::vector<std::string> argv{helper_path("object_child")};
        argv.insert(argv.end(), args.begin(), args.end());
        return ChildProcess(argv);
    }
};

TEST_F(NamedObjectTest, FirstOpenerCreatesZeroedLaterOpenersKeepCreatedSize) {
    auto first = child({"shm", "iface_properties", "100", "7"});
    EXPECT_EQ(first.read_line(), "created=1 size=100 first=0");
    // A later opener asking for another size maps the object as created, and sees its contents.
    auto second = child({"shm", "iface_properties", "5000", "9"});
    EXPECT_EQ(second.read_line(), "created=0 size=100 first=7");

    NamedObject here(ObjectKind::shared_memory, "iface_properties", 1, OpenMode::create_or_open);
    EXPECT_FALSE(here.created());
    EXPECT_EQ(here.size(), 100u);
    EXPECT_EQ(static_cast<unsigned char*>(here.data())[99], 9);
}

TEST_F(NamedObjectTest, ObjectOfAKilledProcessIsRecreatedZeroed) {
    {
        auto holder = child({"shm", "left_behind", "64", "255"});
        ASSERT_EQ(holder.read_line(), "created=1 size=64 first=0");
        holder.kill9();  // dies holding the object: nothing closes it
    }
    auto next = child({"shm", "left_behind", "32", "1"});
    EXPECT_EQ(next.read_line(), "created=1 size=32 first=0");
}

TEST_F(NamedObjectTest, LastHolderRemovesTheFileAndOpenExistingFailsAfterwards) {
    std::string path;
    {
        NamedObject a(ObjectKind::shared_memory, "short_lived", 16, OpenMode::create_or_open);
        NamedObject b(ObjectKind::shared_memory, "short_lived", 16, OpenMode::open_existing);
        EXPECT_TRUE(a.created());
        EXPECT_FALSE(b.created());
        path = a.path();
        EXPECT_TRUE(std::filesystem::exists(path));
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);  // the owning user only
    }
    EXPECT_FALSE(std::filesystem::exists(path));
    try {
        NamedObject gone(ObjectKind::shared_memory, "short_lived", 16, OpenMode::open_existing);
        FAIL() << "opened an object nobody holds";
    } catch (const PlatformError& e) {
        EXPECT_EQ(e.code(), PlatformErrc::not_found);
    }
}

TEST_F(NamedObjectTest, AnyTextIsANameOfItsOwnInsideTheObjectDirectory) {
    const std::string long_a(3000, 'a');
    std::string long_b = long_a;
    long_b.back() = 'b';
    const std::vector<std::string> names{"Vantrel",
                                         "Vantrel ",
                                         "vantrel",
                                         "a/b",
                                         "a%2Fb",
                                         "../../etc/passwd",
                                         "\"quoted\"",
                                         "sp ace",
                                         "",
                                         ".",
                                         "..",
                                         "na\xc3\xafve",
                                         std::string("nul\0x", 5),
                                         long_a,
                                         long_b,
                                         "a.shm.b",
                                         "~digest-lookalike"};
    std::vector<std::unique_ptr<NamedObject>> objects;
    std::set<std::string> paths;
    for (std::size_t i = 0; i < names.size(); ++i) {
        objects.push_back(std::make_unique<NamedObject>(ObjectKind::shared_memory, names[i], 8,
                                                        OpenMode::create_or_open));
        EXPECT_TRUE(objects.back()->created()) << "name " << i << " met an existing object";
        static_cast<unsigned char*>(objects.back()->data())[0] = static_cast<unsigned char>(i + 1);
        const auto& p = objects.back()->path();
        EXPECT_EQ(std::filesystem::path(p).parent_path(), std::filesystem::path("/dev/shm")) << p;
        EXPECT_LT(std::filesystem::path(p).filename().string().size(), 256u);
        paths.insert(p);
    }
    EXPECT_EQ(paths.size(), names.size());
    // Reopening each name finds its own object again.
    for (std::size_t i = 0; i < names.size(); ++i) {
        NamedObject again(ObjectKind::shared_memory, names[i], 8, OpenMode::open_existing);
        EXPECT_EQ(static_cast<unsigned char*>(again.data())[0], i + 1) << "name " << i;
    }
}

TEST_F(NamedObjectTest, KindsDoNotShareNames) {
    NamedObject shm(ObjectKind::shared_memory, "same", 8, OpenMode::create_or_open);
    NamedObject sem(ObjectKind::semaphore, "same", 8, OpenMode::create_or_open);
    EXPECT_TRUE(sem.created());
    EXPECT_NE(shm.path(), sem.path());
}

TEST_F(NamedObjectTest, TwoScopesDoNotSeeEachOther) {
    auto mine = child({"shm", "shared_name", "8", "3"});
    ASSERT_EQ(mine.read_line(), "created=1 size=8 first=0");
    {
        vantrel::test::ScopedIpcScope other;
        auto theirs = child({"shm", "shared_name", "8", "4"});
        EXPECT_EQ(theirs.read_line(), "created=1 size=8 first=0");
    }
    auto again = child({"shm", "shared_name", "8", "5"});
    EXPECT_EQ(again.read_line(), "created=0 size=8 first=3");
}

TEST_F(NamedObjectTest, OverlongScopeIsRefused) {
    vantrel::test::ScopedIpcScope keep;
    ::setenv("VANTREL_IPC_SCOPE", std::string(65, 's').c_str(), 1);
    EXPECT_THROW(NamedObject(ObjectKind::shared_memory, "x", 8, OpenMode::create_or_open),
                 PlatformError);
}

TEST(ObjectName, EncodingIsInjectiveAndKeepsPlainNamesReadable) {
    EXPECT_EQ(object_file_name("default", ObjectKind::shared_memory, "Vantrel_properties"),
              "vantrel.default.shm.Vantrel_properties");
    EXPECT_EQ(object_file_name("default", ObjectKind::mutex, "a/b c"),
              "vantrel.default.mtx.a%2Fb%20c");
    EXPECT_NE(object_file_name("s", ObjectKind::mutex, "a/b"),
              object_file_name("s", ObjectKind::mutex, "a%2Fb"));
    EXPECT_NE(object_file_name("a.b", ObjectKind::mutex, "c"),
              object_file_name("a", ObjectKind::mutex, "b.c"));
}

}  // namespace
