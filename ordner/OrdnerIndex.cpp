#include "ordner/OrdnerIndex.h"

#include <dirent.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <limits>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

#include "config/Orte.h"
#include "filemanager/Extent.h"
#include "formats/PunktQuelle.h"
#include "ordner/KachelMuster.h"
#include "tools/Datei.h"
#include "tools/Errors.h"

namespace tervalo {

namespace {

namespace fs = std::filesystem;

// Marks the file as one of ours ("TVRI") and the layout of its tables.
constexpr int32_t kAnwendung = 0x54565249;
constexpr int kSchema = 1;
// A folder time the next Update must not trust (see Listen).
constexpr int64_t kZeitUnbekannt = std::numeric_limits<int64_t>::min();
// Rows per write transaction: short enough that another program waiting on the index is not
// held up long.
constexpr std::size_t kZeilenJeSchreiben = 2000;

int64_t ZeitNs(const struct stat& st) {
    return int64_t(st.st_mtim.tv_sec) * 1000000000 + int64_t(st.st_mtim.tv_nsec);
}

int64_t JetztNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + int64_t(ts.tv_nsec);
}

std::string MitSchraegstrich(std::string s) {
    if (!s.empty() && s.back() != '/') s += '/';
    return s;
}

std::string KachelPfad(const std::string& ordner, const std::string& rel) {
    return ordner == "/" ? "/" + rel : ordner + "/" + rel;
}

bool Findbar(TAusdehnungsQuelle q) {
    return q == TAusdehnungsQuelle::Name || q == TAusdehnungsQuelle::Raster || q == TAusdehnungsQuelle::Scan;
}

// The float box holds the double box: SQLite's R*Tree keeps 32-bit coordinates.
float Abwaerts(double d) {
    if (std::isnan(d)) return -std::numeric_limits<float>::infinity();
    if (d <= -double(std::numeric_limits<float>::max())) return -std::numeric_limits<float>::infinity();
    if (d >= double(std::numeric_limits<float>::max())) return std::numeric_limits<float>::max();
    float f = static_cast<float>(d);
    if (double(f) > d) f = std::nextafterf(f, -std::numeric_limits<float>::infinity());
    return f;
}
float Aufwaerts(double d) {
    if (std::isnan(d)) return std::numeric_limits<float>::infinity();
    if (d >= double(std::numeric_limits<float>::max())) return std::numeric_limits<float>::infinity();
    if (d <= -double(std::numeric_limits<float>::max())) return -std::numeric_limits<float>::max();
    float f = static_cast<float>(d);
    if (double(f) < d) f = std::nextafterf(f, std::numeric_limits<float>::infinity());
    return f;
}

// What looking at one tile gave.
struct TBefundKachel {
    TAusdehnungsQuelle Quelle = TAusdehnungsQuelle::Fehler;
    double Xmin = 0, Xmax = 0, Ymin = 0, Ymax = 0;
    bool Geprueft = false;
    std::string Meldung;  // German, "" when none
};

TBefundKachel Fehler(const std::string& pfad, const std::string& grund) {
    TBefundKachel b;
    b.Quelle = TAusdehnungsQuelle::Fehler;
    b.Meldung = "Kachel nicht lesbar: " + pfad + " (" + grund + ")";
    return b;
}

// A point with a coordinate that is no number never meets a square, as in a plain entry.
TBefundKachel AusExtrem(const TExtremwerte& e, TAusdehnungsQuelle quelle) {
    TBefundKachel b;
    if (!e.Found || std::isnan(e.Xmin) || std::isnan(e.Xmax) || std::isnan(e.Ymin) || std::isnan(e.Ymax)) {
        b.Quelle = TAusdehnungsQuelle::Leer;
        return b;
    }
    b.Quelle = quelle;
    b.Xmin = e.Xmin, b.Xmax = e.Xmax, b.Ymin = e.Ymin, b.Ymax = e.Ymax;
    return b;
}

// The extent the file manager's scan gives the file, so a tile and a plain entry of it agree.
TBefundKachel Scannen(const std::string& pfad) {
    try {
        const TExtremwerte e = ReadExtremwerte(pfad);
        if (!e.Opened) return Fehler(pfad, e.OpenError);
        return AusExtrem(e, e.Raster ? TAusdehnungsQuelle::Raster : TAusdehnungsQuelle::Scan);
    } catch (const ESilentAbort& e) {
        return Fehler(pfad, e.Detail().empty() ? "abgebrochen" : e.Detail());
    } catch (const std::exception& e) {
        return Fehler(pfad, e.what());
    }
}

// A tile's extent as Update takes it: from its name (checked by its first point), a raster's
// header, or a scan.
TBefundKachel Ableiten(const std::string& pfad, std::string_view name, const std::string& muster) {
    const std::optional<TNamensAusdehnung> n = ExtentFromName(name, muster);
    if (!n) return Scannen(pfad);
    try {
        TPunktQuelle q(pfad);
        if (const int err = q.Open()) return Fehler(pfad, ErrnoText(err));
        if (TRaster* r = q.Raster()) {
            // The header is exact and as cheap as the first point.
            const TRasterKopf& k = r->Kopf();
            TExtremwerte e;
            if (k.Pixel() > 0) {
                const TRasterAusdehnung a = k.Ausdehnung();
                e.Xmin = a.Xmin, e.Xmax = a.Xmax, e.Ymin = a.Ymin, e.Ymax = a.Ymax;
                e.Found = true;
            }
            return AusExtrem(e, TAusdehnungsQuelle::Raster);
        }
        bool gefunden = false;
        double x = 0, y = 0;
        q.Read<TAusdehnungsZeilenRegel>([&](const auto& zeile) {
            double px, py, pz;
            if (zeile.Punkt(px, py, pz) != TBefund::Punkt) return true;
            x = px, y = py, gefunden = true;
            return false;
        });
        TBefundKachel b;
        if (!gefunden) {
            b.Quelle = TAusdehnungsQuelle::Leer;  // read to its end without a point
            return b;
        }
        b.Quelle = TAusdehnungsQuelle::Name;
        b.Xmin = n->Xmin, b.Xmax = n->Xmax, b.Ymin = n->Ymin, b.Ymax = n->Ymax;
        if (x >= 10000000.0 && n->Zone > 0) {
            b.Xmin += n->Zone * 1000000.0;
            b.Xmax += n->Zone * 1000000.0;
        }
        if (b.Xmin <= x && x <= b.Xmax && b.Ymin <= y && y <= b.Ymax) return b;
    } catch (const ESilentAbort& e) {
        return Fehler(pfad, e.Detail().empty() ? "abgebrochen" : e.Detail());
    } catch (const std::exception& e) {
        return Fehler(pfad, e.what());
    }
    // The name lies: the points decide.
    TBefundKachel s = Scannen(pfad);
    if (Findbar(s.Quelle)) {
        s.Quelle = TAusdehnungsQuelle::Scan;
        s.Meldung = NamensLuegeMeldung(pfad);
    }
    return s;
}

// The index folder as the running program's places say.
std::string StandardIndexOrdner() {
    if (const char* e = std::getenv("TERVALO_INDEX_ORDNER"); e && e[0] == '/') return MitSchraegstrich(e);
    const TOrte o = FindProgrammOrte();
    if (!o.Installiert) return MitSchraegstrich(o.Ordner) + "Index/";
    if (const char* x = std::getenv("XDG_CACHE_HOME"); x && x[0] == '/') return MitSchraegstrich(x) + "tervalo/";
    const TUmgebung u = ReadProzessUmgebung();
    std::string home = u.Home && !u.Home->empty() && (*u.Home)[0] == '/' ? *u.Home : u.PasswdHome;
    if (home.empty() || home[0] != '/') return MitSchraegstrich(o.Ordner) + "Index/";
    return MitSchraegstrich(home) + ".cache/tervalo/";
}

// The path with links resolved as far as it exists, the rest as written (normalised).
std::string EchterPfad(const std::string& pfad) {
    std::error_code ec;
    fs::path p = fs::absolute(fs::path(pfad), ec).lexically_normal();
    fs::path rest;
    while (!p.empty()) {
        if (char* e = ::realpath(p.c_str(), nullptr)) {
            fs::path r = fs::path(e) / rest;
            std::free(e);
            std::string s = r.lexically_normal().string();
            while (s.size() > 1 && s.back() == '/') s.pop_back();
            return s;
        }
        if (p == p.root_path()) break;
        rest = p.filename() / rest;
        p = p.parent_path();
    }
    return pfad;
}

// Creates the folder and the missing ones above it (0700); 0 or the system's error number.
int OrdnerAnlegen(const std::string& pfad) {
    std::string teil;
    std::size_t pos = 0;
    while (pos < pfad.size()) {
        const std::size_t s = pfad.find('/', pos + 1);
        teil = pfad.substr(0, s == std::string::npos ? pfad.size() : s);
        pos = s == std::string::npos ? pfad.size() : s;
        if (teil.empty() || teil == "/") continue;
        if (::mkdir(teil.c_str(), 0700) != 0 && errno != EEXIST) return errno;
    }
    struct stat st{};
    if (::stat(pfad.c_str(), &st) != 0) return errno;
    if (!S_ISDIR(st.st_mode)) return ENOTDIR;
    if (::access(pfad.c_str(), W_OK | X_OK) != 0) return errno;
    return 0;
}

// One prepared statement, finalised with its owner.
struct TStmt {
    sqlite3_stmt* s = nullptr;
    TStmt() = default;
    TStmt(const TStmt&) = delete;
    TStmt& operator=(const TStmt&) = delete;
    ~TStmt() { sqlite3_finalize(s); }
};

// Resets a statement when the scope ends, so no read snapshot stays open.
struct TReset {
    sqlite3_stmt* s;
    ~TReset() {
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
    }
};

// A file SQLite will not take as ours: damaged, foreign, of another layout.
struct EUnbrauchbar {};

// Damage SQLite met while in use.
class EIndexDefekt : public EInOutError {
public:
    using EInOutError::EInOutError;
};

struct TGespeichert {
    int64_t Id;
    std::string Rel;
    uint64_t Groesse;
    int64_t Zeit;
    TAusdehnungsQuelle Quelle;
};

struct TGelistet {
    std::string Rel;
    uint64_t Groesse;
    int64_t Zeit;
};

struct TVerzeichnis {
    std::string Rel;  // "" for the folder itself, else "a/b/"
    int64_t Zeit;
};

struct TArbeit {
    std::string Rel;
    uint64_t Groesse;
    int64_t Zeit;
    bool Neu;
};

}  // namespace

