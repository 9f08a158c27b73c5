// The board library table: Pci7344 calls every function through it, a shared library is bound
// by name, and a library that cannot be used is refused with its path and the cause.
#include "motion/flex_library.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <functional>

#include "motion/pci7344.h"
#include "platform/exception.h"
#include "tests/support/files.h"
#include "tests/support/ipc_test.h"

using namespace vantrel;
namespace fs = std::filesystem;

namespace {

// Every function of the fake library fails with a status of its own: -100 - its number.
template <int N, class F>
struct Fails;
template <int N, class... Args>
struct Fails<N, std::int32_t (*)(Args...)> {
    static std::int32_t call(Args...) { return -100 - N; }
};

std::int32_t describe(std::uint16_t, std::int32_t status, std::uint16_t, std::uint16_t,
                      char* buffer, std::uint32_t* size) {
    std::snprintf(buffer, *size, "fake %d", static_cast<int>(status));
    return FLEX_SUCCESS;
}

FlexLibrary fake_library() {
    FlexLibrary f{};
    f.flex_set_stepper_loop_mode = Fails<1, decltype(f.flex_set_stepper_loop_mode)>::call;
    f.flex_load_acceleration = Fails<2, decltype(f.flex_load_acceleration)>::call;
    f.flex_load_target_pos = Fails<3, decltype(f.flex_load_target_pos)>::call;
    f.flex_load_velocity = Fails<4, decltype(f.flex_load_velocity)>::call;
    f.flex_reset_pos = Fails<5, decltype(f.flex_reset_pos)>::call;
    f.flex_set_op_mode = Fails<6, decltype(f.flex_set_op_mode)>::call;
    f.flex_check_move_complete_status = Fails<7, decltype(f.flex_check_move_complete_status)>::call;
    f.flex_load_scurve_time = Fails<8, decltype(f.flex_load_scurve_time)>::call;
    f.flex_start = Fails<9, decltype(f.flex_start)>::call;
    f.flex_stop_motion = Fails<10, decltype(f.flex_stop_motion)>::call;
    f.flex_find_reference = Fails<11, decltype(f.flex_find_reference)>::call;
    f.flex_read_reference_status_rtn = Fails<12, decltype(f.flex_read_reference_status_rtn)>::call;
    f.flex_begin_store = Fails<13, decltype(f.flex_begin_store)>::call;
    f.flex_end_store = Fails<14, decltype(f.flex_end_store)>::call;
    f.flex_load_var = Fails<15, decltype(f.flex_load_var)>::call;
    f.flex_read_var_rtn = Fails<16, decltype(f.flex_read_var_rtn)>::call;
    f.flex_flush_rdb = Fails<17, decltype(f.flex_flush_rdb)>::call;
    f.flex_read_pos_rtn = Fails<18, decltype(f.flex_read_pos_rtn)>::call;
    f.flex_get_error_description = describe;
    return f;
}

class FlexLibraryTest : public test::IpcTest {
  protected:
    void TearDown() override { install_flex_library(built_in_flex_library()); }
};

TEST_F(FlexLibraryTest, EveryOperationCallsItsFunctionThroughTheInstalledTable) {
    install_flex_library(fake_library());
    Pci7344 pci(3);
    std::uint16_t flag = 0;
    std::int32_t value = 0;
    const std::pair<int, std::function<void()>> operations[] = {
        {1, [&] { pci.set_stepper_loop_mode(4, 1); }},
        {2, [&] { pci.load_acceleration(4, 0, 1000, 0xFF); }},
        {3, [&] { pci.load_target_pos(4, 100, 0xFF); }},
        {4, [&] { pci.load_velocity(4, 100, 0xFF); }},
        {5, [&] { pci.reset_pos(4, 0, 0, 0xFF); }},
        {6, [&] { pci.set_op_mode(4, 0); }},
        {7, [&] { pci.check_move_complete_status(4, 0, flag); }},
        {8, [&] { pci.load_scurve_time(4, 10, 0xFF); }},
        {9, [&] { pci.start(4, 0); }},
        {10, [&] { pci.stop_motion(4, 1, 0); }},
        {11, [&] { pci.find_reference(4, 0, 1); }},
        {12, [&] { pci.read_reference_rtn(4, 0, 5, flag); }},
        {13, [&] { pci.begin_store(1); }},
        {14,
         [&] {
             pci.lock();  // as begin_store leaves it
             pci.end_store(1);
         }},
        {15, [&] { pci.load_var(1, 117); }},
        {16, [&] { pci.read_var_rtn(117, value); }},
        {17, [&] { pci.flush_rdb(); }},
        {18, [&] { pci.read_pos_rtn(4, value); }},
    };
    for (const auto& [number, call] : operations) {
        const int status = -100 - number;
        try {
            call();
            ADD_FAILURE() << "function " << number << " did not fail";
        } catch (const Pci7344_Exception& e) {
            EXPECT_EQ(e.status(), status) << number;
            EXPECT_TRUE(e.message().ends_with(" -- fake " + std::to_string(status))) << e.message();
        }
    }
}

TEST_F(FlexLibraryTest, SharedSimulatorIsBoundFunctionByFunction) {
    const FlexLibrary lib = load_flex_library(VANTREL_FLEXSIM_LIBRARY);
    const std::pair<const char*, void*> functions[] = {
        {"flex_set_stepper_loop_mode", reinterpret_cast<void*>(lib.flex_set_stepper_loop_mode)},
        {"flex_load_acceleration", reinterpret_cast<void*>(lib.flex_load_acceleration)},
        {"flex_load_target_pos", reinterpret_cast<void*>(lib.flex_load_target_pos)},
        {"flex_load_velocity", reinterpret_cast<void*>(lib.flex_load_velocity)},
        {"flex_reset_pos", reinterpret_cast<void*>(lib.flex_reset_pos)},
        {"flex_set_op_mode", reinterpret_cast<void*>(lib.flex_set_op_mode)},
        {"flex_check_move_complete_status",
         reinterpret_cast<void*>(lib.flex_check_move_complete_status)},
        {"flex_load_scurve_time", reinterpret_cast<void*>(lib.flex_load_scurve_time)},
        {"flex_start", reinterpret_cast<void*>(lib.flex_start)},
        {"flex_stop_motion", reinterpret_cast<void*>(lib.flex_stop_motion)},
        {"flex_find_reference", reinterpret_cast<void*>(lib.flex_find_reference)},
        {"flex_read_reference_status_rtn",
         reinterpret_cast<void*>(lib.flex_read_reference_status_rtn)},
        {"flex_begin_store", reinterpret_cast<void*>(lib.flex_begin_store)},
        {"flex_end_store", reinterpret_cast<void*>(lib.flex_end_store)},
        {"flex_load_var", reinterpret_cast<void*>(lib.flex_load_var)},
        {"flex_read_var_rtn", reinterpret_cast<void*>(lib.flex_read_var_rtn)},
        {"flex_flush_rdb", reinterpret_cast<void*>(lib.flex_flush_rdb)},
        {"flex_read_pos_rtn", reinterpret_cast<void*>(lib.flex_read_pos_rtn)},
        {"flex_get_error_description", reinterpret_cast<void*>(lib.flex_get_error_description)},
    };
    const fs::path library = fs::canonical(VANTREL_FLEXSIM_LIBRARY);
    for (const auto& [name, address] : functions) {
        Dl_info info{};
        ASSERT_NE(::dladdr(address, &info), 0) << name;
        EXPECT_STREQ(info.dli_sname, name);
        EXPECT_EQ(fs::canonical(info.dli_fname), library) << name;  // not the built-in one
    }
    // Its boards are the simulated ones of this scope: nobody holds board 9.
    std::int32_t value = 0;
    EXPECT_EQ(lib.flex_read_var_rtn(9, 1, &value), FLEX_BOARD_NOT_PRESENT);
}

TEST_F(FlexLibraryTest, UnusableLibrariesAreRefusedWithPathAndCause) {
    test::TempDir temp;
    const std::string open_dir = temp.path() + "/open";
    fs::create_directory(open_dir);
    fs::copy_file(VANTREL_FLEXSIM_LIBRARY, open_dir + "/lib.so");
    ::chmod(open_dir.c_str(), 0777);
    const std::string writable = temp.path() + "/writable.so";
    fs::copy_file(VANTREL_FLEXSIM_LIBRARY, writable);
    ::chmod(writable.c_str(), 0664);
    const std::string missing = temp.path() + "/missing.so";
    const std::string partial = VANTREL_PARTIAL_LIBRARY;
    const std::pair<std::string, std::string> cases[] = {
        {partial, "motion library " + partial + " lacks flex_flush_rdb"},
        {missing, "motion library " + missing + " cannot be loaded: " + missing +
                      ": cannot open shared object file: No such file or directory"},
        {open_dir + "/lib.so", "motion library " + open_dir + "/lib.so refused: " + open_dir +
                                   " is writable by other users"},
        {writable,
         "motion library " + writable + " refused: " + writable + " is writable by other users"},
    };
    for (const auto& [path, message] : cases) {
        try {
            load_flex_library(path);
            ADD_FAILURE() << path << " was loaded";
        } catch (const Exception& e) {
            EXPECT_EQ(e.message(), message);
        }
    }
}

}  // namespace
