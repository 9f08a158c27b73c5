#pragma once
// Acting as another local user ("nobody") in tests that plant files or hold locks the way a hostile
// user would. Needs root (CI runs as root); callers skip otherwise.

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/files.h"

namespace vantrel::test {

inline bool can_act_as_other_user() {
    return ::geteuid() == 0;
}

// `argv` run as nobody:nogroup without supplementary groups.
inline std::vector<std::string> as_nobody(const std::vector<std::string>& argv) {
    std::vector<std::string> out = {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup",
                                    "--clear-groups"};
    out.insert(out.end(), argv.begin(), argv.end());
    return out;
}

// Runs `script` in /bin/sh as nobody, with `arg` as $1; its exit status.
inline int shell_as_nobody(const std::string& script, const std::string& arg) {
    ChildProcess child(as_nobody({"/bin/sh", "-c", script, "sh", arg}));
    return child.wait();
}

// What a file entry is, to tell whether anything changed it: type, owner, mode, size, inode and
// contents (of a regular file).
struct FileSnapshot {
    bool exists = false;
    struct stat st {};
    std::string bytes;

    static FileSnapshot of(const std::string& path) {
        FileSnapshot s;
        s.exists = ::lstat(path.c_str(), &s.st) == 0;
        if (s.exists && S_ISREG(s.st.st_mode)) s.bytes = slurp(path);
        return s;
    }
    bool operator==(const FileSnapshot& o) const {
        return exists == o.exists && st.st_ino == o.st.st_ino && st.st_mode == o.st.st_mode &&
               st.st_uid == o.st.st_uid && st.st_size == o.st.st_size && bytes == o.bytes;
    }
};

}  // namespace vantrel::test
