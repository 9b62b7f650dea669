// The service's start settings: command line, [Dienst] in a settings file, catalogue names.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "server/DienstEinstellungen.h"
#include "support/files.h"

namespace tervalo::server {
namespace {

TStartAngaben Lies(std::vector<std::string> args) {
    args.insert(args.begin(), "tervalo-server");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    return ReadStartAngaben(static_cast<int>(argv.size()), argv.data());
}

// The exit code and text of the start error; 0 when the start goes on.
std::pair<int, std::string> StartFehler(const std::vector<std::string>& args) {
    try {
        Lies(args);
    } catch (const EStartFehler& e) {
        return {e.Code(), e.what()};
    }
    return {0, ""};
}

TEST(DienstNamen, OnlyLettersDigitsDashUnderscoreAndNoPathOfTheService) {
    for (const char* gut : {"dgm1", "DGM-Hamburg_2024", "a", "Health2"}) EXPECT_EQ(NamensFehler(gut), "") << gut;
    for (const char* schlecht : {"", "a/b", "..", "a.b", "a b", "a%2F", "h\xC3\xB6he", "a\n"})
        EXPECT_NE(NamensFehler(schlecht), "") << schlecht;
    // A name would shadow a path of the service, in any case.
    for (const char* vergeben : {"datasets", "health", "metrics", "Health", "DATASETS"})
        EXPECT_NE(NamensFehler(vergeben).find("vergeben"), std::string::npos) << vergeben;
    EXPECT_NE(NamensFehler(std::string(65, 'a')), "");
    EXPECT_EQ(NamensFehler(std::string(64, 'a')), "");
}

TEST(DienstStart, DefaultsAndCommandLine) {
    const TStartAngaben s = Lies({"--katalog", "dgm=rel/dgm.KNF"});
    const TDienstEinstellungen& e = s.Einstellungen;
    EXPECT_FALSE(s.Beenden);
    ASSERT_EQ(e.Kataloge.size(), 1u);
    EXPECT_EQ(e.Kataloge[0].Name, "dgm");
    // Made absolute: a reload reads the same file wherever the process stands.
    EXPECT_EQ(e.Kataloge[0].Pfad, (std::filesystem::current_path() / "rel/dgm.KNF").lexically_normal().string());
    EXPECT_EQ(e.Adresse, "127.0.0.1");
    EXPECT_EQ(e.Port, 5000);
    EXPECT_EQ(e.SpeicherMiB, 512);
    EXPECT_EQ(e.MaxPunkte, 10000u);
    EXPECT_TRUE(e.Cors.empty());
    EXPECT_GE(e.Threads, 8);

    const TDienstEinstellungen f =
        Lies({"--katalog", "a=/x/a.KNF", "--katalog", "b=/x/b.KNF", "--adresse", "0.0.0.0", "--port", "8080",
              "--speicher", "64", "--max-punkte", "500", "--cors", " https://a.example , https://b.example",
              "--threads", "3"})
            .Einstellungen;
    ASSERT_EQ(f.Kataloge.size(), 2u);
    EXPECT_EQ(f.Kataloge[1].Pfad, "/x/b.KNF");
    EXPECT_EQ(f.Adresse, "0.0.0.0");
    EXPECT_EQ(f.Port, 8080);
    EXPECT_EQ(f.SpeicherMiB, 64);
    EXPECT_EQ(f.MaxPunkte, 500u);
    EXPECT_EQ(f.Cors, (std::vector<std::string>{"https://a.example", "https://b.example"}));
    EXPECT_EQ(f.Threads, 3);
}

TEST(DienstStart, UsageErrorsGiveCodeTwoWithAGermanText) {
    const std::vector<std::vector<std::string>> falsch = {
        {},  // no catalogue
        {"--katalog", "dgm"},
        {"--katalog", "a/b=/x.KNF"},
        {"--katalog", "health=/x.KNF"},
        {"--katalog", "dgm="},
        {"--katalog", "a=/x.KNF", "--port", "0"},
        {"--katalog", "a=/x.KNF", "--port", "65536"},
        {"--katalog", "a=/x.KNF", "--speicher", "zwei"},
        {"--katalog", "a=/x.KNF", "--max-punkte", "-1"},
        {"--katalog", "a=/x.KNF", "--gibtsnicht"},
    };
    for (const auto& args : falsch) {
        const auto [code, text] = StartFehler(args);
        EXPECT_EQ(code, 2) << (args.empty() ? "" : args.back()) << ": " << text;
        EXPECT_FALSE(text.empty());
    }
    EXPECT_NE(StartFehler({}).second.find("Kein Katalog"), std::string::npos);
}

TEST(DienstStart, HelpAndVersionOnlyAnswer) {
    const TStartAngaben h = Lies({"--help"});
    EXPECT_TRUE(h.Beenden);
    EXPECT_NE(h.Text.find("Aufruf"), std::string::npos);
    EXPECT_NE(h.Text.find("--katalog"), std::string::npos);
    const TStartAngaben v = Lies({"--version"});
    EXPECT_TRUE(v.Beenden);
    EXPECT_EQ(v.Text.rfind("tervalo-server ", 0), 0u);
}

TEST(DienstStart, SettingsFileWithCommandLineWinning) {
    test::TempDir dir;
    const std::string ini = dir / "dienst.ini";
    test::WriteAll(ini,
                   "# Hoehendienst\n[Kacheln]\nPort=1\n[dienst]\nport=6000\nAdresse=0.0.0.0\nSpeicher=256\n"
                   "MaxPunkte=20000\nCors=*\nThreads=12\nKatalog.dgm=kat/dgm.KNF\nKatalog.alt=/abs/alt.KNF\n");
    const TDienstEinstellungen e = Lies({"--einstellungen", ini}).Einstellungen;
    EXPECT_EQ(e.Port, 6000);  // only [Dienst] counts, in any case
    EXPECT_EQ(e.Adresse, "0.0.0.0");
    EXPECT_EQ(e.SpeicherMiB, 256);
    EXPECT_EQ(e.MaxPunkte, 20000u);
    EXPECT_EQ(e.Cors, std::vector<std::string>{"*"});
    EXPECT_EQ(e.Threads, 12);
    ASSERT_EQ(e.Kataloge.size(), 2u);
    // Relative to the settings file, not to the process.
    EXPECT_EQ(e.Kataloge[0].Pfad, (dir.Path() / "kat/dgm.KNF").string());
    EXPECT_EQ(e.Kataloge[1].Pfad, "/abs/alt.KNF");

    const TDienstEinstellungen f =
        Lies({"--einstellungen", ini, "--port", "7000", "--katalog", "dgm=/neu/dgm.KNF", "--cors", ""}).Einstellungen;
    EXPECT_EQ(f.Port, 7000);
    ASSERT_EQ(f.Kataloge.size(), 2u);
    EXPECT_EQ(f.Kataloge[0].Pfad, "/neu/dgm.KNF");
    EXPECT_TRUE(f.Cors.empty());  // an empty --cors switches it off again
}

TEST(DienstStart, SettingsFileErrorsNameFileAndLine) {
    test::TempDir dir;
    const std::string ini = dir / "dienst.ini";
    auto fehler = [&](const std::string& text) {
        test::WriteAll(ini, "[Dienst]\n" + text + "\n");
        return StartFehler({"--einstellungen", ini});
    };
    for (const char* zeile : {"Port=abc", "Katalog.a/b=/x.KNF", "Katalog.metrics=/x.KNF", "Prot=5000"}) {
        const auto [code, text] = fehler(zeile);
        EXPECT_EQ(code, 2) << zeile;
        EXPECT_NE(text.find(ini + ", Zeile 2"), std::string::npos) << text;
    }
    test::WriteAll(ini, "[Dienst]\nKatalog.a=/x.KNF\nKatalog.a=/y.KNF\n");
    EXPECT_NE(StartFehler({"--einstellungen", ini}).second.find("doppelt"), std::string::npos);
    // A settings file named on purpose must be there.
    EXPECT_EQ(StartFehler({"--einstellungen", dir / "fehlt.ini"}).first, 1);
}

}  // namespace
}  // namespace tervalo::server
