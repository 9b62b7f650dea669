// Language drivers of dBase tables: the id written at level 4 and the name written at level 7.
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "formats/DbfFile.h"

namespace tervalo {

namespace {

struct LangDriver {
    uint8_t id;
    int codePage;
    int locale;
    const char* subtype;  // nullptr: none
};

constexpr LangDriver kDrivers[] = {
    {0x01, 437, 0x0409, "US0"},   {0x02, 850, 0x0809, "UK0"},   {0x03, 1252, 0x0809, "UK0"},
    {0x04, 10000, 0x0809, "UK0"}, {0x08, 865, 0x0406, "DA0"},   {0x09, 437, 0x0413, "NL0"},
    {0x0A, 850, 0x0413, "NL0"},   {0x0B, 437, 0x040B, "FI0"},   {0x0C, 850, 0x040B, "FI0"},
    {0x0D, 437, 0x040C, "FR0"},   {0x0E, 850, 0x040C, "FR0"},   {0x0F, 437, 0x0407, "DE0"},
    {0x10, 850, 0x0407, "DE0"},   {0x11, 437, 0x0410, "IT0"},   {0x12, 850, 0x0410, "IT1"},
    {0x13, 932, 0x0411, "JP0"},   {0x14, 850, 0x040A, "ES0"},   {0x15, 437, 0x041D, "SV0"},
    {0x16, 850, 0x041D, "SV1"},   {0x17, 865, 0x0414, "NO0"},   {0x18, 437, 0x040A, "ES1"},
    {0x19, 437, 0x0809, "UK0"},   {0x1A, 850, 0x0809, "UK0"},   {0x1B, 437, 0x0409, "US0"},
    {0x1C, 863, 0x0C0C, "CF1"},   {0x1D, 850, 0x0C0C, "CF1"},   {0x1F, 852, 0x0405, "CZ0"},
    {0x20, 867, 0x0405, "CZ0"},   {0x22, 852, 0x040E, "HDC"},   {0x23, 852, 0x0415, "PO0"},
    {0x24, 860, 0x0416, "PT0"},   {0x25, 850, 0x0416, "PT0"},   {0x26, 866, 0x0419, "RU0"},
    {0x37, 850, 0x0409, "US0"},   {0x4D, 936, 0x0804, "CN0"},   {0x4E, 949, 0x0412, "KO0"},
    {0x4F, 950, 0x0404, "TW0"},   {0x50, 874, 0x041E, "TH0"},   {0x56, 932, 0x0411, "JP1"},
    {0x57, 1252, 0x0000, "US0"},  {0x58, 1252, 0x0809, "WE0"},  {0x59, 1252, 0x040A, "ES0"},
    {0x5E, 437, 0x0407, "DE"},    {0x5F, 437, 0x0414, "NO"},    {0x60, 850, 0x0414, "NO"},
    {0x61, 1252, 0x0407, "DE"},   {0x62, 1252, 0x0414, "NO"},   {0x64, 852, 0x0405, "CZ0"},
    {0x65, 866, 0x0419, "RU0"},   {0x66, 865, 0x0414, "NO"},    {0x67, 861, 0x040F, "IC0"},
    {0x68, 895, 0x0405, "CZ0"},   {0x69, 620, 0x0415, "PO1"},   {0x6A, 737, 0x0408, "GR0"},
    {0x6B, 857, 0x041F, "TR0"},   {0x78, 950, 0x0C04, "CH0"},   {0x79, 949, 0x0412, "KO0"},
    {0x7A, 936, 0x21004, "CS0"},  {0x7B, 932, 0x0411, "JP0"},   {0x7C, 874, 0x041E, "TH0"},
    {0x7D, 1255, 0x040D, "REW"},  {0x7E, 1256, 0x0401, "AR0"},  {0x85, 862, 0x040D, "REW"},
    {0x86, 437, 0x0408, "GR0"},   {0x87, 852, 0x041B, "SL0"},   {0x88, 857, 0x041F, "TR0"},
    {0x8E, 868, 0x0402, nullptr}, {0x96, 10007, 0x0419, "RU0"}, {0x97, 10029, 0x0405, "CZ0"},
    {0x98, 10006, 0x0408, "GR0"}, {0x9B, 1250, 0x0405, nullptr}, {0x9C, 850, 0x0405, nullptr},
    {0xC8, 1250, 0x0405, "CZ0"},  {0xC9, 1251, 0x0419, "RU0"},  {0xCA, 1254, 0x041F, "TR0"},
    {0xCB, 1253, 0x0408, "GR0"},
};

const LangDriver* FindDriver(uint8_t id) {
    for (const auto& d : kDrivers)
        if (d.id == id) return &d;
    return nullptr;
}

bool IsDbaseGroup(uint8_t id) { return id == 0 || (id >= 5 && id <= 93); }

// One pass over the ids; anyCodePage drops the code-page condition.
uint8_t Search(int codePage, int locale, bool anyCodePage) {
    uint8_t dbase = 0, fox = 0;
    for (const auto& d : kDrivers) {  // ascending ids, so the last match wins
        if (d.locale != locale || (!anyCodePage && d.codePage != codePage)) continue;
        (IsDbaseGroup(d.id) ? dbase : fox) = d.id;
    }
    return dbase != 0 ? dbase : fox;
}

struct LocaleEntry {
    const char* name;
    int id;
};

// Windows locale ids of the common language_COUNTRY names.
constexpr LocaleEntry kLocales[] = {
    {"de_DE", 0x0407}, {"de_AT", 0x0C07}, {"de_CH", 0x0807}, {"de_LU", 0x1007}, {"de_LI", 0x1407},
    {"en_US", 0x0409}, {"en_GB", 0x0809}, {"en_AU", 0x0C09}, {"en_CA", 0x1009},
    {"en_NZ", 0x1409}, {"en_IE", 0x1809}, {"en_ZA", 0x1C09}, {"en_IN", 0x4009}, {"fr_FR", 0x040C},
    {"fr_BE", 0x080C}, {"fr_CA", 0x0C0C}, {"fr_CH", 0x100C}, {"fr_LU", 0x140C}, {"it_IT", 0x0410},
    {"it_CH", 0x0810}, {"es_ES", 0x0C0A}, {"es_MX", 0x080A}, {"es_AR", 0x2C0A}, {"nl_NL", 0x0413},
    {"nl_BE", 0x0813}, {"da_DK", 0x0406}, {"fi_FI", 0x040B}, {"sv_SE", 0x041D}, {"sv_FI", 0x081D},
    {"nb_NO", 0x0414}, {"no_NO", 0x0414}, {"nn_NO", 0x0814}, {"pt_PT", 0x0816}, {"pt_BR", 0x0416},
    {"pl_PL", 0x0415}, {"cs_CZ", 0x0405}, {"sk_SK", 0x041B}, {"sl_SI", 0x0424}, {"hu_HU", 0x040E},
    {"ru_RU", 0x0419}, {"uk_UA", 0x0422}, {"bg_BG", 0x0402}, {"el_GR", 0x0408}, {"tr_TR", 0x041F},
    {"he_IL", 0x040D}, {"ar_SA", 0x0401}, {"is_IS", 0x040F}, {"ja_JP", 0x0411}, {"ko_KR", 0x0412},
    {"zh_CN", 0x0804}, {"zh_TW", 0x0404}, {"zh_HK", 0x0C04}, {"th_TH", 0x041E}, {"hr_HR", 0x041A},
    {"ro_RO", 0x0418}, {"et_EE", 0x0425}, {"lv_LV", 0x0426}, {"lt_LT", 0x0427},
};

// Primary locale of a bare language name ("de" -> de_DE).
constexpr LocaleEntry kLanguages[] = {
    {"de", 0x0407}, {"en", 0x0409}, {"fr", 0x040C}, {"it", 0x0410}, {"es", 0x0C0A},
    {"nl", 0x0413}, {"da", 0x0406}, {"fi", 0x040B}, {"sv", 0x041D}, {"nb", 0x0414},
    {"no", 0x0414}, {"nn", 0x0814}, {"pt", 0x0816}, {"pl", 0x0415}, {"cs", 0x0405},
    {"sk", 0x041B}, {"sl", 0x0424}, {"hu", 0x040E}, {"ru", 0x0419}, {"uk", 0x0422},
    {"bg", 0x0402}, {"el", 0x0408}, {"tr", 0x041F}, {"he", 0x040D}, {"ar", 0x0401},
    {"is", 0x040F}, {"ja", 0x0411}, {"ko", 0x0412}, {"zh", 0x0804}, {"th", 0x041E},
    {"hr", 0x041A}, {"ro", 0x0418}, {"et", 0x0425}, {"lv", 0x0426}, {"lt", 0x0427},
};

}  // namespace

uint8_t CreationLanguageDriver(int codePage, int localeId) {
    int locale = localeId & 0xFFFF;
    uint8_t id = Search(codePage, locale, false);
    if (id == 0) id = Search(codePage, locale, true);
    return id;
}

std::string LanguageDriverName(uint8_t id) {
    const LangDriver* d = FindDriver(id);
    if (d == nullptr) return {};
    uint8_t again = CreationLanguageDriver(d->codePage, d->locale);
    const LangDriver* s = FindDriver(again);
    if (s == nullptr) return {};
    if (s->id == 0x8E) return "BGDB868";
    std::string name = "DB";
    name += d->codePage == 1252 ? std::string("WIN") : std::to_string(d->codePage);
    if (s->subtype != nullptr) name += s->subtype;
    return name;
}

int LocaleIdFromName(const std::string& name) {
    // "de_DE.UTF-8@euro" -> "de_DE"; "de-DE" as Qt's bcp47 names write it.
    std::string base = name.substr(0, name.find_first_of(".@"));
    for (char& c : base)
        if (c == '-') c = '_';
    for (const auto& e : kLocales)
        if (base == e.name) return e.id;
    std::string lang = base.substr(0, base.find('_'));
    for (const auto& e : kLanguages)
        if (lang == e.name) return e.id;
    return 0x0407;
}

TSpracheinstellung LanguageFromLocaleName(const std::string& name) {
    TSpracheinstellung s;
    s.CodePage = 1252;
    s.LocaleId = LocaleIdFromName(name);
    return s;
}

TSpracheinstellung& DefaultLanguage() {
    static TSpracheinstellung settings = [] {
        // The category that governs sorting decides, as on the original platform.
        for (const char* var : {"LC_ALL", "LC_COLLATE", "LANG"}) {
            const char* v = std::getenv(var);
            if (v != nullptr && *v != '\0') return LanguageFromLocaleName(v);
        }
        return TSpracheinstellung{};
    }();
    return settings;
}

}  // namespace tervalo