std::string NamensLuegeMeldung(const std::string& pfad) {
    return "Die Punkte der Kachel " + pfad +
           " liegen außerhalb der Ausdehnung, die ihr Name angibt; ihre gelesene Ausdehnung gilt von nun an.";
}

bool IsIndexHinweis(const std::string& m) {
    auto endet = [&](std::string_view e) { return m.size() >= e.size() && m.compare(m.size() - e.size(), e.size(), e) == 0; };
    if (m.rfind("Die Punkte der Kachel ", 0) == 0) return endet(" gilt von nun an.");
    if (m.rfind("Der Index des Ordners ", 0) != 0) return false;
    return endet(" war unbrauchbar und wurde neu aufgebaut.") || endet("; er wird im Speicher gehalten.");
}

std::string IndexDateiFor(const std::string& indexOrdner, const std::string& ordnerAbsolut) {
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : ordnerAbsolut) {
        h ^= c;
        h *= 1099511628211ull;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
    return MitSchraegstrich(indexOrdner) + "ordner-" + hex + ".sqlite";
}

struct TOrdnerIndex::Impl {
    mutable std::mutex mu;
    std::string ordner;
    std::string indexDatei;  // "" in memory
    bool unterordner = false;
    std::string muster;
    sqlite3* db = nullptr;
    std::vector<std::string> offen;  // messages of opening, handed out by the next Update

    TStmt find, byRel, upsert, rtDel, rtIns, delRel, alle, gespeichert, anzahl, vereinigung, fehlerhaft;

    ~Impl() { Schliessen(); }

    void Schliessen() {
        for (TStmt* s : {&find, &byRel, &upsert, &rtDel, &rtIns, &delRel, &alle, &gespeichert, &anzahl, &vereinigung,
                         &fehlerhaft}) {
            sqlite3_finalize(s->s);
            s->s = nullptr;
        }
        if (db) sqlite3_close_v2(db);
        db = nullptr;
    }

