#include "koord/Umrechnung.h"

#include <proj.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>

namespace tervalo {

namespace {

struct TPjLoeschen {
    void operator()(PJ* p) const { proj_destroy(p); }
};
using TPj = std::unique_ptr<PJ, TPjLoeschen>;

// Shortest text that reads back as the value, with a decimal comma.
std::string Komma(double v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    std::string s(buf, r.ptr);
    for (char& c : s)
        if (c == '.') c = ',';
    return s;
}

std::string Zahl(double v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

// "gk3 (EPSG:31467)", or "EPSG:31467" when that is how it was named.
std::string Benannt(const TBezugssystem& s) {
    if (s.Name.empty() || s.Name == s.Kanonisch) return s.Kanonisch;
    return s.Name + " (" + s.Kanonisch + ")";
}

// A system's area of use in its own (visualisation-ordered) coordinates.
struct TGebiet {
    double XMin = -std::numeric_limits<double>::infinity();
    double XMax = std::numeric_limits<double>::infinity();
    double YMin = -std::numeric_limits<double>::infinity();
    double YMax = std::numeric_limits<double>::infinity();
    std::string Name;
    bool Contains(double x, double y) const { return x >= XMin && x <= XMax && y >= YMin && y <= YMax; }
};

void Silent(void*, int, const char*) {}

}  // namespace

struct TUmrechnung::TQuelle {
    int Epsg = 0;
    TPj Crs;
    TPj Op;              // normalised: easting/northing, longitude/latitude
    bool Einzeln = false;  // one operation, no per-point choice
    bool GleichesDatum = false;
    TGebiet Gebiet;
    // The operations used so far, each with a handle to tell whether PROJ used it again.
    struct TBenutzt {
        TPj Pj;
        std::unique_ptr<TVerfahren> Verfahren;
        TGebiet Gebiet;  // the operation's area of use, in input coordinates
    };
    std::vector<TBenutzt> Benutzt;
    bool Geographisch = false;
    std::size_t Zuletzt = 0;  // index into Benutzt + 1; 0: none yet
};

struct TUmrechnung::TKontext {
    PJ_CONTEXT* Ctx = nullptr;
    TPj Ziel;
    TGebiet ZielGebiet;
    bool ZielGeographisch = false;
    std::vector<std::unique_ptr<TQuelle>> Quellen;
    std::vector<std::pair<int, bool>> Geprueft;  // EPSG code, geographic
    ~TKontext() {
        Quellen.clear();
        Ziel.reset();
        if (Ctx) proj_context_destroy(Ctx);
    }
};

namespace {

TPj CreateCrs(PJ_CONTEXT* ctx, const TBezugssystem& s, bool& geographisch) {
    const std::string code = std::to_string(s.Epsg);
    TPj crs(proj_create_from_database(ctx, "EPSG", code.c_str(), PJ_CATEGORY_CRS, 0, nullptr));
    if (!crs) throw EKoordFehler("PROJ kennt das Bezugssystem " + s.Kanonisch + " nicht");
    const PJ_TYPE t = proj_get_type(crs.get());
    if (t == PJ_TYPE_PROJECTED_CRS)
        geographisch = false;
    else if (t == PJ_TYPE_GEOGRAPHIC_2D_CRS)
        geographisch = true;
    else
        throw EKoordFehler("Das Bezugssystem " + s.Kanonisch +
                           " ist weder ein projiziertes noch ein geographisches 2D-System");
    return crs;
}

// The area of use of `obj` (a system or an operation) in the coordinates of `crs`.
TGebiet AreaOf(PJ_CONTEXT* ctx, const PJ* obj, PJ* crs, bool geographisch) {
    TGebiet g;
    double w = 0, s = 0, e = 0, n = 0;
    const char* name = nullptr;
    if (!proj_get_area_of_use(ctx, obj, &w, &s, &e, &n, &name) || w == -1000) return g;  // none known
    if (name) g.Name = name;
    if (geographisch) {
        if (w <= e) {  // an area across the antimeridian keeps its longitudes open
            g.XMin = w;
            g.XMax = e;
        }
        g.YMin = s;
        g.YMax = n;
        return g;
    }
    // The projected box holding the area: a cheap test per point that never refuses a point
    // of the area itself.
    if (w > e) return g;
    TPj geo(proj_crs_get_geodetic_crs(ctx, crs));
    if (!geo) return g;
    TPj op(proj_create_crs_to_crs_from_pj(ctx, geo.get(), crs, nullptr, nullptr));
    if (!op) return g;
    TPj norm(proj_normalize_for_visualization(ctx, op.get()));
    if (!norm) return g;
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    if (proj_trans_bounds(ctx, norm.get(), PJ_FWD, w, s, e, n, &x0, &y0, &x1, &y1, 21)) {
        g.XMin = x0;
        g.YMin = y0;
        g.XMax = x1;
        g.YMax = y1;
    }
    return g;
}

// The operation's name without the axis swaps our normalisation put around it: what remains is
// the name PROJ gives the operation itself.
std::string OwnName(const char* n) {
    std::string s = n ? n : "";
    constexpr std::string_view kTausch = "axis order change (2D)";
    const std::string vorn = std::string(kTausch) + " + ";
    const std::string hinten = " + " + std::string(kTausch);
    if (s.size() > vorn.size() && s.compare(0, vorn.size(), vorn) == 0) s.erase(0, vorn.size());
    if (s.size() > hinten.size() && s.compare(s.size() - hinten.size(), hinten.size(), hinten) == 0)
        s.erase(s.size() - hinten.size());
    return s;
}

// `gleichesDatum`: input and tiles share the datum, so the operation is a change of projection
// only, exact up to rounding; PROJ states no accuracy for it.
TVerfahren Describe(PJ_CONTEXT* ctx, PJ* op, bool gleichesDatum) {
    TVerfahren v;
    v.Name = OwnName(proj_get_name(op));
    v.GenauigkeitM = proj_coordoperation_get_accuracy(ctx, op);
    if (proj_coordoperation_has_ballpark_transformation(ctx, op))
        v.GenauigkeitM = -1;
    else if (v.GenauigkeitM < 0 && gleichesDatum)
        v.GenauigkeitM = 0;
    const int grids = proj_coordoperation_get_grid_used_count(ctx, op);
    for (int i = 0; i < grids; ++i) {
        const char* kurz = nullptr;
        const char* pfad = nullptr;
        if (!proj_coordoperation_get_grid_used(ctx, op, i, &kurz, &pfad, nullptr, nullptr, nullptr, nullptr,
                                               nullptr))
            continue;
        // The file read, as found in the data folder (proj-data's "BETA2007.gsb"); the catalogue's
        // name ("de_adv_BETA2007.tif") only when PROJ names no file.
        std::string datei = pfad && *pfad ? pfad : (kurz ? kurz : "");
        if (const std::size_t slash = datei.rfind('/'); slash != std::string::npos) datei.erase(0, slash + 1);
        if (datei.empty()) continue;
        v.Gitter = v.Gitter ? *v.Gitter + ", " + datei : datei;
    }
    return v;
}

bool SameDatum(PJ_CONTEXT* ctx, PJ* a, PJ* b) {
    TPj ga(proj_crs_get_geodetic_crs(ctx, a));
    TPj gb(proj_crs_get_geodetic_crs(ctx, b));
    if (!ga || !gb) return false;
    // Forced: ETRS89 and WGS 84 are datum ensembles, which have no plain datum.
    TPj da(proj_crs_get_datum_forced(ctx, ga.get()));
    TPj db(proj_crs_get_datum_forced(ctx, gb.get()));
    return da && db && proj_is_equivalent_to_with_ctx(ctx, da.get(), db.get(), PJ_COMP_EQUIVALENT);
}

}  // namespace

std::string VerfahrenText(const TVerfahren& v) {
    std::string gitter = "ohne Gitter";
    if (v.Gitter) {
        gitter = "Gitter ";
        // Each file without its extension ("BETA2007.gsb" -> "BETA2007").
        std::string_view rest = *v.Gitter;
        for (bool first = true; !rest.empty(); first = false) {
            const std::size_t komma = rest.find(", ");
            std::string_view f = rest.substr(0, komma);
            rest = komma == std::string_view::npos ? std::string_view() : rest.substr(komma + 2);
            const std::size_t punkt = f.rfind('.');
            if (punkt != std::string_view::npos && punkt > 0) f = f.substr(0, punkt);
            gitter += (first ? "" : ", ") + std::string(f);
        }
    }
    return "Umrechnung: " + v.Name + " (" + gitter + "), Genauigkeit " + Komma(v.GenauigkeitM) + " m";
}

TUmrechnung::TUmrechnung(TBezugssystem kacheln) : kacheln_(std::move(kacheln)) {}

TUmrechnung::~TUmrechnung() = default;

void TUmrechnung::Open() {
    if (ctx_) return;
    auto k = std::make_unique<TKontext>();
    k->Ctx = proj_context_create();
    if (!k->Ctx) throw EKoordFehler("PROJ l\xC3\xA4sst sich nicht starten");
    // Failures come back as German messages; PROJ's own log would only repeat them in English.
    proj_log_func(k->Ctx, nullptr, Silent);
    if (!proj_context_get_database_path(k->Ctx)) {
        const char* d = std::getenv("PROJ_DATA");
        if (!d) d = std::getenv("PROJ_LIB");
        throw EKoordFehler(std::string("PROJ findet seine Datenbank proj.db nicht (Ordner: ") +
                           (d ? d : "/usr/share/proj") + ")");
    }
    k->Ziel = CreateCrs(k->Ctx, kacheln_, k->ZielGeographisch);
    k->ZielGebiet = AreaOf(k->Ctx, k->Ziel.get(), k->Ziel.get(), k->ZielGeographisch);
    ctx_ = std::move(k);
}

TBezugssystem TUmrechnung::CheckSystem(const TBezugssystem& s) {
    if (s.Geprueft) return s;
    Open();
    TBezugssystem c = s;
    c.Geprueft = true;
    for (const auto& [code, geo] : ctx_->Geprueft)
        if (code == s.Epsg) {
            c.Geographisch = geo;
            return c;
        }
    CreateCrs(ctx_->Ctx, s, c.Geographisch);
    ctx_->Geprueft.emplace_back(s.Epsg, c.Geographisch);
    return c;
}

TUmrechnung::TErgebnis TUmrechnung::ConvertText(const TSystemWahl& wahl, std::string_view a, std::string_view b) {
    TErgebnis e;
    e.Eingabe = wahl.Auto ? DetectBezugssystem(a, b, &kacheln_) : CheckSystem(wahl.System);
    e.Werte = ReadEingabePunkt(e.Eingabe, a, b);
    e.Punkt = Convert(e.Eingabe, e.Werte);
    return e;
}

TUmrechnung::TQuelle& TUmrechnung::Source(const TBezugssystem& ein) {
    Open();
    for (auto& q : ctx_->Quellen)
        if (q->Epsg == ein.Epsg) return *q;
    auto q = std::make_unique<TQuelle>();
    q->Epsg = ein.Epsg;
    bool geographisch = false;
    q->Crs = CreateCrs(ctx_->Ctx, ein, geographisch);
    q->Geographisch = geographisch;
    TPj op(proj_create_crs_to_crs_from_pj(ctx_->Ctx, q->Crs.get(), ctx_->Ziel.get(), nullptr, nullptr));
    if (!op)
        throw EKoordFehler("PROJ kennt keine Umrechnung von " + Benannt(ein) + " nach " + kacheln_.Kanonisch);
    q->Op.reset(proj_normalize_for_visualization(ctx_->Ctx, op.get()));
    if (!q->Op)
        throw EKoordFehler("PROJ kennt keine Umrechnung von " + Benannt(ein) + " nach " + kacheln_.Kanonisch);
    // A choice among several operations has no name of its own; a single one is named, and
    // described as PROJ states it (before the axes were put in easting/longitude order).
    const char* name = proj_get_name(op.get());
    q->Einzeln = name && *name;
    q->GleichesDatum = SameDatum(ctx_->Ctx, q->Crs.get(), ctx_->Ziel.get());
    if (q->Einzeln)
        q->Benutzt.push_back({nullptr, std::make_unique<TVerfahren>(Describe(ctx_->Ctx, op.get(), q->GleichesDatum)),
                              AreaOf(ctx_->Ctx, op.get(), q->Crs.get(), geographisch)});
    q->Gebiet = AreaOf(ctx_->Ctx, q->Crs.get(), q->Crs.get(), geographisch);
    ctx_->Quellen.push_back(std::move(q));
    return *ctx_->Quellen.back();
}

TUmgerechnet TUmrechnung::Convert(const TBezugssystem& ein, const TEingabePunkt& p) {
    TUmgerechnet u;
    const double x = ein.Geographisch ? p.B : p.A;
    const double y = ein.Geographisch ? p.A : p.B;
    if (ein.SameAs(kacheln_)) {
        u.X = x;
        u.Y = y;
        return u;
    }
    TQuelle& q = Source(ein);
    PJ_CONTEXT* ctx = ctx_->Ctx;
    auto punkt = [&] { return Zahl(p.A) + " " + Zahl(p.B); };
    if (!q.Gebiet.Contains(x, y))
        throw EKoordFehler("Der Punkt " + punkt() + " liegt au\xC3\x9F" "erhalb des Gebiets, f\xC3\xBCr das " +
                           Benannt(ein) + " gilt" + (q.Gebiet.Name.empty() ? "" : " (" + q.Gebiet.Name + ")"));
    const PJ_COORD c = proj_coord(x, y, 0, HUGE_VAL);
    proj_errno_reset(q.Op.get());
    const PJ_COORD r = proj_trans(q.Op.get(), PJ_FWD, c);
    if (!std::isfinite(r.xy.x) || !std::isfinite(r.xy.y) || r.xy.x == HUGE_VAL)
        throw EKoordFehler("PROJ kann den Punkt " + punkt() + " nicht von " + Benannt(ein) + " nach " +
                           kacheln_.Kanonisch + " umrechnen");
    // Which operation PROJ chose: asking it clones the operation, so first see whether the
    // one used last gives the very same numbers.
    const TQuelle::TBenutzt* b = nullptr;
    if (q.Einzeln) {
        b = &q.Benutzt.front();
    } else {
        if (q.Zuletzt) {
            const TQuelle::TBenutzt& z = q.Benutzt[q.Zuletzt - 1];
            const PJ_COORD r2 = proj_trans(z.Pj.get(), PJ_FWD, c);
            if (std::memcmp(&r2.xy, &r.xy, sizeof r.xy) == 0) b = &z;
        }
        if (!b) {
            TPj last(proj_trans_get_last_used_operation(q.Op.get()));
            if (!last) throw EKoordFehler("PROJ nennt das Verfahren der Umrechnung nicht");
            TVerfahren d = Describe(ctx, last.get(), q.GleichesDatum);
            std::size_t i = 0;
            while (i < q.Benutzt.size() && q.Benutzt[i].Verfahren->Name != d.Name) ++i;
            if (i == q.Benutzt.size()) {
                TGebiet g = AreaOf(ctx, last.get(), q.Crs.get(), q.Geographisch);
                q.Benutzt.push_back({std::move(last), std::make_unique<TVerfahren>(std::move(d)), std::move(g)});
            }
            q.Zuletzt = i + 1;
            b = &q.Benutzt[i];
        }
    }
    const TVerfahren* v = b->Verfahren.get();
    if (v->GenauigkeitM < 0)
        throw EKoordFehler("F\xC3\xBCr die Umrechnung von " + Benannt(ein) + " nach " + kacheln_.Kanonisch +
                           " kennt PROJ an dieser Stelle nur ein Verfahren unbekannter Genauigkeit (" + v->Name +
                           "): keine Antwort, sie k\xC3\xB6nnte weit daneben liegen");
    // PROJ falls back to an operation of another area when none covers the point.
    if (!b->Gebiet.Contains(x, y))
        throw EKoordFehler("Der Punkt " + punkt() + " liegt au\xC3\x9F" "erhalb des Gebiets des Verfahrens " + v->Name +
                           (b->Gebiet.Name.empty() ? "" : " (" + b->Gebiet.Name + ")") +
                           ", des einzigen, das PROJ hier von " + Benannt(ein) + " nach " + kacheln_.Kanonisch +
                           " kennt: keine Antwort, sie k\xC3\xB6nnte weit daneben liegen");
    if (!ctx_->ZielGebiet.Contains(r.xy.x, r.xy.y))
        throw EKoordFehler("Der Punkt " + punkt() + " liegt umgerechnet (" + Zahl(r.xy.x) + " " + Zahl(r.xy.y) +
                           ") au\xC3\x9F" "erhalb des Gebiets des Bezugssystems der Kacheln " + kacheln_.Kanonisch +
                           (ctx_->ZielGebiet.Name.empty() ? "" : " (" + ctx_->ZielGebiet.Name + ")"));
    u.X = r.xy.x;
    u.Y = r.xy.y;
    u.Verfahren = v;
    return u;
}

TKachelFenster TUmrechnung::ConvertWindow(const TBezugssystem& ein, const TEingabeFenster& f) {
    const double a0 = std::fmin(f.AMin, f.AMax), a1 = std::fmax(f.AMin, f.AMax);
    const double b0 = std::fmin(f.BMin, f.BMax), b1 = std::fmax(f.BMin, f.BMax);
    TKachelFenster k;
    k.XMin = k.YMin = std::numeric_limits<double>::infinity();
    k.XMax = k.YMax = -std::numeric_limits<double>::infinity();
    auto take = [&](double a, double b) {
        const TUmgerechnet u = Convert(ein, TEingabePunkt{a, b, false});
        k.XMin = std::fmin(k.XMin, u.X);
        k.XMax = std::fmax(k.XMax, u.X);
        k.YMin = std::fmin(k.YMin, u.Y);
        k.YMax = std::fmax(k.YMax, u.Y);
        if (u.Verfahren && std::find(k.Verfahren.begin(), k.Verfahren.end(), u.Verfahren) == k.Verfahren.end())
            k.Verfahren.push_back(u.Verfahren);
    };
    // Edges bend under a change of projection or datum: 20 steps per edge hold the bulge
    // well below a millimetre for windows of tile size.
    constexpr int kSchritte = 20;
    for (int i = 0; i <= kSchritte; ++i) {
        const double t = static_cast<double>(i) / kSchritte;
        const double a = i == kSchritte ? a1 : a0 + (a1 - a0) * t;
        const double b = i == kSchritte ? b1 : b0 + (b1 - b0) * t;
        take(a, b0);
        take(a, b1);
        take(a0, b);
        take(a1, b);
    }
    return k;
}

}  // namespace tervalo
