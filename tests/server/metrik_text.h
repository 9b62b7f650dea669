#pragma once
// A strict reader of Prometheus' text format (0.0.4) for the tests: every line a HELP, a TYPE or
// a sample; names and label names of the format's alphabet; label values with its escapes; a
// family's TYPE once and before its samples; no series twice; the text ends with a line feed.
// Whatever breaks one of these is a test failure naming the line.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tervalo::test {

struct TProbe {
    std::string Name;
    std::map<std::string, std::string> Labels;
    double Wert = 0;
};

struct TMetrikText {
    std::map<std::string, std::string> Typ;  // family -> counter, gauge, histogram, ...
    std::map<std::string, std::string> Hilfe;
    std::vector<TProbe> Proben;

    // The one sample of that name with exactly these labels; 0 when there is none (a counter
    // not counted yet is not written).
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
    // The sum over every sample of that name.
    double Summe(const std::string& name) const {
        double s = 0;
        for (const TProbe& p : Proben)
            if (p.Name == name) s += p.Wert;
        return s;
    }
};

namespace metrik_detail {

inline bool NamensZeichen(char c, bool erstes, bool doppelpunkt) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || (doppelpunkt && c == ':') ||
           (!erstes && c >= '0' && c <= '9');
}

// A name at the start of `s` (taken off it); empty when none.
inline std::string Name(std::string_view& s, bool doppelpunkt) {
    std::size_t n = 0;
    while (n < s.size() && NamensZeichen(s[n], n == 0, doppelpunkt)) ++n;
    std::string out(s.substr(0, n));
    s.remove_prefix(n);
    return out;
}

inline bool Zahl(std::string_view s, double& v) {
    if (s == "+Inf") return v = HUGE_VAL, true;
    if (s == "-Inf") return v = -HUGE_VAL, true;
    if (s == "NaN") return v = NAN, true;
    const std::string t(s);
    char* ende = nullptr;
    v = std::strtod(t.c_str(), &ende);
    return !t.empty() && ende == t.c_str() + t.size();
}

// The family a sample belongs to: a histogram's _bucket, _sum and _count are its own.
inline std::string Familie(const TMetrikText& m, const std::string& name) {
    for (const char* suffix : {"_bucket", "_sum", "_count"}) {
        const std::string_view n(name), s(suffix);
        if (n.size() > s.size() && n.substr(n.size() - s.size()) == s) {
            const std::string basis(n.substr(0, n.size() - s.size()));
            const auto it = m.Typ.find(basis);
            if (it != m.Typ.end() && (it->second == "histogram" || it->second == "summary")) return basis;
        }
    }
    return name;
}

}  // namespace metrik_detail

inline TMetrikText LiesMetriken(const std::string& text) {
    using namespace metrik_detail;
    TMetrikText m;
    EXPECT_TRUE(!text.empty() && text.back() == '\n') << "text does not end with a line feed";
    std::set<std::string> reihen, mitProben;
    std::size_t nr = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t nl = text.find('\n', pos);
        const std::string zeile = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        pos = nl == std::string::npos ? text.size() : nl + 1;
        ++nr;
        const std::string wo = "line " + std::to_string(nr) + ": " + zeile;
        if (zeile.empty()) continue;
        std::string_view s(zeile);
        if (s.front() == '#') {
            if (s.rfind("# HELP ", 0) != 0 && s.rfind("# TYPE ", 0) != 0) continue;  // a plain comment
            const bool typ = s[2] == 'T';
            s.remove_prefix(7);
            const std::string name = Name(s, true);
            if (name.empty() || s.empty() || s.front() != ' ') {
                ADD_FAILURE() << "no name: " << wo;
                continue;
            }
            s.remove_prefix(1);
            if (typ) {
                static const std::set<std::string> typen = {"counter", "gauge", "histogram", "summary", "untyped"};
                EXPECT_TRUE(typen.count(std::string(s))) << "unknown type: " << wo;
                EXPECT_FALSE(m.Typ.count(name)) << "TYPE twice: " << wo;
                EXPECT_FALSE(mitProben.count(name)) << "TYPE after samples: " << wo;
                m.Typ[name] = std::string(s);
            } else {
                EXPECT_FALSE(m.Hilfe.count(name)) << "HELP twice: " << wo;
                EXPECT_EQ(s.find('\n'), std::string_view::npos);
                m.Hilfe[name] = std::string(s);
            }
            continue;
        }
        TProbe p;
        p.Name = Name(s, true);
        if (p.Name.empty()) {
            ADD_FAILURE() << "no metric name: " << wo;
            continue;
        }
        if (!s.empty() && s.front() == '{') {
            s.remove_prefix(1);
            while (!s.empty() && s.front() != '}') {
                const std::string label = Name(s, false);
                if (label.empty() || s.size() < 2 || s[0] != '=' || s[1] != '"') {
                    ADD_FAILURE() << "bad label: " << wo;
                    s = {};
                    break;
                }
                s.remove_prefix(2);
                std::string wert;
                bool zu = false;
                while (!s.empty()) {
                    const char c = s.front();
                    s.remove_prefix(1);
                    if (c == '"') {
                        zu = true;
                        break;
                    }
                    if (c != '\\') {
                        wert += c;
                        continue;
                    }
                    if (s.empty()) break;
                    const char e = s.front();
                    s.remove_prefix(1);
                    if (e == 'n')
                        wert += '\n';
                    else if (e == '\\' || e == '"')
                        wert += e;
                    else
                        ADD_FAILURE() << "bad escape: " << wo;
                }
                EXPECT_TRUE(zu) << "label value not closed: " << wo;
                EXPECT_FALSE(p.Labels.count(label)) << "label twice: " << wo;
                p.Labels[label] = wert;
                if (!s.empty() && s.front() == ',') s.remove_prefix(1);
            }
            if (s.empty()) {
                ADD_FAILURE() << "labels not closed: " << wo;
                continue;
            }
            s.remove_prefix(1);
        }
        if (s.empty() || s.front() != ' ') {
            ADD_FAILURE() << "no value: " << wo;
            continue;
        }
        s.remove_prefix(1);
        const std::size_t blank = s.find(' ');  // a timestamp may follow
        EXPECT_TRUE(Zahl(s.substr(0, blank), p.Wert)) << "bad value: " << wo;
        const std::string familie = Familie(m, p.Name);
        EXPECT_TRUE(m.Typ.count(familie)) << "sample without TYPE: " << wo;
        mitProben.insert(familie);
        std::string reihe = p.Name;
        for (const auto& [n, w] : p.Labels) reihe += "|" + n + "=" + w;
        EXPECT_TRUE(reihen.insert(reihe).second) << "series twice: " << wo;
        m.Proben.push_back(std::move(p));
    }
    return m;
}

// A histogram's buckets in the order written: (le, cumulative count).
inline std::vector<std::pair<double, double>> Eimer(const TMetrikText& m, const std::string& name) {
    std::vector<std::pair<double, double>> out;
    for (const TProbe& p : m.Proben)
        if (p.Name == name + "_bucket") {
            double le = 0;
            EXPECT_TRUE(p.Labels.count("le") && metrik_detail::Zahl(p.Labels.at("le"), le)) << name;
            out.emplace_back(le, p.Wert);
        }
    return out;
}

// Buckets ordered by bound, cumulative (never falling), the last +Inf equal to _count.
inline void PruefeHistogramm(const TMetrikText& m, const std::string& name) {
    const auto eimer = Eimer(m, name);
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