    [[noreturn]] void SqlFehler(int rc) const {
        const std::string text = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
        const std::string meldung =
            "Der Index des Ordners " + ordner + " kann nicht gelesen oder geschrieben werden (" + text + ").";
        if ((rc & 0xff) == SQLITE_CORRUPT || (rc & 0xff) == SQLITE_NOTADB) throw EIndexDefekt(0, meldung);
        throw EInOutError(0, meldung);
    }
    void Pruef(int rc) const {
        if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) SqlFehler(rc);
    }
    void Exec(const char* sql) const { Pruef(sqlite3_exec(db, sql, nullptr, nullptr, nullptr)); }
    void Prepare(TStmt& st, const char* sql) const {
        sqlite3_finalize(st.s);
        st.s = nullptr;
        Pruef(sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &st.s, nullptr));
    }

    // ---- opening ----

    // Opens the file, or throws EUnbrauchbar when it is not a sound index of ours.
    void OeffneDatei(const std::string& datei) {
        int rc = sqlite3_open_v2(datei.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                                 nullptr);
        if (rc != SQLITE_OK) throw EUnbrauchbar{};
        sqlite3_busy_timeout(db, 10000);
        if (sqlite3_db_readonly(db, "main") == 1) throw EInOutError(EACCES, ErrnoText(EACCES), EACCES);
        PruefeDatei();
    }

    int64_t Zahl(const char* sql) const {
        sqlite3_stmt* st = nullptr;
        int rc = sqlite3_prepare_v2(db, sql, -1, &st, nullptr);
        int64_t v = 0;
        if (rc == SQLITE_OK) {
            rc = sqlite3_step(st);
            if (rc == SQLITE_ROW) v = sqlite3_column_int64(st, 0), rc = SQLITE_OK;
        }
        sqlite3_finalize(st);
        if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) SqlFehler(rc);
        if (rc != SQLITE_OK && rc != SQLITE_DONE) throw EUnbrauchbar{};
        return v;
    }

    std::string Text(const char* sql) const {
        sqlite3_stmt* st = nullptr;
        int rc = sqlite3_prepare_v2(db, sql, -1, &st, nullptr);
        std::string v;
        if (rc == SQLITE_OK) {
            rc = sqlite3_step(st);
            if (rc == SQLITE_ROW) {
                if (const unsigned char* t = sqlite3_column_text(st, 0)) v = reinterpret_cast<const char*>(t);
                rc = SQLITE_OK;
            }
        }
        sqlite3_finalize(st);
        if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) SqlFehler(rc);
        if (rc != SQLITE_OK && rc != SQLITE_DONE) throw EUnbrauchbar{};
        return v;
    }

    // A new file gets the tables; an old one must be ours, sound and of this folder.
    void PruefeDatei() {
        if (Zahl("PRAGMA application_id") == 0 && Zahl("PRAGMA user_version") == 0 &&
            Zahl("SELECT count(*) FROM sqlite_master") == 0)
            Anlegen();
        if (Zahl("PRAGMA application_id") != kAnwendung || Zahl("PRAGMA user_version") != kSchema)
            throw EUnbrauchbar{};
        // The page check reads the whole file, about 10 ms for a state's 35,000 tiles: too much
        // for every query of a command-line run. Opening checks the marks; damage met in use
        // makes the index anew (MitNeuaufbau), and every listing checks all pages first.
        if (Text("SELECT value FROM meta WHERE key = 'ordner'") != ordner) throw EUnbrauchbar{};
        // WAL lets the window read while the service writes; it stays set in the file.
        sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
        sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
        // Every page read is checked as it comes in: damage met in use makes the index anew.
        sqlite3_exec(db, "PRAGMA cell_size_check=ON", nullptr, nullptr, nullptr);
        Vorbereiten();
        // Other options make other tiles: start afresh inside the file.
        if (Text("SELECT value FROM meta WHERE key = 'unterordner'") != (unterordner ? "1" : "0") ||
            Text("SELECT value FROM meta WHERE key = 'muster'") != muster) {
            Exec("BEGIN IMMEDIATE");
            try {
                Exec("DELETE FROM tiles; DELETE FROM rtree; DELETE FROM dirs;"
                     "UPDATE meta SET value = '0' WHERE key = 'vollstaendig'");
                SetMeta("unterordner", unterordner ? "1" : "0");
                SetMeta("muster", muster);
                Exec("COMMIT");
            } catch (...) {
                sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
                throw;
            }
        }
    }

    void SetMeta(const char* key, const std::string& value) const {
        sqlite3_stmt* st = nullptr;
        Pruef(sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO meta(key, value) VALUES(?1, ?2)", -1, &st, nullptr));
        sqlite3_bind_text(st, 1, key, -1, SQLITE_STATIC);
        sqlite3_bind_text(st, 2, value.data(), int(value.size()), SQLITE_STATIC);
        const int rc = sqlite3_step(st);
        sqlite3_finalize(st);
        Pruef(rc);
    }

    void Anlegen() {
        // Two programs may meet a new file at once: the second finds the tables made.
        if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) throw EUnbrauchbar{};
        try {
            if (Zahl("PRAGMA application_id") == 0 && Zahl("SELECT count(*) FROM sqlite_master") == 0) {
                Exec("CREATE TABLE meta(key TEXT PRIMARY KEY NOT NULL, value) WITHOUT ROWID;"
                     "CREATE TABLE dirs(rel TEXT PRIMARY KEY NOT NULL, mtime_ns INTEGER NOT NULL) WITHOUT ROWID;"
                     "CREATE TABLE tiles(id INTEGER PRIMARY KEY, rel TEXT NOT NULL UNIQUE, size INTEGER NOT NULL,"
                     " mtime_ns INTEGER NOT NULL, xmin REAL NOT NULL, xmax REAL NOT NULL, ymin REAL NOT NULL,"
                     " ymax REAL NOT NULL, quelle INTEGER NOT NULL, geprueft INTEGER NOT NULL);"
                     "CREATE INDEX tiles_fehler ON tiles(rel) WHERE quelle = 4;"
                     "CREATE VIRTUAL TABLE rtree USING rtree(id, minx, maxx, miny, maxy);");
                SetMeta("ordner", ordner);
                SetMeta("unterordner", unterordner ? "1" : "0");
                SetMeta("muster", muster);
                SetMeta("vollstaendig", "0");
                Exec(("PRAGMA application_id=" + std::to_string(kAnwendung)).c_str());
                Exec(("PRAGMA user_version=" + std::to_string(kSchema)).c_str());
            }
            Exec("COMMIT");
        } catch (...) {
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }

    void Vorbereiten() {
        Prepare(find,
                "SELECT t.id, t.rel, t.xmin, t.xmax, t.ymin, t.ymax, t.quelle, t.geprueft, t.size, t.mtime_ns"
                " FROM rtree r JOIN tiles t ON t.id = r.id"
                " WHERE r.minx <= ?2 AND r.maxx >= ?1 AND r.miny <= ?4 AND r.maxy >= ?3");
        Prepare(byRel,
                "SELECT id, rel, xmin, xmax, ymin, ymax, quelle, geprueft, size, mtime_ns FROM tiles WHERE rel = ?1");
        Prepare(alle,
                "SELECT id, rel, xmin, xmax, ymin, ymax, quelle, geprueft, size, mtime_ns FROM tiles ORDER BY rel");
        Prepare(upsert,
                "INSERT INTO tiles(rel, size, mtime_ns, xmin, xmax, ymin, ymax, quelle, geprueft)"
                " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9) ON CONFLICT(rel) DO UPDATE SET size = excluded.size,"
                " mtime_ns = excluded.mtime_ns, xmin = excluded.xmin, xmax = excluded.xmax, ymin = excluded.ymin,"
                " ymax = excluded.ymax, quelle = excluded.quelle, geprueft = excluded.geprueft RETURNING id");
        Prepare(rtDel, "DELETE FROM rtree WHERE id = ?1");
        Prepare(rtIns, "INSERT INTO rtree(id, minx, maxx, miny, maxy) VALUES(?1, ?2, ?3, ?4, ?5)");
        Prepare(delRel, "DELETE FROM tiles WHERE rel = ?1 RETURNING id");
        Prepare(gespeichert, "SELECT id, rel, size, mtime_ns, quelle FROM tiles ORDER BY rel");
        Prepare(anzahl, "SELECT count(*) FROM tiles");
        Prepare(fehlerhaft, "SELECT rel FROM tiles WHERE quelle = 4 ORDER BY rel");
        Prepare(vereinigung, "SELECT min(xmin), max(xmax), min(ymin), max(ymax), count(*) FROM tiles WHERE quelle IN (0, 1, 2)");
    }

    void ImSpeicher(const std::string& grund) {
        Schliessen();
        indexDatei.clear();
        offen.push_back("Der Index des Ordners " + ordner + " kann nicht gespeichert werden (" + grund +
                        "); er wird im Speicher gehalten.");
        if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                            nullptr) != SQLITE_OK)
            SqlFehler(SQLITE_NOMEM);
        try {
            PruefeDatei();
        } catch (const EUnbrauchbar&) {
            SqlFehler(SQLITE_ERROR);
        }
    }

    void Entfernen(const std::string& datei) {
        for (const char* endung : {"", "-wal", "-shm", "-journal"}) ::unlink((datei + endung).c_str());
    }

    void Oeffnen(const std::string& indexOrdner) {
        const std::string io = MitSchraegstrich(indexOrdner);
        // An index inside the data folder would write there and change the folder it watches.
        const std::string echt = EchterPfad(io);
        if (echt == ordner || echt.rfind(MitSchraegstrich(ordner), 0) == 0)
            return ImSpeicher("der Index-Ordner " + io + " liegt im Ordner selbst");
        if (const int err = OrdnerAnlegen(io)) return ImSpeicher(ErrnoText(err));
        const std::string datei = IndexDateiFor(io, ordner);
        indexDatei = datei;
        try {
            OeffneDatei(datei);
            return;
        } catch (const EUnbrauchbar&) {
        } catch (const EInOutError& e) {
            return ImSpeicher(e.what());
        }
        Neuaufbau();
    }

    void Neuaufbau() {
        const std::string datei = indexDatei;
        Schliessen();
        Entfernen(datei);
        offen.push_back("Der Index des Ordners " + ordner + " war unbrauchbar und wurde neu aufgebaut.");
        try {
            OeffneDatei(datei);
        } catch (const EUnbrauchbar&) {
            ImSpeicher(db ? sqlite3_errmsg(db) : "SQLite");
        } catch (const EInOutError& e) {
            ImSpeicher(e.what());
        }
    }

    // ---- rows ----

    TOrdnerKachel Zeile(sqlite3_stmt* st) const {
        TOrdnerKachel k;
        k.Id = sqlite3_column_int64(st, 0);
        if (const unsigned char* t = sqlite3_column_text(st, 1))
            k.Relativ.assign(reinterpret_cast<const char*>(t), size_t(sqlite3_column_bytes(st, 1)));
        k.Pfad = KachelPfad(ordner, k.Relativ);
        k.Xmin = sqlite3_column_double(st, 2);
        k.Xmax = sqlite3_column_double(st, 3);
        k.Ymin = sqlite3_column_double(st, 4);
        k.Ymax = sqlite3_column_double(st, 5);
        k.Quelle = static_cast<TAusdehnungsQuelle>(sqlite3_column_int(st, 6));
        k.Geprueft = sqlite3_column_int(st, 7) != 0;
        k.Groesse = static_cast<uint64_t>(sqlite3_column_int64(st, 8));
        k.Zeit = sqlite3_column_int64(st, 9);
        return k;
    }

    std::optional<TOrdnerKachel> Lade(const std::string& rel) const {
        TReset r{byRel.s};
        sqlite3_bind_text(byRel.s, 1, rel.data(), int(rel.size()), SQLITE_STATIC);
        const int rc = sqlite3_step(byRel.s);
        if (rc == SQLITE_ROW) return Zeile(byRel.s);
        Pruef(rc);
        return std::nullopt;
    }

    // Inside a write transaction.
    void Schreibe(const std::string& rel, uint64_t groesse, int64_t zeit, const TBefundKachel& b) {
        int64_t id = 0;
        {
            TReset r{upsert.s};
            sqlite3_bind_text(upsert.s, 1, rel.data(), int(rel.size()), SQLITE_STATIC);
            sqlite3_bind_int64(upsert.s, 2, static_cast<int64_t>(groesse));
            sqlite3_bind_int64(upsert.s, 3, zeit);
            const bool box = Findbar(b.Quelle);
            sqlite3_bind_double(upsert.s, 4, box ? b.Xmin : 0.0);
            sqlite3_bind_double(upsert.s, 5, box ? b.Xmax : 0.0);
            sqlite3_bind_double(upsert.s, 6, box ? b.Ymin : 0.0);
            sqlite3_bind_double(upsert.s, 7, box ? b.Ymax : 0.0);
            sqlite3_bind_int(upsert.s, 8, int(b.Quelle));
            sqlite3_bind_int(upsert.s, 9, b.Geprueft ? 1 : 0);
            const int rc = sqlite3_step(upsert.s);
            if (rc != SQLITE_ROW) SqlFehler(rc);
            id = sqlite3_column_int64(upsert.s, 0);
            Pruef(sqlite3_step(upsert.s));
        }
        {
            TReset r{rtDel.s};
            sqlite3_bind_int64(rtDel.s, 1, id);
            Pruef(sqlite3_step(rtDel.s));
        }
        if (!Findbar(b.Quelle)) return;
        TReset r{rtIns.s};
        sqlite3_bind_int64(rtIns.s, 1, id);
        sqlite3_bind_double(rtIns.s, 2, double(Abwaerts(b.Xmin)));
        sqlite3_bind_double(rtIns.s, 3, double(Aufwaerts(b.Xmax)));
        sqlite3_bind_double(rtIns.s, 4, double(Abwaerts(b.Ymin)));
        sqlite3_bind_double(rtIns.s, 5, double(Aufwaerts(b.Ymax)));
        Pruef(sqlite3_step(rtIns.s));
    }

    void Loesche(const std::string& rel) {
        int64_t id = -1;
        {
            TReset r{delRel.s};
            sqlite3_bind_text(delRel.s, 1, rel.data(), int(rel.size()), SQLITE_STATIC);
            int rc = sqlite3_step(delRel.s);
            if (rc == SQLITE_ROW) {
                id = sqlite3_column_int64(delRel.s, 0);
                rc = sqlite3_step(delRel.s);
            }
            Pruef(rc);
        }
        if (id < 0) return;
        TReset r{rtDel.s};
        sqlite3_bind_int64(rtDel.s, 1, id);
        Pruef(sqlite3_step(rtDel.s));
    }

    template <class Fn>
    void Transaktion(Fn&& fn) {
        Exec("BEGIN IMMEDIATE");
        try {
            fn();
            Exec("COMMIT");
        } catch (...) {
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }

    // ---- the folder ----

    [[noreturn]] void NichtLesbar(int err) const {
        throw EInOutError(ErrnoToFileError(err), "Ordner nicht lesbar: " + ordner, err);
    }

    // Lists the folder (and its subfolders): every regular tile file with its size and time, each
    // folder with its time. A folder whose time is too close to now to tell a later change
    // from this listing gets kZeitUnbekannt, so the next Update lists again. Each folder is
    // entered once, so symbolic links cannot make a loop.
    void Listen(std::vector<TGelistet>& kacheln, std::vector<TVerzeichnis>& dirs, std::vector<std::string>& meldungen) {
        const int64_t grenze = JetztNs() - int64_t(2) * 1000000000;  // FAT keeps times in 2 s steps
        const int fd = ::open(ordner.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) NichtLesbar(errno);
        std::set<std::pair<dev_t, ino_t>> besucht;
        if (!ListeEins(fd, "", grenze, kacheln, dirs, besucht, meldungen)) NichtLesbar(errno ? errno : EIO);
        std::sort(kacheln.begin(), kacheln.end(), [](const TGelistet& a, const TGelistet& b) { return a.Rel < b.Rel; });
    }

    // Takes fd over. False when the folder cannot be read (errno set).
    bool ListeEins(int fd, const std::string& prefix, int64_t grenze, std::vector<TGelistet>& kacheln,
                   std::vector<TVerzeichnis>& dirs, std::set<std::pair<dev_t, ino_t>>& besucht,
                   std::vector<std::string>& meldungen) {
        TDateiHandle h(fd);
        struct stat st{};
        if (::fstat(fd, &st) != 0) return false;
        if (!besucht.insert({st.st_dev, st.st_ino}).second) return true;
        // The time before reading: a change while listing shows next time.
        const int64_t zeit = ZeitNs(st);
        const int dup = ::dup(fd);
        if (dup < 0) return false;
        DIR* d = ::fdopendir(dup);
        if (!d) {
            const int err = errno;
            ::close(dup);
            errno = err;
            return false;
        }
        std::vector<std::pair<std::string, unsigned char>> namen;
        errno = 0;
        while (dirent* e = ::readdir(d)) {
            const char* n = e->d_name;
            if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0))) continue;
            namen.emplace_back(n, e->d_type);
        }
        const int leseFehler = errno;
        ::closedir(d);
        if (leseFehler) {
            errno = leseFehler;
            return false;
        }
        std::sort(namen.begin(), namen.end());
        dirs.push_back({prefix, zeit >= grenze ? kZeitUnbekannt : zeit});
        for (const auto& [name, typ] : namen) {
            const bool kachel = IsKachelName(name);
            const bool vielleichtOrdner = unterordner && (typ == DT_DIR || typ == DT_LNK || typ == DT_UNKNOWN);
            if (!kachel && !vielleichtOrdner) continue;
            struct stat es{};
            if (::fstatat(fd, name.c_str(), &es, 0) != 0) continue;  // a dangling link, gone meanwhile
            if (S_ISREG(es.st_mode)) {
                if (kachel) kacheln.push_back({prefix + name, static_cast<uint64_t>(es.st_size), ZeitNs(es)});
            } else if (S_ISDIR(es.st_mode) && unterordner) {
                const int sub = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                const std::string rel = prefix + name + "/";
                if (sub < 0 || !ListeEins(sub, rel, grenze, kacheln, dirs, besucht, meldungen)) {
                    meldungen.push_back("Ordner nicht lesbar: " + KachelPfad(ordner, prefix + name));
                    // Its time still tells when it changes.
                    dirs.push_back({rel, ZeitNs(es) >= grenze ? kZeitUnbekannt : ZeitNs(es)});
                }
            }
        }
        return true;
    }

    // Whether a folder changed since it was listed (or never was listed completely).
    bool MussListen() const {
        TStmt st;
        if (Text("SELECT value FROM meta WHERE key = 'vollstaendig'") != "1") return true;
        Prepare(st, "SELECT rel, mtime_ns FROM dirs");
        bool eins = false;
        int rc;
        while ((rc = sqlite3_step(st.s)) == SQLITE_ROW) {
            eins = true;
            const int64_t zeit = sqlite3_column_int64(st.s, 1);
            if (zeit == kZeitUnbekannt) return true;
            std::string rel;
            if (const unsigned char* t = sqlite3_column_text(st.s, 0))
                rel.assign(reinterpret_cast<const char*>(t), size_t(sqlite3_column_bytes(st.s, 0)));
            struct stat s{};
            const std::string pfad = rel.empty() ? ordner : KachelPfad(ordner, rel);
            if (::stat(pfad.c_str(), &s) != 0 || !S_ISDIR(s.st_mode) || ZeitNs(s) != zeit) return true;
        }
        Pruef(rc);
        return !eins;
    }

    std::vector<TGespeichert> Gespeichert() const {
        std::vector<TGespeichert> v;
        TReset r{gespeichert.s};
        int rc;
        while ((rc = sqlite3_step(gespeichert.s)) == SQLITE_ROW) {
            TGespeichert g;
            g.Id = sqlite3_column_int64(gespeichert.s, 0);
            if (const unsigned char* t = sqlite3_column_text(gespeichert.s, 1))
                g.Rel.assign(reinterpret_cast<const char*>(t), size_t(sqlite3_column_bytes(gespeichert.s, 1)));
            g.Groesse = static_cast<uint64_t>(sqlite3_column_int64(gespeichert.s, 2));
            g.Zeit = sqlite3_column_int64(gespeichert.s, 3);
            g.Quelle = static_cast<TAusdehnungsQuelle>(sqlite3_column_int(gespeichert.s, 4));
            v.push_back(std::move(g));
        }
        Pruef(rc);
        return v;
    }

    std::string NameVon(const std::string& rel) const {
        const std::size_t s = rel.rfind('/');
        return s == std::string::npos ? rel : rel.substr(s + 1);
    }

    TOrdnerStand Update(TOrdnerBeobachter* beob, bool vollstaendig);
    std::string Pruefen(TOrdnerKachel& k);
};

