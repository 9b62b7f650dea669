#pragma once
// Runs the programs as an unprivileged user, for the promises that only hold for one (a
// write-protected file stays protected; an unreadable file is reported). As root the
// commands run under setpriv as "nobody", on copies of the programs in a world-readable
// temporary folder (the build folder may be closed to others); otherwise as the user.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/shell.h"

namespace tervalo::test {

struct NobodyResult {
    int code = -1;     // exit code, or 128 + signal
    std::string out;   // standard output and standard error
};

class NobodyRun {
public:
    static constexpr unsigned kUid = 65534, kGid = 65534;

    NobodyRun() {
        char tmpl[] = "/tmp/tervalo-nobody-XXXXXX";
        if (!mkdtemp(tmpl)) return;
        dir_ = tmpl;
        ::chmod(dir_.c_str(), 0755);
        bin_ = dir_ + "/bin";
        std::filesystem::create_directory(bin_);
        ::chmod(bin_.c_str(), 0755);
        work_ = dir_ + "/work";
        std::filesystem::create_directory(work_);
        ::chmod(work_.c_str(), 0777);
        GiveAway(work_);
        for (const char* prog : {"tervalo-cli", "tervalo-demo"}) {
            std::error_code ec;
            const std::string from = std::string(TERVALO_BIN_DIR) + "/" + prog;
            if (!std::filesystem::exists(from)) continue;
            std::filesystem::copy_file(from, bin_ + "/" + prog, ec);
            ::chmod((bin_ + "/" + prog).c_str(), 0755);
        }
    }
    ~NobodyRun() {
        std::error_code ec;
        if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
    }
    NobodyRun(const NobodyRun&) = delete;
    NobodyRun& operator=(const NobodyRun&) = delete;

    static bool Root() { return ::geteuid() == 0; }
    // Folder with the program copies (tervalo-cli, tervalo-demo).
    const std::string& Bin() const { return bin_; }
    // A folder the unprivileged user owns, for its files.
    const std::string& Work() const { return work_; }
    // Hands a file or folder to the unprivileged user (as root; otherwise it is the user's).
    static void GiveAway(const std::string& path) {
        if (Root() && ::chown(path.c_str(), kUid, kGid) != 0) std::perror(path.c_str());
    }

    // Runs a shell command line as the unprivileged user.
    NobodyResult Run(const std::string& cmd) const {
        std::string line = cmd;
        if (Root())
            line = "setpriv --reuid=" + std::to_string(kUid) + " --regid=" + std::to_string(kGid) +
                   " --clear-groups -- /bin/sh -c " + Quote(cmd);
        const ShellResult s = Shell("cd " + work_ + " && " + line);
        return {s.code, s.out};
    }

private:
    std::string dir_, bin_, work_;
};

}  // namespace tervalo::test
