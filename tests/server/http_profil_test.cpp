// Profiles over real sockets against the command line: the service's body holds the object
// `tervalo-cli profil --json` prints for the same line, sample for sample and in its summary.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "server/http_kataloge.h"
#include "server/http_prozess.h"

using nlohmann::json;
using namespace tervalo::test;

namespace {

// Across the demo terrain's valley and out over its eastern edge (samples without data there).
const char* kEcken[][2] = {{"3566100", "5935100"}, {"3567900", "5936900"}, {"3566200", "5936800"},
                           {"3568300", "5936900"}};

json CliProfil(const std::string& optionen, const std::string& ecken) {
    const ShellResult r = Shell("LC_ALL=C '" TERVALO_BIN_DIR "/tervalo-cli' profil --json --konf " +
                                    Quote(Kataloge().Demo) + " " + optionen + " " + ecken,
                                TStderr::Apart);
    EXPECT_EQ(r.code, 0) << r.err;
    return json::parse(r.out, nullptr, false);
}

class HttpProfil : public TServerFixture<HttpProfil> {
protected:
    static void SetUpTestSuite() {
        Starte({"--katalog", "demo=" + Kataloge().Demo});
    }
    static json Get(const std::string& abfrage, int status = 200) {
        auto r = server_->Client().Get(("/v1/demo/profil?" + abfrage).c_str());
        if (!r) {
            ADD_FAILURE() << "no answer to " << abfrage;
            return {};
        }
        EXPECT_EQ(r->status, status) << abfrage << "\n" << r->body.substr(0, 400);
        return json::parse(r->body, nullptr, false);
    }

    // The service's answer is the command line's object with "dataset" and "status" added.
    static void ExpectWieCli(const json& dienst, const json& cli) {
        ASSERT_TRUE(cli.is_object()) << cli;
        ASSERT_EQ(dienst.value("status", ""), "OK") << dienst.dump().substr(0, 400);
        EXPECT_EQ(dienst["dataset"], "demo");
        json ohne = dienst;
        ohne.erase("dataset");
        ohne.erase("status");
        ASSERT_EQ(ohne["proben"].size(), cli["proben"].size());
        for (std::size_t i = 0; i < cli["proben"].size(); ++i) EXPECT_EQ(ohne["proben"][i], cli["proben"][i]) << i;
        EXPECT_EQ(ohne, cli);
    }
};

std::string Punkte() {
    std::string s;
    for (const auto& e : kEcken) s += (s.empty() ? "" : "|") + std::string(e[0]) + "," + e[1];
    return s;
}
std::string Argumente() {
    std::string s;
    for (const auto& e : kEcken) s += std::string(" ") + e[0] + " " + e[1];
    return s;
}

}  // namespace

TEST_F(HttpProfil, StepCountAndDefaultAsTheCommandLine) {
    const json schritt = Get("punkte=" + Punkte() + "&schritt=25");
    ExpectWieCli(schritt, CliProfil("--schritt 25", Argumente()));
    const json& z = schritt["zusammenfassung"];
    EXPECT_GT(z["ohne_daten"].get<int>(), 0) << z;
    EXPECT_LT(z["ohne_daten"].get<int>(), z["proben"].get<int>() / 2) << z;
    EXPECT_GT(z["anstieg"].get<double>(), 0) << z;
    EXPECT_GT(z["abstieg"].get<double>(), 0) << z;

    ExpectWieCli(Get("punkte=" + Punkte() + "&anzahl=57"), CliProfil("--anzahl 57", Argumente()));
    ExpectWieCli(Get("punkte=" + Punkte()), CliProfil("", Argumente()));
    // A POSTed JSON body answers alike.
    json liste = json::array();
    for (const auto& e : kEcken) liste.push_back({std::stod(e[0]), std::stod(e[1])});
    auto r = server_->Client().Post("/v1/demo/profil", json{{"punkte", liste}, {"schritt", 25}}.dump(),
                                    "application/json");
    ASSERT_TRUE(r);
    EXPECT_EQ(json::parse(r->body), schritt);
}

// Vertices in another system are converted as --ein converts them, then sampled.
TEST_F(HttpProfil, InputSystemAsTheCommandLine) {
    ExpectWieCli(Get("system=wgs84&punkte=53.545,10.005|53.552,10.015|53.556,10.0&schritt=40"),
                 CliProfil("--ein wgs84 --schritt 40", "53.545 10.005 53.552 10.015 53.556 10.0"));
    ExpectWieCli(Get("system=EPSG%3A25832&punkte=566000,5933500|567000,5934500&anzahl=30"),
                 CliProfil("--ein EPSG:25832 --anzahl 30", "566000 5933500 567000 5934500"));
}