TOrdnerStand TOrdnerIndex::Impl::Update(TOrdnerBeobachter* beob, bool vollstaendig) {
    TOrdnerStand stand;
    // Kept until this Update succeeds: a rebuild in between adds its own.
    stand.Meldungen = offen;

    std::vector<TArbeit> arbeit;
    std::vector<std::string> entfernt;
    std::vector<TVerzeichnis> dirs;
    const bool listen = vollstaendig || MussListen();
    if (listen) {
        bool heil = false;
        try {
            heil = Text("PRAGMA quick_check") == "ok";
        } catch (const EUnbrauchbar&) {
        }
        if (!heil) throw EIndexDefekt(0, "Der Index des Ordners " + ordner + " ist besch\xC3\xA4" "digt.");
        const std::vector<TGespeichert> alt = Gespeichert();
        std::vector<TGelistet> neu;
        Listen(neu, dirs, stand.Meldungen);
        stand.Gelistet = true;
        // Both lists are in byte order: one pass finds new, changed and removed tiles.
        std::size_t i = 0, j = 0;
        while (i < neu.size() || j < alt.size()) {
            if (j == alt.size() || (i < neu.size() && neu[i].Rel < alt[j].Rel)) {
                arbeit.push_back({std::move(neu[i].Rel), neu[i].Groesse, neu[i].Zeit, true});
                ++i;
            } else if (i == neu.size() || alt[j].Rel < neu[i].Rel) {
                entfernt.push_back(alt[j].Rel);
                ++j;
            } else {
                if (neu[i].Groesse != alt[j].Groesse || neu[i].Zeit != alt[j].Zeit ||
                    alt[j].Quelle == TAusdehnungsQuelle::Fehler)
                    arbeit.push_back({std::move(neu[i].Rel), neu[i].Groesse, neu[i].Zeit, false});
                ++i, ++j;
            }
        }
    } else {
        // Unreadable tiles are tried again on every Update.
        TReset r{fehlerhaft.s};
        int rc;
        while ((rc = sqlite3_step(fehlerhaft.s)) == SQLITE_ROW) {
            std::string rel(reinterpret_cast<const char*>(sqlite3_column_text(fehlerhaft.s, 0)),
                            size_t(sqlite3_column_bytes(fehlerhaft.s, 0)));
            struct stat s{};
            const bool da = ::stat(KachelPfad(ordner, rel).c_str(), &s) == 0;
            arbeit.push_back({std::move(rel), da ? uint64_t(s.st_size) : 0, da ? ZeitNs(s) : 0, false});
        }
        Pruef(rc);
    }

    if (listen && (!arbeit.empty() || !entfernt.empty()))
        Transaktion([&] { SetMeta("vollstaendig", "0"); });

    // The tiles are looked at on every core; this thread writes, reports and asks.
    const std::size_t n = arbeit.size();
    std::vector<TBefundKachel> befund(n);
    std::vector<std::size_t> fertigListe;
    std::mutex m;
    std::condition_variable cv;
    std::atomic<std::size_t> naechste{0};
    std::atomic<bool> halt{false};
    std::size_t fertig = 0;
    auto arbeiter = [&] {
        for (;;) {
            if (halt.load(std::memory_order_relaxed)) return;
            const std::size_t i = naechste.fetch_add(1);
            if (i >= n) return;
            const std::string pfad = KachelPfad(ordner, arbeit[i].Rel);
            try {
                befund[i] = Ableiten(pfad, NameVon(arbeit[i].Rel), muster);
            } catch (const std::exception& e) {
                befund[i] = Fehler(pfad, e.what());
            } catch (...) {
                befund[i] = Fehler(pfad, "unbekannter Fehler");
            }
            {
                std::lock_guard<std::mutex> l(m);
                fertigListe.push_back(i);
            }
            cv.notify_one();
        }
    };
    std::vector<std::thread> threads;
    const unsigned kerne = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t zahl = std::min<std::size_t>(kerne, n);
    threads.reserve(zahl);
    try {
        for (std::size_t t = 0; t < zahl; ++t) threads.emplace_back(arbeiter);
    } catch (const std::system_error&) {
        // Fewer threads than cores do the same work; none at all: this one does it.
        if (threads.empty()) arbeiter();
    }

    std::vector<std::size_t> zuSchreiben, geschrieben;
    auto schreiben = [&] {
        if (zuSchreiben.empty()) return;
        Transaktion([&] {
            for (std::size_t i : zuSchreiben) Schreibe(arbeit[i].Rel, arbeit[i].Groesse, arbeit[i].Zeit, befund[i]);
        });
        geschrieben.insert(geschrieben.end(), zuSchreiben.begin(), zuSchreiben.end());
        zuSchreiben.clear();
    };
    try {
        auto letzteSchrift = std::chrono::steady_clock::now();
        if (beob && n > 0) beob->Fortschritt(0, n);
        while (fertig < n) {
            {
                std::unique_lock<std::mutex> l(m);
                cv.wait_for(l, std::chrono::milliseconds(50),
                            [&] { return fertigListe.size() >= 256 || fertig + fertigListe.size() == n; });
                for (std::size_t i : fertigListe) zuSchreiben.push_back(i);
                fertig += fertigListe.size();
                fertigListe.clear();
            }
            const auto jetzt = std::chrono::steady_clock::now();
            if (zuSchreiben.size() >= kZeilenJeSchreiben || fertig == n || jetzt - letzteSchrift > std::chrono::seconds(1)) {
                schreiben();
                letzteSchrift = jetzt;
            }
            if (beob) {
                beob->Fortschritt(fertig, n);
                if (fertig < n && beob->CancelCheck()) {
                    stand.Abgebrochen = true;
                    break;
                }
            }
        }
    } catch (...) {
        halt = true;
        for (std::thread& t : threads) t.join();
        throw;
    }
    halt = true;
    for (std::thread& t : threads) t.join();
    // What the workers finished before they stopped is kept.
    for (std::size_t i : fertigListe) zuSchreiben.push_back(i);
    fertigListe.clear();
    if (listen || !zuSchreiben.empty() || !entfernt.empty()) Transaktion([&] {
        for (std::size_t i : zuSchreiben) Schreibe(arbeit[i].Rel, arbeit[i].Groesse, arbeit[i].Zeit, befund[i]);
        for (const std::string& rel : entfernt) Loesche(rel);
        if (listen && !stand.Abgebrochen) {
            Exec("DELETE FROM dirs");
            TStmt ins;
            Prepare(ins, "INSERT OR REPLACE INTO dirs(rel, mtime_ns) VALUES(?1, ?2)");
            for (const TVerzeichnis& d : dirs) {
                TReset r{ins.s};
                sqlite3_bind_text(ins.s, 1, d.Rel.data(), int(d.Rel.size()), SQLITE_STATIC);
                sqlite3_bind_int64(ins.s, 2, d.Zeit);
                Pruef(sqlite3_step(ins.s));
            }
            SetMeta("vollstaendig", "1");
        }
    });
    geschrieben.insert(geschrieben.end(), zuSchreiben.begin(), zuSchreiben.end());
    // In the tiles' order, whichever thread was first.
    std::sort(geschrieben.begin(), geschrieben.end());
    for (std::size_t i : geschrieben) {
        if (!befund[i].Meldung.empty()) stand.Meldungen.push_back(std::move(befund[i].Meldung));
        (arbeit[i].Neu ? stand.Neu : stand.Geaendert)++;
    }
    stand.Entfernt = entfernt.size();
    {
        TReset r{anzahl.s};
        const int rc = sqlite3_step(anzahl.s);
        if (rc != SQLITE_ROW) SqlFehler(rc);
        stand.Kacheln = static_cast<std::size_t>(sqlite3_column_int64(anzahl.s, 0));
    }
    offen.clear();
    return stand;
}

