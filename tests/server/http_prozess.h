#pragma once
// The service as its users meet it: tervalo-server started as a process on a free loopback port,
// talked to over real sockets (cpp-httplib's client, raw bytes, curl), stopped by a signal.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <httplib.h>

#include "support/files.h"
#include "support/shell.h"

namespace tervalo::test {

// A socket bound to a loopback port nobody listens on now, and that port.
inline std::pair<int, int> FreierSocket() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n) != 0)
        throw std::runtime_error("no free port");
    return {s, ntohs(a.sin_port)};
}

// A port nobody listens on now. The kernel hands out ephemeral ports in turn, so the next
// process to bind it is, in practice, the server started right after.
inline int FreierPort() {
    const auto [s, port] = FreierSocket();
    ::close(s);
    return port;
}

// A child process of the test: whether it has ended, and with what.
class TKindProzess {
public:
    pid_t Pid() const { return pid_; }
    void Signal(int sig) { ::kill(pid_, sig); }
    // Whether the process has ended (its code then kept).
    bool Beendet() {
        if (code_ >= 0) return true;
        int st = 0;
        if (::waitpid(pid_, &st, WNOHANG) != pid_) return false;
        code_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        return true;
    }
    // Exit code (128 + signal when one ended it) once it has ended, -1 after the timeout.
    int Warte(std::chrono::seconds timeout = std::chrono::seconds(30)) {
        const auto ende = std::chrono::steady_clock::now() + timeout;
        while (!Beendet()) {
            if (std::chrono::steady_clock::now() >= ende) return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return code_;
    }

protected:
    pid_t pid_ = -1;
    int code_ = -1;
};

class TServerProzess : public TKindProzess {
public:
    // tervalo-server ARGS --port P, its standard error into a file, started in `ordner` when given.
    explicit TServerProzess(std::vector<std::string> args, const std::string& ordner = {}) {
        port_ = FreierPort();
        log_ = tmp_ / "stderr.txt";
        args.insert(args.begin(), TERVALO_BIN_DIR "/tervalo-server");
        args.push_back("--port");
        args.push_back(std::to_string(port_));
        pid_ = ::fork();
        if (pid_ < 0) throw std::runtime_error("fork failed");
        if (pid_ == 0) {
            const int fd = ::open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0) ::dup2(fd, 2);
            const int null = ::open("/dev/null", O_RDONLY);
            if (null >= 0) ::dup2(null, 0);
            if (!ordner.empty() && ::chdir(ordner.c_str()) != 0) ::_exit(126);
            std::vector<char*> argv;
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
    }
    ~TServerProzess() {
        if (pid_ > 0 && code_ < 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    TServerProzess(const TServerProzess&) = delete;
    TServerProzess& operator=(const TServerProzess&) = delete;

    int Port() const { return port_; }
    std::string Log() const { return ReadAll(log_); }

    // Waits until /health answers at all (200 or 503); false when the process ended or it took
    // longer than the timeout.
    bool Bereit(std::chrono::seconds timeout = std::chrono::seconds(30)) {
        const auto ende = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < ende) {
            if (Beendet()) return false;
            httplib::Client c = Client();
            c.set_connection_timeout(1);
            if (auto r = c.Get("/health")) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    httplib::Client Client() const {
        httplib::Client c("127.0.0.1", port_);
        c.set_read_timeout(30);
        return c;
    }

    int Stoppe(int sig = SIGTERM) {
        Signal(sig);
        return Warte();
    }

private:
    TempDir tmp_;
    std::string log_;
    int port_ = 0;
};

// A fixture's one server for all its tests (`Fixture` the fixture itself, so each has its own):
// started by the fixture's SetUpTestSuite through Starte, stopped after its last test, which
// it must survive to end with 0.
template <class Fixture>
class TServerFixture : public ::testing::Test {
protected:
    static void Starte(std::vector<std::string> args) {
        server_ = new TServerProzess(std::move(args));
        ASSERT_TRUE(server_->Bereit()) << server_->Log();
    }
    static void TearDownTestSuite() {
        if (server_) {
            EXPECT_EQ(server_->Stoppe(), 0) << server_->Log();
        }
        delete server_;
        server_ = nullptr;
    }
    static inline TServerProzess* server_ = nullptr;
};

// Sends `bytes` as they are and reads until the server closes or `timeout` passes without data.
inline std::string RoheAnfrage(int port, const std::string& bytes, std::chrono::milliseconds timeout =
                                                                        std::chrono::milliseconds(5000)) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s < 0 || ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        if (s >= 0) ::close(s);
        return "";
    }
    for (std::size_t i = 0; i < bytes.size();) {
        const ssize_t n = ::send(s, bytes.data() + i, bytes.size() - i, MSG_NOSIGNAL);
        if (n <= 0) break;
        i += static_cast<std::size_t>(n);
    }
    std::string antwort;
    pollfd p{s, POLLIN, 0};
    char buf[4096];
    while (::poll(&p, 1, static_cast<int>(timeout.count())) > 0) {
        const ssize_t n = ::recv(s, buf, sizeof buf, 0);
        if (n <= 0) break;
        antwort.append(buf, static_cast<std::size_t>(n));
    }
    ::close(s);
    return antwort;
}

// curl, the peer every user has: its body, then the status on a line of its own.
struct TCurl {
    int Code = -1;    // curl's exit code
    int Status = 0;   // HTTP status
    std::string Koerper;
};
inline TCurl Curl(const std::string& args) {
    const ShellResult r = Shell("curl -sS -w '\\n%{http_code}' " + args, TStderr::Apart);
    TCurl c;
    c.Code = r.code;
    const std::size_t nl = r.out.rfind('\n');
    if (nl == std::string::npos) return c;
    c.Koerper = r.out.substr(0, nl);
    c.Status = std::atoi(r.out.c_str() + nl + 1);
    return c;
}

}  // namespace tervalo::test
