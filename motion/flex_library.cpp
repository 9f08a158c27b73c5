#include "motion/flex_library.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <vector>

#include "platform/exception.h"
#include "platform/file_status.h"

namespace vantrel {
namespace {

FlexLibrary& table() {
    static FlexLibrary library = built_in_flex_library();
    return library;
}

std::string real_path(const std::string& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) return {};
    return resolved;
}

// Why `path` (absolute, without links) could have been changed by someone other than root or
// this user; empty when it could not. A directory writable by others is acceptable when it is
// sticky: then they cannot replace what root or this user put in it.
std::string untrusted(const std::string& path, bool directory) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return path + " cannot be examined";
    if (st.st_uid != 0 && st.st_uid != ::geteuid())
        return path + " belongs to " + platform::user_text(st.st_uid);
    const bool shared_write = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    if (shared_write && !(directory && (st.st_mode & S_ISVTX) != 0))
        return path + " is writable by other users";
    return {};
}

// The same question for a file and every directory above it.
std::string untrusted_chain(const std::string& real_file) {
    if (std::string why = untrusted(real_file, false); !why.empty()) return why;
    std::string dir = real_file;
    while (dir.size() > 1) {
        dir.erase(dir.find_last_of('/'));
        if (dir.empty()) dir = "/";
        if (std::string why = untrusted(dir, true); !why.empty()) return why;
    }
    return {};
}

// The file `path` names, without links, once it is known that only root or this user could have
// changed it; `path` itself when it cannot be resolved (dlopen then says what is wrong with it).
// The file is loaded by this name, so a link swapped after the check cannot lead elsewhere.
std::string trusted_file(const std::string& path) {
    const std::string file = real_path(path);
    if (file.empty()) return path;
    // A link could lead a trusted-looking name elsewhere: the place of the name counts too.
    const std::string parent = path.substr(0, path.find_last_of('/') + 1);
    const std::string real_parent = real_path(parent.empty() ? "." : parent);
    std::string why = untrusted_chain(file);
    if (why.empty() && !real_parent.empty() && real_parent != "/")
        why = untrusted_chain(real_parent);
    if (!why.empty()) throw Exception("motion library " + path + " refused: " + why);
    return file;
}

template <class Function>
void bind(void* handle, const char* name, Function& slot, std::vector<std::string>& missing) {
    void* symbol = ::dlsym(handle, name);
    if (symbol == nullptr)
        missing.emplace_back(name);
    else
        slot = reinterpret_cast<Function>(symbol);
}

}  // namespace

FlexLibrary built_in_flex_library() {
    return FlexLibrary{
        .flex_set_stepper_loop_mode = &::flex_set_stepper_loop_mode,
        .flex_load_acceleration = &::flex_load_acceleration,
        .flex_load_target_pos = &::flex_load_target_pos,
        .flex_load_velocity = &::flex_load_velocity,
        .flex_reset_pos = &::flex_reset_pos,
        .flex_set_op_mode = &::flex_set_op_mode,
        .flex_check_move_complete_status = &::flex_check_move_complete_status,
        .flex_load_scurve_time = &::flex_load_scurve_time,
        .flex_start = &::flex_start,
        .flex_stop_motion = &::flex_stop_motion,
        .flex_find_reference = &::flex_find_reference,
        .flex_read_reference_status_rtn = &::flex_read_reference_status_rtn,
        .flex_begin_store = &::flex_begin_store,
        .flex_end_store = &::flex_end_store,
        .flex_load_var = &::flex_load_var,
        .flex_read_var_rtn = &::flex_read_var_rtn,
        .flex_flush_rdb = &::flex_flush_rdb,
        .flex_read_pos_rtn = &::flex_read_pos_rtn,
        .flex_get_error_description = &::flex_get_error_description,
    };
}

FlexLibrary load_flex_library(const std::string& path) {
    // A bare name is looked up where the system keeps its libraries.
    const std::string file = path.find('/') != std::string::npos ? trusted_file(path) : path;
    // Bound at once, and kept to itself: its names must not stand in for the program's own.
    void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* cause = ::dlerror();
        throw Exception("motion library " + path +
                        " cannot be loaded: " + (cause != nullptr ? cause : "unknown cause"));
    }
    FlexLibrary library{};
    std::vector<std::string> missing;
    bind(handle, "flex_set_stepper_loop_mode", library.flex_set_stepper_loop_mode, missing);
    bind(handle, "flex_load_acceleration", library.flex_load_acceleration, missing);
    bind(handle, "flex_load_target_pos", library.flex_load_target_pos, missing);
    bind(handle, "flex_load_velocity", library.flex_load_velocity, missing);
    bind(handle, "flex_reset_pos", library.flex_reset_pos, missing);
    bind(handle, "flex_set_op_mode", library.flex_set_op_mode, missing);
    bind(handle, "flex_check_move_complete_status", library.flex_check_move_complete_status,
         missing);
    bind(handle, "flex_load_scurve_time", library.flex_load_scurve_time, missing);
    bind(handle, "flex_start", library.flex_start, missing);
    bind(handle, "flex_stop_motion", library.flex_stop_motion, missing);
    bind(handle, "flex_find_reference", library.flex_find_reference, missing);
    bind(handle, "flex_read_reference_status_rtn", library.flex_read_reference_status_rtn, missing);
    bind(handle, "flex_begin_store", library.flex_begin_store, missing);
    bind(handle, "flex_end_store", library.flex_end_store, missing);
    bind(handle, "flex_load_var", library.flex_load_var, missing);
    bind(handle, "flex_read_var_rtn", library.flex_read_var_rtn, missing);
    bind(handle, "flex_flush_rdb", library.flex_flush_rdb, missing);
    bind(handle, "flex_read_pos_rtn", library.flex_read_pos_rtn, missing);
    bind(handle, "flex_get_error_description", library.flex_get_error_description, missing);
    if (!missing.empty()) {
        ::dlclose(handle);
        std::string names;
        for (const auto& name : missing) names += (names.empty() ? "" : ", ") + name;
        throw Exception("motion library " + path + " lacks " + names);
    }
    return library;  // the handle stays open for the rest of the process
}

void install_flex_library(const FlexLibrary& library) {
    table() = library;
}

const FlexLibrary& flex_library() {
    return table();
}

}  // namespace vantrel