std::string TOrdnerIndex::Impl::Pruefen(TOrdnerKachel& k) {
    if (k.Relativ.empty()) return {};
    const std::string pfad = KachelPfad(ordner, k.Relativ);
    struct stat s{};
    if (::stat(pfad.c_str(), &s) != 0 || !S_ISREG(s.st_mode)) {
        // Gone: never found again until a listing looks at it.
        if (std::optional<TOrdnerKachel> alt = Lade(k.Relativ)) {
            TBefundKachel b;
            Transaktion([&] { Schreibe(k.Relativ, alt->Groesse, alt->Zeit, b); });
        }
        k.Quelle = TAusdehnungsQuelle::Fehler;
        k.Pfad = pfad;
        return {};
    }
    std::optional<TOrdnerKachel> jetzt = Lade(k.Relativ);
    std::string meldung;
    const uint64_t groesse = static_cast<uint64_t>(s.st_size);
    const int64_t zeit = ZeitNs(s);
    if (!jetzt || jetzt->Groesse != groesse || jetzt->Zeit != zeit) {
        TBefundKachel b = Ableiten(pfad, NameVon(k.Relativ), muster);
        meldung = b.Meldung;
        if (b.Quelle == TAusdehnungsQuelle::Fehler) meldung.clear();  // the run reports its own error
        Transaktion([&] { Schreibe(k.Relativ, groesse, zeit, b); });
        jetzt = Lade(k.Relativ);
        if (!jetzt) return meldung;
    }
    if (jetzt->Quelle == TAusdehnungsQuelle::Name && !jetzt->Geprueft) {
        const TBefundKachel b = Scannen(pfad);
        TBefundKachel neu;
        if (b.Quelle == TAusdehnungsQuelle::Fehler) {
            // Left as it is: the run meets the error itself.
            k = *jetzt;
            return meldung;
        }
        if (b.Quelle == TAusdehnungsQuelle::Leer) {
            neu.Quelle = TAusdehnungsQuelle::Leer;
        } else if (jetzt->Xmin <= b.Xmin && b.Xmax <= jetzt->Xmax && jetzt->Ymin <= b.Ymin && b.Ymax <= jetzt->Ymax) {
            neu.Quelle = TAusdehnungsQuelle::Name;
            neu.Xmin = jetzt->Xmin, neu.Xmax = jetzt->Xmax, neu.Ymin = jetzt->Ymin, neu.Ymax = jetzt->Ymax;
            neu.Geprueft = true;
        } else {
            neu = b;
            neu.Quelle = TAusdehnungsQuelle::Scan;
            meldung = NamensLuegeMeldung(pfad);
        }
        Transaktion([&] { Schreibe(k.Relativ, jetzt->Groesse, jetzt->Zeit, neu); });
        jetzt = Lade(k.Relativ);
        if (!jetzt) return meldung;
    }
    k = *jetzt;
    return meldung;
}

