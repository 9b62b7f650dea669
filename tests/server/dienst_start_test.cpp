// The program's start and signals where its starter shapes them: a port already served, and
// signals a shell or nohup set to be ignored.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "config/Konf.h"
#include "query/query_test_util.h"
#include "support/shell.h"

namespace {

// A port nobody listens on now.
int FreierPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
    ::close(s);
    return ntohs(a.sin_port);
}

TEST(DienstProgramm, SecondInstanceOnTheSamePortFailsAndIgnoredSignalsStillWork) {
    qtest::TempDir dir;
    const std::string knf = dir.File("k.KNF");
    tervalo::KonfSave(knf, tervalo::TSettings{}, tervalo::TDateien{});
    const std::string srv = std::string(TERVALO_BIN_DIR) + "/tervalo-server --katalog k=" + knf +
                            " --port " + std::to_string(FreierPort());
    const std::string log = dir.File("log"), log2 = dir.File("log2");
    // The starter ignores SIGINT and SIGHUP, as a shell does for background jobs and nohup for
    // its command.
    const tervalo::test::ShellResult r = tervalo::test::Shell(
        "trap '' INT HUP; " + srv + " 2>" + log + " & p=$!; "
        "for i in $(seq 100); do grep -q lauscht " + log + " && break; sleep 0.1; done; " +
        srv + " 2>" + log2 + "; echo zweiter=$?; "
        "kill -HUP $p; for i in $(seq 50); do grep -q 'neu gelesen' " + log + " && break; sleep 0.1; done; "
        "kill -0 $p && echo lebt; kill -INT $p; "
        "for i in $(seq 100); do kill -0 $p 2>/dev/null || break; sleep 0.1; done; "
        "kill -0 $p 2>/dev/null && { echo haengt; kill -KILL $p; }; wait $p; echo ende=$?");
    EXPECT_NE(r.out.find("zweiter=1"), std::string::npos) << r.out;
    EXPECT_NE(tervalo::test::ReadAll(log2).find("kann nicht an 127.0.0.1 Port"), std::string::npos);
    EXPECT_NE(r.out.find("lebt"), std::string::npos) << r.out;
    EXPECT_NE(tervalo::test::ReadAll(log).find("Kataloge neu gelesen"), std::string::npos);
    EXPECT_NE(r.out.find("ende=0"), std::string::npos) << r.out << tervalo::test::ReadAll(log);
}

}  // namespace
