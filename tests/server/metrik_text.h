#pragma once
// A strict reader of Prometheus' text format (0.0.4) for the tests: every line a HELP, a TYPE or
// a sample of the format's grammar (names, labels, escapes, value); a family's TYPE once and
// before its samples; no series twice; a line feed at the end. Each breach fails the test.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace tervalo::test {

struct TProbe {
    std::string Name;
    std::map<std::string, std::string> Labels;
    double Wert = 0;
};

struct TMetrikText {
    std::map<std::string, std::string> Typ, Hilfe;  // by family
    std::vector<TProbe> Proben;

    // That sample's value; 0 when there is none (a counter not counted yet is not written).
    double Wert(const std::string& name, const std::map<std::string, std::string>& labels = {}) const {
        for (const TProbe& p : Proben)
            if (p.Name == name && p.Labels == labels) return p.Wert;
        return 0;
    }
    bool Hat(const std::string& name, const std::map<std::string, std::string>& labels = {}) const {
        for (const TProbe& p : Proben)
            if (p.Name == name && p.Labels == labels) return true;
        return false;
    }
    double Summe(const std::string& name) const {
        double s = 0;
        for (const TProbe& p : Proben) s += p.Name == name ? p.Wert : 0;
        return s;
    }
};

inline bool MetrikZahl(const std::string& s, double& v) {
    static const std::regex zahl(R"([-+]?(\d+\.?\d*|\.\d+)([eE][-+]?\d+)?)");
    if (s == "+Inf" || s == "-Inf" || s == "NaN") return v = s == "NaN" ? NAN : s[0] == '-' ? -HUGE_VAL : HUGE_VAL, true;
    if (!std::regex_match(s, zahl)) return false;
    v = std::stod(s);
    return true;
}

inline TMetrikText LiesMetriken(const std::string& text) {
    static const std::regex kopf(R"(# (HELP|TYPE) ([a-zA-Z_:][a-zA-Z0-9_:]*) (.*))");
    static const std::regex probe(R"(([a-zA-Z_:][a-zA-Z0-9_:]*)(?:\{(.*)\})? (\S+)(?: -?\d+)?)");
    static const std::regex label(R"(([a-zA-Z_][a-zA-Z0-9_]*)="((?:[^"\\]|\\[\\"n])*)\"(?:,|$))");
    static const std::set<std::string> typen = {"counter", "gauge", "histogram", "summary", "untyped"};
    TMetrikText m;
    EXPECT_TRUE(!text.empty() && text.back() == '\n') << "no line feed at the end";
    std::set<std::string> reihen, mitProben;
    std::size_t nr = 0;
    for (std::size_t pos = 0, nl; pos < text.size(); pos = nl + 1) {
        nl = std::min(text.find('\n', pos), text.size());
        const std::string zeile = text.substr(pos, nl - pos), wo = "line " + std::to_string(++nr) + ": " + zeile;
        std::smatch t;
        if (zeile.empty() || (zeile[0] == '#' && !std::regex_match(zeile, t, kopf))) continue;  // plain comment
        if (zeile[0] == '#') {
            if (t[1] == "TYPE") {
                EXPECT_TRUE(typen.count(t[3])) << wo;
                EXPECT_TRUE(m.Typ.emplace(t[2], t[3]).second) << "TYPE twice: " << wo;
                EXPECT_FALSE(mitProben.count(t[2])) << "TYPE after samples: " << wo;
            } else {
                EXPECT_TRUE(m.Hilfe.emplace(t[2], t[3]).second) << "HELP twice: " << wo;
            }
            continue;
        }
        TProbe p;
        if (!std::regex_match(zeile, t, probe) || !MetrikZahl(t[3], p.Wert)) {
            ADD_FAILURE() << "no sample: " << wo;
            continue;
        }
        p.Name = t[1];
        std::string rest = t[2];
        for (std::smatch l; !rest.empty();) {
            if (!std::regex_search(rest, l, label) || l.position(0) != 0) {
                ADD_FAILURE() << "bad labels: " << wo;
                break;
            }
            const std::string roh = l[2];
            std::string wert;
            for (std::size_t i = 0; i < roh.size(); ++i) wert += roh[i] != '\\' ? roh[i] : (++i, roh[i] == 'n' ? '\n' : roh[i]);
            EXPECT_TRUE(p.Labels.emplace(l[1], wert).second) << "label twice: " << wo;
            rest = l.suffix();
        }
        // A histogram's _bucket, _sum and _count belong to its family.
        std::string familie = p.Name;
        for (const std::string suffix : {"_bucket", "_sum", "_count"})
            if (p.Name.size() > suffix.size() && p.Name.compare(p.Name.size() - suffix.size(), suffix.size(), suffix) == 0 &&
                m.Typ.count(p.Name.substr(0, p.Name.size() - suffix.size())) &&
                m.Typ[p.Name.substr(0, p.Name.size() - suffix.size())] == "histogram")
                familie = p.Name.substr(0, p.Name.size() - suffix.size());
        EXPECT_TRUE(m.Typ.count(familie)) << "sample without TYPE: " << wo;
        mitProben.insert(familie);
        std::string reihe = p.Name;
        for (const auto& [n, w] : p.Labels) reihe += "|" + n + "=" + w;
        EXPECT_TRUE(reihen.insert(reihe).second) << "series twice: " << wo;
        m.Proben.push_back(std::move(p));
    }
    return m;
}

// Buckets ordered by bound and cumulative (never falling); the last +Inf, equal to _count.
inline void PruefeHistogramm(const TMetrikText& m, const std::string& name) {
    std::vector<std::pair<double, double>> eimer;  // (le, count)
    for (const TProbe& p : m.Proben) {
        double le = 0;
        if (p.Name != name + "_bucket") continue;
        EXPECT_TRUE(p.Labels.count("le") && MetrikZahl(p.Labels.at("le"), le)) << name;
        eimer.emplace_back(le, p.Wert);
    }
    ASSERT_FALSE(eimer.empty()) << name;
    for (std::size_t i = 1; i < eimer.size(); ++i) {
        EXPECT_LT(eimer[i - 1].first, eimer[i].first) << name << " bucket " << i;
        EXPECT_LE(eimer[i - 1].second, eimer[i].second) << name << " bucket " << i;
    }
    EXPECT_TRUE(std::isinf(eimer.back().first)) << name;
    EXPECT_EQ(eimer.back().second, m.Wert(name + "_count")) << name;
    EXPECT_TRUE(m.Hat(name + "_sum")) << name;
}

}  // namespace tervalo::test
