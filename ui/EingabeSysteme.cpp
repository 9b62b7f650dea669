#include "EingabeSysteme.h"

#include "config/Einstellungen.h"
#include "koord/Bezugssystem.h"

#include <QComboBox>
#include <QSignalBlocker>

namespace tervalo {

namespace {

struct TEingabeEintrag {
    const char* Name;
    const char* Text;
};
constexpr TEingabeEintrag EingabeEintraege[] = {
    {"gk2", "GK Zone 2 (EPSG:31466)"},   {"gk3", "GK Zone 3 (EPSG:31467)"},
    {"gk4", "GK Zone 4 (EPSG:31468)"},   {"gk5", "GK Zone 5 (EPSG:31469)"},
    {"utm32", "UTM 32 (EPSG:25832)"},    {"utm33", "UTM 33 (EPSG:25833)"},
    {"wgs84", "WGS 84 (Breite/Länge)"},  {"etrs89", "ETRS89 (Breite/Länge)"},
};

}  // namespace

void FillEingabeSysteme(QComboBox* cb, std::optional<int> kachelSystem) {
    const QSignalBlocker still(cb);
    cb->clear();
    if (!kachelSystem) return;
    cb->addItem(QStringLiteral("Kachelsystem (%1)").arg(QString::fromStdString(SystemText(*kachelSystem))), QString());
    for (const TEingabeEintrag& e : EingabeEintraege)
        if (ParseBezugssystem(e.Name).Epsg != *kachelSystem)
            cb->addItem(QString::fromUtf8(e.Text), QString::fromLatin1(e.Name));
}

}  // namespace tervalo