TOrdnerIndex::TOrdnerIndex(const std::string& ordner, const TOrdnerOptionen& optionen) : impl_(std::make_unique<Impl>()) {
    char* echt = ::realpath(ordner.c_str(), nullptr);
    if (!echt) {
        const int err = errno;
        throw EInOutError(ErrnoToFileError(err), "Ordner nicht lesbar: " + ordner, err);
    }
    impl_->ordner = echt;
    std::free(echt);
    const int fd = ::open(impl_->ordner.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        throw EInOutError(ErrnoToFileError(err), "Ordner nicht lesbar: " + ordner, err);
    }
    ::close(fd);
    impl_->unterordner = optionen.Unterordner;
    impl_->muster = CheckMuster(optionen.Muster).empty() ? optionen.Muster : std::string();
    impl_->Oeffnen(optionen.IndexOrdner.empty() ? StandardIndexOrdner() : optionen.IndexOrdner);
}

TOrdnerIndex::~TOrdnerIndex() = default;

const std::string& TOrdnerIndex::Ordner() const { return impl_->ordner; }
const std::string& TOrdnerIndex::IndexDatei() const { return impl_->indexDatei; }

TOrdnerStand TOrdnerIndex::Update(TOrdnerBeobachter* beobachter, bool vollstaendig) {
    std::lock_guard<std::mutex> l(impl_->mu);
    try {
        return impl_->Update(beobachter, vollstaendig);
    } catch (const EIndexDefekt&) {
        // Damaged while in use: never trusted, made anew.
        if (impl_->indexDatei.empty()) throw;
        impl_->Neuaufbau();
        return impl_->Update(beobachter, vollstaendig);
    }
}

