// tervalo-cli scan: JSON and text output, exit codes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>

#include <nlohmann/json.hpp>

#include "support/files.h"
#include "support/shell.h"

namespace fs = std::filesystem;

namespace {

struct CliRun {
    int rc;
    std::string out;
};

CliRun Cli(const std::string& args) {
    const tervalo::test::ShellResult r =
        tervalo::test::Shell(std::string(TERVALO_BIN_DIR) + "/tervalo-cli " + args + " 2>/dev/null",
                             tervalo::test::TStderr::Passed);
    return {r.code, r.out};
}

class ScanCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::ofstream(P("a.xyz"), std::ios::binary) << "X Y Z\r\n3566000.5 5936000 1\r\n3566010 5935999.25 2\r\n";
        std::ofstream(P("none.xyz"), std::ios::binary) << "1,5 2,5 3,5\r\n";
    }
    std::string P(const std::string& n) { return (dir_ / n).string(); }
    tervalo::test::TempDir tmp_;
    fs::path dir_ = tmp_.Path();
};

TEST_F(ScanCliTest, JsonListsEveryFile) {
    CliRun r = Cli("scan --json " + P("a.xyz") + " " + P("none.xyz"));
    ASSERT_EQ(r.rc, 0) << r.out;
    auto j = nlohmann::json::parse(r.out);
    ASSERT_EQ(j.size(), 2u);
    EXPECT_EQ(j[0]["datei"], P("a.xyz"));
    EXPECT_EQ(j[0]["dbase"], false);
    EXPECT_EQ(j[0]["xmin"].get<double>(), 3566000.5);
    EXPECT_EQ(j[0]["xmax"].get<double>(), 3566010.0);
    EXPECT_EQ(j[0]["ymin"].get<double>(), 5935999.25);
    EXPECT_EQ(j[0]["ymax"].get<double>(), 5936000.0);
    EXPECT_EQ(j[1]["xmin"].get<double>(), 999999999.0);
    EXPECT_EQ(j[1]["xmax"].get<double>(), -9999999.0);
    // Scripts may read the array positionally: keys in the documented order.
    EXPECT_EQ(r.out.rfind("[{\"datei\":", 0), 0u) << r.out;
    const auto order = {"\"datei\"", "\"dbase\"", "\"xmin\"", "\"xmax\"", "\"ymin\"", "\"ymax\""};
    std::size_t at = 0;
    for (const char* key : order) {
        const std::size_t next = r.out.find(key, at);
        ASSERT_NE(next, std::string::npos) << key;
        at = next;
    }
}

TEST_F(ScanCliTest, TextOutputAndErrors) {
    CliRun r = Cli("scan " + P("a.xyz"));
    ASSERT_EQ(r.rc, 0);
    EXPECT_NE(r.out.find("3566000"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("5935999"), std::string::npos) << r.out;
    // A missing file is reported and ends with exit code 1; the other files are still listed.
    r = Cli("scan --json " + P("missing.xyz") + " " + P("a.xyz"));
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(nlohmann::json::parse(r.out).size(), 1u);
    // Each message is the German file-error text and the path; EIO is no "access denied".
    const std::string drei = "scan " + P("missing.xyz") + " " + dir_.string() + " /proc/self/mem";
    EXPECT_EQ(Cli(drei).rc, 1);
    r = Cli(drei + " 2>&1 >/dev/null | cat");  // standard error alone, through the pipe
    EXPECT_EQ(r.out, "Datei nicht gefunden: " + P("missing.xyz") + "\nDateizugriff verweigert: " + dir_.string() +
                         "\nE/A-Fehler 5: /proc/self/mem\n");
}

TEST_F(ScanCliTest, TextRoundsHalvesAsTheFileListAndTheConfiguration) {
    // Binary halves: printf would round .125 and .625 to even (.12, .62); the file list shows
    // and the configuration stores .13 and .63, and so does scan.
    std::ofstream(P("halb.xyz"), std::ios::binary) << "3566000.125 5936000.625 1\r\n3566010.375 5935999.875 2\r\n";
    const tervalo::test::ShellResult r = tervalo::test::Shell(
        "LC_ALL=C " + std::string(TERVALO_BIN_DIR) + "/tervalo-cli scan " + P("halb.xyz") + " 2>/dev/null",
        tervalo::test::TStderr::Passed);
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_NE(r.out.find("  Xmin: 3566000.13   Xmax: 3566010.38\n  Ymin: 5935999.88   Ymax: 5936000.63\n"),
              std::string::npos)
        << r.out;
}

}  // namespace
