// Packed text read through the inflating stream, compared with the raw bytes the gzip program
// packed; damaged streams fail naming the file, after every byte before the damage.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "formats/GzipStrom.h"
#include "formats/PunktQuelle.h"
#include "support/files.h"
#include "support/shell.h"

using namespace tervalo;
using namespace tervalo::test;

namespace {

// Packed bytes handed out `schritt` at a time, so headers and trailers straddle reads; an
// optional read error after `fehlerAb` bytes.
class Speicher : public TByteQuelle {
public:
    Speicher(std::string d, std::size_t schritt, std::size_t fehlerAb = std::string::npos)
        : d_(std::move(d)), schritt_(schritt), fehlerAb_(fehlerAb) {}
    std::size_t Read(char* dst, std::size_t max) override {
        if (pos_ >= fehlerAb_) throw EInOutError(0, "Lesefehler: speicher");
        const std::size_t n = std::min({max, schritt_, d_.size() - pos_});
        std::copy_n(d_.data() + pos_, n, dst);
        pos_ += n;
        return n;
    }
    uint64_t Size() const override { return d_.size(); }

private:
    std::string d_;
    std::size_t schritt_, fehlerAb_, pos_ = 0;
};

std::string Gzip(const std::string& raw, const std::string& opt) {
    TempDir dir;
    WriteAll(dir / "roh", raw);
    const ShellResult r = Shell("gzip " + opt + " -c " + Quote(dir / "roh") + " > " + Quote(dir / "gz"));
    EXPECT_EQ(r.code, 0) << r.out;
    return ReadAll(dir / "gz");
}

// Point lines with every kind of byte the tiles may carry, longer than the stream's blocks.
std::string Roh(std::size_t bytes, unsigned seed) {
    std::mt19937 gen(seed);
    auto rng = [&] { return static_cast<unsigned>(gen()); };
    std::string s;
    char buf[64];
    while (s.size() < bytes) {
        std::snprintf(buf, sizeof buf, "%u.%03u %u.%u %u.%02u", 3560000 + rng() % 9000, rng() % 1000,
                      5930000 + rng() % 9000, rng() % 10, rng() % 400, rng() % 100);
        s += buf;
        s += "\r\n\n\r\x1A\0\xFF\t"[rng() % 8];
    }
    return s;
}

struct Ausgang {
    std::string daten;
    std::string fehler;  // what() of the exception that ended the read
    bool defekt = false; // it was EGzipDefekt
};

Ausgang Read(const std::string& gz, bool voraus, std::size_t schritt = 1 << 16,
             std::size_t fehlerAb = std::string::npos) {
    Ausgang a;
    TGzipStrom s(std::make_unique<Speicher>(gz, schritt, fehlerAb), "/daten/blatt.xyz.gz", voraus);
    // Odd read sizes, from one byte to more than a block.
    const std::size_t groessen[] = {1, 7, 4093, (1 << 20) + 3, 65536, 13};
    std::vector<char> buf((1 << 20) + 3);
    try {
        for (std::size_t i = 0;; ++i) {
            const std::size_t n = s.Read(buf.data(), groessen[i % 6]);
            if (n == 0) break;
            a.daten.append(buf.data(), n);
        }
    } catch (const EGzipDefekt& e) {
        a.fehler = e.what();
        a.defekt = true;
    } catch (const EInOutError& e) {
        a.fehler = e.what();
    }
    return a;
}

TEST(GzipStrom, InflatesLevelsMembersAndPaddingToTheRawBytes) {
    const std::string a = Roh(2'500'000, 1), b = Roh(300'000, 2);
    const std::string a1 = Gzip(a, "-1 -n"), a9 = Gzip(a, "-9"), b6 = Gzip(b, "-6"), leer = Gzip("", "-n");
    // A member with extra field and comment, as other packers write them.
    ASSERT_EQ(b6[3], '\x08');  // the name flag of gzip's own header
    const std::string extra = b6.substr(0, 3) + '\x14' + b6.substr(4, 6) + std::string("\x03\x00xyz", 5) + "Kommentar" + '\0' +
            b6.substr(b6.find('\0', 10) + 1);
    const struct {
        const char* name;
        std::string gz, roh;
    } faelle[] = {
        {"level 1", a1, a},
        {"level 9", a9, a},
        {"two members", a9 + b6, a + b},
        {"empty members", leer + b6 + leer + a1, b + a},
        {"only an empty member", leer, ""},
        {"extra field and comment", extra + leer, b},
        {"zero padding", a1 + std::string(300'000, '\0'), a},
    };
    for (const auto& f : faelle)
        for (bool voraus : {true, false})
            for (std::size_t schritt : {std::size_t{1} << 20, std::size_t{3}}) {
                if (schritt == 3 && f.roh.size() > 400'000) continue;  // tiny reads: the small cases
                SCOPED_TRACE(testing::Message() << f.name << (voraus ? " read-ahead" : " direct") << " step " << schritt);
                const Ausgang r = Read(f.gz, voraus, schritt);
                EXPECT_EQ(r.fehler, "");
                EXPECT_TRUE(r.daten == f.roh) << r.daten.size() << " of " << f.roh.size();
            }
}

TEST(GzipStrom, DamageThrowsNamingTheFileAfterEveryByteBeforeIt) {
    const std::string a = Roh(1'200'000, 3), b = Roh(50'000, 4);
    const std::string ga = Gzip(a, "-6 -n"), gb = Gzip(b, "-1 -n");
    auto kaputt = [](std::string s, std::size_t pos) {
        s[pos] = static_cast<char>(s[pos] ^ 0x55);
        return s;
    };
    struct Fall {
        std::string name, gz;
        std::size_t vollstaendig;  // raw bytes that must come before the failure
        bool treu = true;          // what comes is raw bytes (a flipped bit yields others)
    };
    std::vector<Fall> faelle = {
        {"bad CRC", kaputt(ga, ga.size() - 6), 0},
        {"bad length", kaputt(ga, ga.size() - 2), 0},
        {"bad CRC in the second member", ga + kaputt(gb, gb.size() - 8), a.size()},
        {"flipped data", kaputt(ga, ga.size() / 2), 0, false},
        {"garbage after a member", ga + "abc", a.size()},
        {"lone 1F after a member", ga + "\x1F", a.size()},
        {"a header alone after a member", ga + gb.substr(0, 10), a.size()},
        {"padding then garbage", ga + std::string(100, '\0') + "x", a.size()},
        {"a reserved flag", ga + gb.substr(0, 3) + '\x20' + gb.substr(4), a.size()},
        {"empty file", "", 0},
    };
    for (std::size_t cut : {std::size_t{1}, std::size_t{2}, std::size_t{9}, std::size_t{15}, ga.size() / 3,
                            ga.size() - 8, ga.size() - 3, ga.size() - 1})
        faelle.push_back({"cut at " + std::to_string(cut), ga.substr(0, cut), 0});
    for (const Fall& f : faelle)
        for (bool voraus : {true, false}) {
            SCOPED_TRACE(f.name + (voraus ? " read-ahead" : " direct"));
            const Ausgang r = Read(f.gz, voraus, f.gz.size() < 1000 ? 5 : 1 << 16);
            EXPECT_TRUE(r.defekt);
            EXPECT_EQ(r.fehler, "Datei besch\xC3\xA4" "digt (gzip): /daten/blatt.xyz.gz");
            EXPECT_GE(r.daten.size(), f.vollstaendig);
            EXPECT_TRUE(!f.treu || a.compare(0, r.daten.size(), r.daten) == 0) << "bytes other than the raw ones";
        }
    // A read error of the packed file stays that read error, behind what came before it.
    for (bool voraus : {true, false}) {
        const Ausgang r = Read(ga + gb, voraus, 4096, ga.size() + 100);
        EXPECT_FALSE(r.defekt);
        EXPECT_EQ(r.fehler, "Lesefehler: speicher");
        EXPECT_GE(r.daten.size(), a.size());
    }
    // A reader that stops early lets the read-ahead thread go.
    TGzipStrom s(std::make_unique<Speicher>(ga, 1 << 20), "x", true);
    char buf[10];
    EXPECT_EQ(s.Read(buf, sizeof buf), sizeof buf);
}

TEST(GzipStrom, PointSourceReadsPackedTextWhateverItsName) {
    TempDir dir;
    const std::string gz = Gzip("10 20 30\r\n11 21 31\r12 22 32", "-9");
    WriteAll(dir / "t.txt", "10 20 30\r\n11 21 31\r12 22 32");
    auto walk = [](const std::string& pfad) {
        TPunktQuelle q(pfad);
        EXPECT_FALSE(q.IsDbase());
        EXPECT_EQ(q.Open(), 0);
        std::vector<std::tuple<uint64_t, TBefund, double, double, double>> out;
        q.Read<TPunktZeilenRegel>([&](const auto& z) {
            double x = 0, y = 0, h = 0;
            const TBefund b = z.Punkt(x, y, h);
            out.emplace_back(z.Nr, b, x, y, h);
        });
        return out;
    };
    const auto text = walk(dir / "t.txt");
    ASSERT_EQ(text.size(), 2u);
    for (const char* name : {"t.dbf", "ohne", "t.xyz.gz"}) {
        SCOPED_TRACE(name);
        WriteAll(dir / name, gz);
        EXPECT_EQ(walk(dir / name), text);
    }
    // Ctrl-Z ends the lines, yet the checksum behind it is still checked: a damaged member
    // must not pass for sound lines.
    std::string z = Gzip("10 20 30\n\x1A" + Roh(300000, 7), "-6 -n");
    z[z.size() - 8] ^= 1;
    WriteAll(dir / "z.xyz.gz", z);
    EXPECT_THROW(walk(dir / "z.xyz.gz"), EGzipDefekt);
}

}  // namespace