namespace {
// Runs a read of the index; damage it meets makes the index anew from the folder and the read
// is repeated. The rebuild's messages wait for the next Update.
template <class Impl, class F>
auto MitNeuaufbau(Impl& m, F&& f) -> decltype(f()) {
    try {
        return f();
    } catch (const EIndexDefekt&) {
        if (m.indexDatei.empty()) throw;
        m.Neuaufbau();
        TOrdnerStand stand = m.Update(nullptr, false);
        m.offen = std::move(stand.Meldungen);
        return f();
    }
}
}  // namespace

void TOrdnerIndex::Find(double xmin, double xmax, double ymin, double ymax, std::vector<TOrdnerKachel>& out) const {
    std::lock_guard<std::mutex> l(impl_->mu);
    MitNeuaufbau(*impl_, [&] { FindUnsicher(xmin, xmax, ymin, ymax, out); });
}

void TOrdnerIndex::FindUnsicher(double xmin, double xmax, double ymin, double ymax,
                                std::vector<TOrdnerKachel>& out) const {
    out.clear();
    sqlite3_stmt* st = impl_->find.s;
    TReset r{st};
    sqlite3_bind_double(st, 1, xmin);
    sqlite3_bind_double(st, 2, xmax);
    sqlite3_bind_double(st, 3, ymin);
    sqlite3_bind_double(st, 4, ymax);
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        // The R*Tree's boxes are wider than the tiles: the exact extent decides.
        const double x0 = sqlite3_column_double(st, 2), x1 = sqlite3_column_double(st, 3);
        const double y0 = sqlite3_column_double(st, 4), y1 = sqlite3_column_double(st, 5);
        if (!(x0 <= xmax && x1 >= xmin && y0 <= ymax && y1 >= ymin)) continue;
        out.push_back(impl_->Zeile(st));
    }
    impl_->Pruef(rc);
    std::sort(out.begin(), out.end(), [](const TOrdnerKachel& a, const TOrdnerKachel& b) { return a.Relativ < b.Relativ; });
}

