#pragma once
// Runs a shell command line and collects what it prints.
#include <locale.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/files.h"

namespace tervalo::test {

struct ShellResult {
    int code = -1;    // exit code, or 128 + the signal that ended it
    std::string out;  // standard output (with standard error when merged)
    std::string err;  // standard error when kept apart
};

enum class TStderr { Merged, Apart, Passed };

inline ShellResult Shell(const std::string& cmd, TStderr stderrMode = TStderr::Merged) {
    ShellResult r;
    std::string line = cmd;
    std::string errFile;
    if (stderrMode == TStderr::Merged) {
        line += " 2>&1";
    } else if (stderrMode == TStderr::Apart) {
        char tmpl[] = "/tmp/tervalo-stderr-XXXXXX";
        const int fd = ::mkstemp(tmpl);
        if (fd < 0) return r;
        ::close(fd);
        errFile = tmpl;
        line = "{ " + cmd + "\n} 2>'" + errFile + "'";
    }
    FILE* p = ::popen(line.c_str(), "r");
    if (p) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
        const int st = ::pclose(p);
        r.code = WIFEXITED(st) ? WEXITSTATUS(st) : (WIFSIGNALED(st) ? 128 + WTERMSIG(st) : -1);
    }
    if (!errFile.empty()) {
        r.err = ReadAll(errFile);
        std::remove(errFile.c_str());
    }
    return r;
}

// The locales a command-line test runs under, C and German; empty when German is not installed.
inline std::vector<std::string> TestLocales() {
    locale_t de = ::newlocale(LC_ALL_MASK, "de_DE.UTF-8", nullptr);
    if (de == nullptr) return {};
    ::freelocale(de);
    return {"C", "de_DE.UTF-8"};
}
#define TERVALO_FOR_EACH_LOCALE(lc)                                                                   \
    const std::vector<std::string> locales_ = ::tervalo::test::TestLocales();                         \
    if (locales_.empty()) GTEST_SKIP() << "de_DE.UTF-8 is not installed (scripts/deps.sh generates it)"; \
    for (const std::string& lc : locales_)

inline std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

}  // namespace tervalo::test