std::vector<TOrdnerKachel> TOrdnerIndex::All() const {
    std::lock_guard<std::mutex> l(impl_->mu);
    return MitNeuaufbau(*impl_, [&] { return AllUnsicher(); });
}

std::vector<TOrdnerKachel> TOrdnerIndex::AllUnsicher() const {
    std::vector<TOrdnerKachel> v;
    sqlite3_stmt* st = impl_->alle.s;
    TReset r{st};
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) v.push_back(impl_->Zeile(st));
    impl_->Pruef(rc);
    return v;
}

std::size_t TOrdnerIndex::Count() const {
    std::lock_guard<std::mutex> l(impl_->mu);
    sqlite3_stmt* st = impl_->anzahl.s;
    TReset r{st};
    const int rc = sqlite3_step(st);
    if (rc != SQLITE_ROW) impl_->SqlFehler(rc);
    return static_cast<std::size_t>(sqlite3_column_int64(st, 0));
}

std::optional<TOrdnerIndex::TBox> TOrdnerIndex::Union() const {
    std::lock_guard<std::mutex> l(impl_->mu);
    sqlite3_stmt* st = impl_->vereinigung.s;
    TReset r{st};
    const int rc = sqlite3_step(st);
    if (rc != SQLITE_ROW) impl_->SqlFehler(rc);
    if (sqlite3_column_int64(st, 4) == 0) return std::nullopt;
    return TBox{sqlite3_column_double(st, 0), sqlite3_column_double(st, 1), sqlite3_column_double(st, 2),
                sqlite3_column_double(st, 3)};
}

std::string TOrdnerIndex::Pruefen(TOrdnerKachel& k) {
    std::lock_guard<std::mutex> l(impl_->mu);
    return impl_->Pruefen(k);
}

}  // namespace tervalo
