#include "DateiFrm.h"

#include "config/Konf.h"
#include "filemanager/Extent.h"
#include "filemanager/Katalog.h"
#include "formats/PunktQuelle.h"
#include "filemanager/Konvert.h"
#include "ordner/OrdnerIndex.h"
#include "ui/DBFInfoFrm.h"
#include "ui/ErrorReport.h"
#include "ui/Globals.h"
#include "ui/IDoFenster1.h"
#include "ui/IndexFenster.h"
#include "ui/KurzMeldung.h"
#include "ui/Platform.h"
#include "tools/ScopeGuard.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QFontInfo>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace tervalo {

namespace {

constexpr int BottomBarHeight = 49;
constexpr int CreationWidths[6] = {30, 100, 67, 67, 67, 67};
constexpr const char* Headers[7] = {"Nr.", "  Datei", "Xmin", "Xmax", "Ymin", "Ymax", "  Verzeichnis"};
constexpr const char* OpenFilter =
    "unterst\xC3\xBCtzte Formate|*.xyz;*.dbf;*.txt;*.asc;*.tif;*.tiff;*.xyz.gz;*.txt.gz;*.asc.gz|"
    "XYZ-Dateien (*.xyz)|*.xyz|gepackte XYZ-Dateien (*.xyz.gz)|*.xyz.gz|"
    "dBase-Dateien (*.dbf)|*.dbf|Rasterdateien (*.tif;*.tiff;*.asc)|*.tif;*.tiff;*.asc|"
    "TXT-Dateien (*.txt)|*.txt|Alle Dateien (*.*)|*.*";
constexpr int MessageMs = 400;
constexpr int NameColumn = 1;  // creation number of the "Datei" column
constexpr const char* KeyHints =
    "Rechtsklick oder Strg+Einfg: Datei einf\xC3\xBCgen \xC2\xB7 Strg+Umschalt+Einfg: Ordner einf\xC3\xBCgen "
    "\xC2\xB7 Strg+Entf: l\xC3\xB6schen \xC2\xB7 Strg+I: Info \xC2\xB7 Strg+K: Konvertieren";
// A folder row whose index could not be opened: its count is not known.
constexpr std::size_t KachelnUnbekannt = static_cast<std::size_t>(-1);
// A message box lists this many index messages and counts the rest.
constexpr std::size_t MaxMeldungen = 12;

QString U(const std::string& s) { return QString::fromStdString(s); }

std::string KachelText(std::size_t n) { return n == 1 ? "1 Kachel" : std::to_string(n) + " Kacheln"; }

// What the "Datei" column shows: a file's name; a folder's name with its tile count.
std::string ShownName(const TKatalogZeile& z) {
    const std::string name = FileNamePart(z.Datei);
    if (!z.IstOrdner || name.empty()) return name;
    return name + (z.Kacheln == KachelnUnbekannt ? std::string(" (Ordner)") : " (" + KachelText(z.Kacheln) + ")");
}

// The index's count and union for a folder row, as the index holds them now: the box a
// folder entry stores is its tiles' union. Nothing is listed or scanned here.
void ReadIndexStand(TKatalogZeile& z, const TOrdnerOptionen& optionen) {
    try {
        TOrdnerIndex index(z.Datei, optionen);
        z.Kacheln = index.Count();
        if (const auto box = index.Union()) z.Xmin = box->Xmin, z.Xmax = box->Xmax, z.Ymin = box->Ymin, z.Ymax = box->Ymax;
    } catch (const std::exception&) {
        z.Kacheln = KachelnUnbekannt;
    }
}

// The index messages of a build for one box: the first ones in full, the rest counted.
QString MeldungenText(const std::vector<std::string>& meldungen) {
    QStringList zeilen;
    for (std::size_t i = 0; i < meldungen.size() && i < MaxMeldungen; ++i) zeilen << U(meldungen[i]);
    if (meldungen.size() > MaxMeldungen)
        zeilen << QStringLiteral("\u2026 und %1 weitere Meldungen.").arg(meldungen.size() - MaxMeldungen);
    return zeilen.join(u'\n');
}

// "caption|patterns|caption|patterns" as the name filters of a Qt file dialog. A caption that
// does not show its patterns gets them appended, for Qt reads the patterns from there.
QStringList NameFilters(const char* filter) {
    const QStringList parts = QString::fromUtf8(filter).split(u'|');
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString caption = parts[i];
        // Qt splits the patterns at blanks only, so those a caption shows with ';' are given so.
        if (!caption.contains(u'('))
            caption += QStringLiteral(" (") + QString(parts[i + 1]).replace(u';', u' ') + u')';
        else
            caption.replace(u';', u' ');
        out << caption;
    }
    return out;
}

// An extent as the configuration file stores it, with the user's decimal separator: the
// value shown is the value OK keeps.
std::string ExtentText(double v) { return FixedText(v, 10, 2, UserDecimalSeparator()); }

bool SameFileOnDisk(const std::string& a, const std::string& b) {
    std::error_code ec;
    return std::filesystem::equivalent(std::filesystem::path(a), std::filesystem::path(b), ec);
}

// Shows the conversion's progress and offers cancelling it with Escape.
class TKonvertWindow : public TKonvertBeobachter {
public:
    TKonvertWindow(QWidget* owner, TIDoFenster& w) : owner_(owner), w_(w) {}
    void Start(const std::string& targetName) override {
        w_.SetZiel(U(targetName));
        w_.SetUebernommen(QStringLiteral("0"));
        w_.SetNichtUebernommen(QStringLiteral("0"));
        w_.SetFrame(0);
        w_.repaint();
    }
    void Progress(const TKonvertFortschritt& p) override {
        w_.SetUebernommen(QString::number(p.ShownTaken));
        w_.SetNichtUebernommen(QString::number(p.ShownNotTaken));
        if (p.Picture != w_.Frame()) w_.SetFrame(p.Picture);
        // A click on the file manager lets the window manager raise it over the progress
        // window; while the program is in front, the progress window comes back on top.
        if (Platform().IsActiveApplication()) w_.raise();
        w_.repaint();
    }
    bool CancelCheck() override { return EscapeCancelCheck(owner_, &w_); }

private:
    QWidget* owner_;
    TIDoFenster& w_;
};

}  // namespace

// --- the grid ------------------------------------------------------------------

// Draws a file name shortened to its column so that its end stays in sight; the item keeps
// the whole name.
class TDateiGrid::NameDelegate : public QStyledItemDelegate {
public:
    explicit NameDelegate(TDateiGrid* grid) : QStyledItemDelegate(grid), grid_(grid) {}

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const int col = grid_->horizontalHeader()->visualIndex(index.column()) + 1;
        const int row = grid_->verticalHeader()->visualIndex(index.row()) + 1;
        option->text = U(grid_->ShownText(col, row));
    }

private:
    TDateiGrid* grid_;
};

TDateiGrid::TDateiGrid(QWidget* parent) : QTableWidget(parent) {
    setObjectName(QStringLiteral("DateiGrid"));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setWordWrap(false);
    setColumnCount(6);

    rowHeight_ = std::max(15, std::abs(QFontInfo(font()).pixelSize()) + 5);
    QHeaderView* hh = horizontalHeader();
    hh->setSectionsMovable(true);
    hh->setSectionResizeMode(QHeaderView::Interactive);
    hh->setStretchLastSection(false);
    hh->setHighlightSections(false);
    hh->setMinimumSectionSize(4);
    hh->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    QHeaderView* vh = verticalHeader();
    vh->setSectionsMovable(true);
    vh->setHighlightSections(false);
    vh->setSectionResizeMode(QHeaderView::Interactive);
    vh->setMinimumSectionSize(4);
    vh->setDefaultSectionSize(rowHeight_);
    vh->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int c = 0; c < columnCount(); ++c) {
        auto* h = new QTableWidgetItem;
        h->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        setHorizontalHeaderItem(c, h);
    }

    // The header cell of the number column sits on the corner button.
    if (auto* button = findChild<QAbstractButton*>(QString(), Qt::FindDirectChildrenOnly)) {
        corner_ = new QLabel(button);
        corner_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        corner_->setAttribute(Qt::WA_TransparentForMouseEvents);
        auto* l = new QHBoxLayout(button);
        l->setContentsMargins(2, 0, 0, 0);
        l->addWidget(corner_);
    }
    SetColWidth(0, 30);
    setItemDelegateForColumn(NameColumn - 1, new NameDelegate(this));
}

void TDateiGrid::SetRowCount(int rows) {
    const int data = std::max(rows - 1, 0);
    while (rowCount() < data) {
        const int r = rowCount();
        insertRow(r);
        auto* h = new QTableWidgetItem;
        h->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        setVerticalHeaderItem(r, h);
    }
    // Rows go at the visual end, wherever earlier rows were dragged to.
    while (rowCount() > data) removeRow(verticalHeader()->logicalIndex(rowCount() - 1));
}

QTableWidgetItem* TDateiGrid::ItemAt(int col, int row) const {
    if (col < 0 || col >= ColCount() || row < 0 || row >= RowCount()) return nullptr;
    const int lc = col > 0 ? horizontalHeader()->logicalIndex(col - 1) : -1;
    const int lr = row > 0 ? verticalHeader()->logicalIndex(row - 1) : -1;
    if (row == 0) return col > 0 ? horizontalHeaderItem(lc) : nullptr;
    if (col == 0) return verticalHeaderItem(lr);
    return item(lr, lc);
}

std::string TDateiGrid::Cell(int col, int row) const {
    if (col == 0 && row == 0) return corner_ ? corner_->text().toStdString() : std::string();
    const QTableWidgetItem* it = ItemAt(col, row);
    return it ? it->text().toStdString() : std::string();
}

void TDateiGrid::SetCell(int col, int row, const std::string& text) {
    if (col == 0 && row == 0) {
        if (corner_) corner_->setText(U(text));
        return;
    }
    if (col < 0 || col >= ColCount() || row < 0 || row >= RowCount()) return;
    if (QTableWidgetItem* it = ItemAt(col, row)) {
        it->setText(U(text));
        return;
    }
    auto* it = new QTableWidgetItem(U(text));
    it->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    it->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    const int lr = verticalHeader()->logicalIndex(row - 1);
    if (col == 0) {
        setVerticalHeaderItem(lr, it);
    } else {
        setItem(lr, horizontalHeader()->logicalIndex(col - 1), it);
    }
}

int TDateiGrid::ColWidth(int col) const {
    if (col == 0) return verticalHeader()->width();
    if (col < 0 || col >= ColCount()) return 0;
    return columnWidth(horizontalHeader()->logicalIndex(col - 1));
}

void TDateiGrid::SetColWidth(int col, int width) {
    if (col == 0) {
        verticalHeader()->setFixedWidth(width);
        return;
    }
    if (col < 0 || col >= ColCount()) return;
    setColumnWidth(horizontalHeader()->logicalIndex(col - 1), width);
}

int TDateiGrid::TextWidth(std::string_view text) const {
    return QFontMetrics(font()).horizontalAdvance(
        QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

int TDateiGrid::CellWidthFor(std::string_view text) const {
    // The item view keeps the focus-frame margin plus one pixel on either side of a cell's
    // text, and the grid line takes one pixel of the column. One pixel more, as the view lays
    // text out in fractions of pixels and cuts what is wider by a fraction.
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    return TextWidth(text) + 2 * margin + (showGrid() ? 1 : 0) + 1;
}

std::string TDateiGrid::ShownText(int col, int row) const {
    std::string text = Cell(col, row);
    if (row < 1 || col != PlaceOfColumn(NameColumn)) return text;
    struct Measure : TTextMass {
        const TDateiGrid& g;
        explicit Measure(const TDateiGrid& grid) : g(grid) {}
        int TextWidth(std::string_view t) const override { return g.TextWidth(t); }
    } measure(*this);
    return ShortenPath(text, measure, ColWidth(col) - CellWidthFor(""));
}

std::string TDateiGrid::CellHint(int col, int row) const {
    const QTableWidgetItem* it = ItemAt(col, row);
    return it ? it->toolTip().toStdString() : std::string();
}

void TDateiGrid::SetCellHint(int col, int row, const std::string& hint) {
    if (!ItemAt(col, row)) SetCell(col, row, std::string());
    if (QTableWidgetItem* it = ItemAt(col, row)) it->setToolTip(U(hint));
}

int TDateiGrid::PlaceOfColumn(int number) const {
    if (number <= 0 || number >= ColCount()) return number == 0 ? 0 : -1;
    return horizontalHeader()->visualIndex(number - 1) + 1;
}

int TDateiGrid::CursorRow() const {
    const int r = currentRow();
    return r < 0 ? 1 : verticalHeader()->visualIndex(r) + 1;
}

void TDateiGrid::SetCursorRow(int row) {
    if (row < 1 || row >= RowCount()) return;
    const int c = currentColumn() >= 0 ? currentColumn() : horizontalHeader()->logicalIndex(0);
    setCurrentCell(verticalHeader()->logicalIndex(row - 1), c);
}

void TDateiGrid::MoveRow(int from, int to) {
    if (from < 1 || to < 1 || from >= RowCount() || to >= RowCount()) return;
    verticalHeader()->moveSection(from - 1, to - 1);
}

void TDateiGrid::MoveCol(int from, int to) {
    if (from < 1 || to < 1 || from >= ColCount() || to >= ColCount()) return;
    horizontalHeader()->moveSection(from - 1, to - 1);
}

// --- the window ----------------------------------------------------------------

TDateiForm::TDateiForm(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("DateiForm"));
    setWindowTitle(QStringLiteral("  Dateimanager"));
    resize(DesignWidth, DesignHeight);

    DateiGrid = new TDateiGrid(this);
    BottomBar = new QWidget(this);
    BottomBar->setFixedHeight(BottomBarHeight);
    OKButton = new QPushButton(QStringLiteral("OK"), BottomBar);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setDefault(true);
    OKButton->setAutoDefault(true);
    OKButton->setMinimumWidth(90);
    auto* bar = new QHBoxLayout(BottomBar);
    bar->setContentsMargins(8, 8, 8, 8);
    bar->addStretch(1);
    bar->addWidget(OKButton);
    bar->addStretch(1);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addWidget(DateiGrid, 1);
    // The actions live in the list's context menu; this line says so, and names their keys.
    HintLine = new QLabel(QString::fromUtf8(KeyHints), this);
    HintLine->setObjectName(QStringLiteral("HintLine"));
    HintLine->setContentsMargins(8, 4, 8, 0);
    HintLine->setWordWrap(true);  // the window may still be made narrow
    outer->addWidget(HintLine);
    outer->addWidget(BottomBar);

    // 7 columns, the header row and one data row.
    DateiGrid->SetRowCount(2);
    // An extent column shows the start values of an empty scan in full, the widest texts it
    // holds, and is no wider.
    const int extentWidth =
        std::max(DateiGrid->CellWidthFor(ExtentText(999999999.0)), DateiGrid->CellWidthFor(ExtentText(-9999999.0)));
    int used = 0;
    for (int c = 0; c < 6; ++c) {
        const int w = c >= 2 ? extentWidth : CreationWidths[c];
        DateiGrid->SetColWidth(c, w);
        used += w;
    }
    DateiGrid->SetColWidth(6, DesignWidth - used - 30);
    for (int c = 0; c < 7; ++c) DateiGrid->SetCell(c, 0, Headers[c]);
    for (int c : {0, 2, 3, 4, 5}) CenterCell(*DateiGrid, c, 0);
    DateiGrid->SetCursorRow(1);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setToolTipsVisible(true);
    auto makeAction = [this](const char* name, const QString& caption, const QKeySequence& key,
                             const QString& hint, void (TDateiForm::*handler)()) {
        auto* a = new QAction(caption, this);
        a->setObjectName(QString::fromLatin1(name));
        a->setShortcut(key);
        a->setShortcutContext(Qt::WindowShortcut);
        a->setToolTip(hint);
        a->setStatusTip(hint);
        addAction(a);  // the shortcut works without the menu open
        connect(a, &QAction::triggered, this, [this, handler] {
            Guarded([&] { (this->*handler)(); });
        });
        return a;
    };
    Datei_einfuegen = makeAction("Datei_einfuegen", QStringLiteral("Datei einf\u00FCgen"),
                                 QKeySequence(Qt::CTRL | Qt::Key_Insert),
                                 QStringLiteral("Daten-Datei vor Cursor einf\u00FCgen"),
                                 &TDateiForm::Datei_einfuegenClick);
    Ordner_einfuegen = makeAction("Ordner_einfuegen", QStringLiteral("Ordner einf\u00FCgen"),
                                  QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Insert),
                                  QStringLiteral("Ordner mit Kacheln vor Cursor einf\u00FCgen"),
                                  &TDateiForm::Ordner_einfuegenClick);
    Datei_loeschen = makeAction("Datei_loeschen", QStringLiteral("Datei l\u00F6schen"),
                                QKeySequence(Qt::CTRL | Qt::Key_Delete),
                                QStringLiteral("Markierte Datei aus Liste l\u00F6schen"),
                                &TDateiForm::Datei_loeschenClick);
    Datei_Info = makeAction("Datei_Info", QStringLiteral("Datei Info"), QKeySequence(Qt::CTRL | Qt::Key_I),
                            QStringLiteral("Info zur dBase-Datei"), &TDateiForm::Datei_InfoClick);
    Konvertieren1 = makeAction("Konvertieren1", QStringLiteral("Konvertieren"),
                               QKeySequence(Qt::CTRL | Qt::Key_K),
                               QStringLiteral("Konvertierung ASCII-dBase-ASCII"),
                               &TDateiForm::Konvertieren1Click);
    PopupMenu1->addAction(Datei_einfuegen);
    PopupMenu1->addAction(Ordner_einfuegen);
    PopupMenu1->addAction(Datei_loeschen);
    PopupMenu1->addAction(Datei_Info);
    PopupMenu1->addSeparator();
    PopupMenu1->addAction(Konvertieren1);

    DateiGrid->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(DateiGrid, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        PopupMenu1->popup(DateiGrid->viewport()->mapToGlobal(pos));
    });
    connect(OKButton, &QPushButton::clicked, this, [this] { Guarded([this] { OKButtonClick(); }); });
    // A row dragged to another place moves its catalogue entry with it.
    connect(DateiGrid->verticalHeader(), &QHeaderView::sectionMoved, this,
            [this](int, int from, int to) { katalog_.Move(from + 1, to + 1); });
}

int TDateiForm::MyShowModal(TDateien& dateien) {
    Dateien = dateien;
    const int r = exec();
    dateien = Dateien;
    return r;
}

void TDateiForm::ReadExtremwerte(const std::string& path, double& Xmin, double& Xmax, double& Ymin,
                                 double& Ymax) {
    tervalo::ReadExtremwerte(path, Xmin, Xmax, Ymin, Ymax);
}

std::string TDateiForm::ReadExtremwerte(const std::string& path, std::optional<int> system, double& Xmin,
                                        double& Xmax, double& Ymin, double& Ymax) {
    const TExtremwerte e = tervalo::ReadExtremwerte(path, system);
    Xmin = e.Xmin, Xmax = e.Xmax, Ymin = e.Ymin, Ymax = e.Ymax;
    return e.Hinweis;
}

void TDateiForm::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (shown_) return;
    shown_ = true;
    FormShow();
}

void TDateiForm::FormShow() {
    katalog_ = TKatalog::FromDateien(Dateien);
    // An empty catalogue's blank row stays as the grid was set up.
    const int filled = Dateien.Eintraege() == 0 ? 0 : katalog_.Rows();
    for (int i = 1; i <= filled; ++i) {
        if (!katalog_.Row(i).IstOrdner) continue;
        TKatalogZeile z = katalog_.Row(i);
        ReadIndexStand(z, Dateien.Ordner);
        katalog_.SetRow(i, std::move(z));
    }
    for (int i = 1; i <= filled; ++i) {
        if (i >= DateiGrid->RowCount()) DateiGrid->SetRowCount(i + 1);
        DateiGrid->SetCell(0, i, std::to_string(i));
        CenterCell(*DateiGrid, 0, i);
        FillRow(i);
    }
    // Widths belong to the columns, whatever place a column was dragged to.
    for (int c = 0; c < DateiGrid->ColCount(); ++c) {
        const int place = DateiGrid->PlaceOfColumn(c);
        const int w = Settings.DateiGridBreiten[c];
        if (w > DateiGrid->TextWidth(DateiGrid->Cell(place, 0))) DateiGrid->SetColWidth(place, w);
    }
    // Without a remembered width the names start in full, up to half the list.
    const int place = DateiGrid->PlaceOfColumn(NameColumn);
    if (Settings.DateiGridBreiten[NameColumn] <= DateiGrid->TextWidth(DateiGrid->Cell(place, 0))) {
        int need = DateiGrid->ColWidth(place);
        for (int r = 1; r <= filled; ++r)
            need = std::max(need, DateiGrid->CellWidthFor(ShownName(katalog_.Row(r))));
        need = std::min(need, width() / 2);
        if (need > DateiGrid->ColWidth(place)) {
            DateiGrid->SetColWidth(place, need);
            FormCanResize();
        }
    }
    ShowHints();
}

void TDateiForm::FormClose() {
    for (int c = 0; c < DateiGrid->ColCount() && c < 11; ++c)
        Settings.DateiGridBreiten[c] = DateiGrid->ColWidth(DateiGrid->PlaceOfColumn(c));
}

void TDateiForm::FormCanResize() {
    // "Verzeichnis" takes what the other columns leave, wherever it stands.
    int used = 0;
    for (int c = 0; c < 6; ++c) used += DateiGrid->ColWidth(DateiGrid->PlaceOfColumn(c));
    // A width below the header's least (even below 0, which the header would pass over) is
    // that least: the others took the room.
    DateiGrid->SetColWidth(DateiGrid->PlaceOfColumn(6),
                           std::max(DateiGrid->width() - used - 30, DateiGrid->horizontalHeader()->minimumSectionSize()));
}

void TDateiForm::resizeEvent(QResizeEvent* e) {
    QDialog::resizeEvent(e);
    FormCanResize();
}

int TDateiForm::FindColumn(const std::string& header) const {
    for (int c = 1; c < DateiGrid->ColCount(); ++c)
        if (Trim(DateiGrid->Cell(c, 0)) == header) return c;
    return -1;
}

std::string TDateiForm::RowFileName(int row) const {
    return row >= 1 && row <= katalog_.Rows() ? katalog_.Row(row).Name() : std::string();
}

std::string TDateiForm::RowFolder(int row) const {
    return row >= 1 && row <= katalog_.Rows() ? katalog_.Row(row).Ordner() : std::string();
}

int TDateiForm::NamedRows() const { return katalog_.NamedRows(); }

void TDateiForm::FillRow(int row) {
    const TKatalogZeile& z = katalog_.Row(row);
    const std::pair<const char*, std::string> cells[] = {
        {"Datei", ShownName(z)},       {"Xmin", ExtentText(z.Xmin)}, {"Xmax", ExtentText(z.Xmax)},
        {"Ymin", ExtentText(z.Ymin)},     {"Ymax", ExtentText(z.Ymax)}, {"Verzeichnis", FolderPart(z.Datei)},
    };
    for (const auto& [header, text] : cells)
        if (const int c = FindColumn(header); c >= 0) DateiGrid->SetCell(c, row, text);
}

void TDateiForm::ShowHints() {
    const int c = FindColumn("Datei");
    if (c < 0) return;
    for (int r = 1; r < DateiGrid->RowCount(); ++r) {
        const bool named = r <= katalog_.Rows() && !katalog_.Row(r).Name().empty();
        DateiGrid->SetCellHint(c, r, named ? katalog_.Row(r).Pfad() : std::string());
    }
}

void TDateiForm::Renumber(int from) {
    for (int r = std::max(from, 1); r < DateiGrid->RowCount(); ++r) {
        DateiGrid->SetCell(0, r, std::to_string(r));
        CenterCell(*DateiGrid, 0, r);
    }
}

void TDateiForm::Datei_einfuegenClick() {
    if (running_) return;
    TOpenDialog dlg;
    dlg.Title = QStringLiteral("Koordinatendatei \u00F6ffnen");
    dlg.Filters = NameFilters(OpenFilter);
    const QStringList paths = Platform().OpenFiles(this, dlg);
    for (const QString& qpath : paths) {
        const std::string path = qpath.toStdString();
        const std::string name = FileNamePart(path);
        if (!IsValidFileName(path)) {
            ShowShortMessage(QStringLiteral("Dateiname nicht OK: ") + U(name), MessageMs);
            continue;
        }
        if (katalog_.ContainsName(name)) {
            ShowShortMessage(QStringLiteral("Datei: ") + U(name) + QStringLiteral(" schon vorhanden!"), MessageMs);
            continue;
        }
        // The catalogue holds 250 entries; a further row would be lost on OK.
        if (katalog_.Full()) {
            ShowShortMessage(QStringLiteral("Die Liste ist voll: h\u00F6chstens %1 Dateien!").arg(MaxDateien),
                             MessageMs);
            break;
        }
        const int row = DateiGrid->CursorRow();
        InsertGridRow(*DateiGrid, row);
        // The row stays, blank, when the scan fails.
        katalog_.InsertAt(row, {});
        Renumber(row);

        double xmin, xmax, ymin, ymax;
        std::string hinweis;
        try {
            Platform().SetBusyCursor(true);
            auto busy = OnExit([] { Platform().SetBusyCursor(false); });
            hinweis = ReadExtremwerte(path, Dateien.System, xmin, xmax, ymin, ymax);
        } catch (...) {
            // A file whose scan fails (a damaged table or packed tile) leaves no blank row
            // behind its report.
            DeleteGridRow(*DateiGrid, row);
            katalog_.Remove(row);
            Renumber(row);
            ShowHints();
            DateiGrid->SetCursorRow(std::min(row, DateiGrid->RowCount() - 1));
            throw;
        }
        katalog_.SetRow(row, {path, xmin, xmax, ymin, ymax});
        FillRow(row);
        ShowHints();
        DateiGrid->SetCursorRow(row);
        DateiGrid->viewport()->repaint();
        // Added all the same: its points answer as they are.
        if (!hinweis.empty())
            Platform().MessageBox(this, QStringLiteral("Hinweis"), U(hinweis + ": " + path), TMsgIcon::Info,
                                  TMsgButtons::Ok);
    }
}

int TDateiForm::InsertRow(TKatalogZeile z) {
    const int row = DateiGrid->CursorRow();
    InsertGridRow(*DateiGrid, row);
    katalog_.InsertAt(row, std::move(z));
    Renumber(row);
    FillRow(row);
    ShowHints();
    DateiGrid->SetCursorRow(row);
    DateiGrid->viewport()->repaint();
    return row;
}

void TDateiForm::Ordner_einfuegenClick() {
    if (running_) return;
    TOpenDialog dlg;
    dlg.Title = QStringLiteral("Ordner mit Kacheln \u00F6ffnen");
    std::string path = Platform().OpenFolder(this, dlg).toStdString();
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (path.empty()) return;
    const std::string name = FileNamePart(path);
    // The catalogue stores a folder's path like a file's, under the same rules.
    if (!IsValidFileName(path)) {
        ShowShortMessage(QStringLiteral("Ordnername nicht OK: ") + U(name), MessageMs);
        return;
    }
    // Folders of one name from different places are different entries.
    if (katalog_.ContainsOrdner(path)) {
        ShowShortMessage(QStringLiteral("Ordner: ") + U(path) + QStringLiteral(" schon vorhanden!"), MessageMs);
        return;
    }
    if (katalog_.Full()) {
        ShowShortMessage(QStringLiteral("Die Liste ist voll: h\u00F6chstens %1 Dateien!").arg(MaxDateien), MessageMs);
        return;
    }

    TKatalogZeile z{path, kExtentStartMin, kExtentStartMax, kExtentStartMin, kExtentStartMax};
    z.IstOrdner = true;
    TOrdnerStand stand;
    {
        SetRunning(true);
        auto idle = OnExit([this] { SetRunning(false); });
        // Opening names an unreadable folder in its error, which the general report shows.
        TOrdnerIndex index(path, Dateien.Ordner);
        TIndexFenster progress(this, U(path));
        progress.ShowCentred();
        TIndexFensterBeobachter observer(this, progress);
        TEscapeWatch watch;
        stand = index.Update(&observer);
        // Cancelled: nothing is added; the index keeps what was done for the next try.
        if (stand.Abgebrochen) return;
        z.Kacheln = index.Count();
        if (const auto box = index.Union()) z.Xmin = box->Xmin, z.Xmax = box->Xmax, z.Ymin = box->Ymin, z.Ymax = box->Ymax;
    }
    const int row = InsertRow(std::move(z));
    // The count belongs to the name: the column grows to show both, up to half the list.
    const int place = DateiGrid->PlaceOfColumn(NameColumn);
    const int need = std::min(DateiGrid->CellWidthFor(ShownName(katalog_.Row(row))), width() / 2);
    if (need > DateiGrid->ColWidth(place)) {
        DateiGrid->SetColWidth(place, need);
        FormCanResize();
    }
    // Added all the same: the run reads the tiles that can be read.
    if (!stand.Meldungen.empty())
        Platform().MessageBox(this, QStringLiteral("Hinweis"), MeldungenText(stand.Meldungen), TMsgIcon::Info,
                              TMsgButtons::Ok);
}

void TDateiForm::Datei_loeschenClick() {
    if (running_) return;
    const int row = DateiGrid->CursorRow();
    if (DateiGrid->RowCount() <= 2) {
        for (int c = 0; c < DateiGrid->ColCount(); ++c) DateiGrid->SetCell(c, 1, std::string());
    } else {
        DeleteGridRow(*DateiGrid, row);
    }
    katalog_.Remove(row);
    Renumber(row);
    ShowHints();
}

void TDateiForm::Datei_InfoClick() {
    if (running_) return;
    const int row = DateiGrid->CursorRow();
    const std::string name = RowFileName(row);
    if (name.empty()) return;
    const std::string path = RowFolder(row) + name;
    if (!IsValidFileName(path)) return;
    // Asked for by a key or the menu: the user hears why nothing opens.
    if (!IsDbaseFile(path)) {
        ShowShortMessage(QStringLiteral("Keine dBase-Datei: ") + U(name), MessageMs);
        return;
    }
    TDBFInfoForm info(this);
    info.MyShowModal(path);
}

void TDateiForm::SetRunning(bool running) {
    running_ = running;
    for (QAction* a : {Datei_einfuegen, Ordner_einfuegen, Datei_loeschen, Datei_Info, Konvertieren1})
        a->setEnabled(!running);
    OKButton->setEnabled(!running);
}

void TDateiForm::Konvertieren1Click() {
    if (running_) return;
    const int row = DateiGrid->CursorRow();
    const std::string name = RowFileName(row);
    if (name.empty()) return;
    // A folder's tiles are converted one by one, as files.
    if (katalog_.Row(row).IstOrdner) {
        ShowShortMessage(QStringLiteral("Ein Ordner wird nicht konvertiert: ") + U(name), MessageMs);
        return;
    }
    const std::string folder = RowFolder(row);
    const std::string source = folder + name;
    if (!IsValidFileName(source)) return;
    // Opened once: its kind chooses the dialog, the conversion reads it. One that cannot be
    // opened is reported by the conversion, after the dialog, as ever.
    TPunktQuelle quelle(source);
    const bool dbase = quelle.IsDbase();

    TSaveDialog dlg;
    dlg.Title = QString::fromUtf8(dbase ? KonvertTitleToText : KonvertTitleToDbase);
    dlg.Filters = NameFilters(dbase ? KonvertFilterToText : KonvertFilterToDbase);
    dlg.FilterIndex = 1;
    dlg.InitialDir = U(folder);
    dlg.FileName = U(KonvertTargetName(name));
    dlg.OverwritePrompt = true;
    TAusgabe format;
    std::string target;
    for (;;) {
        const TSaveResult chosen = Platform().SaveFile(this, dlg);
        if (!chosen.Accepted || chosen.Path.isEmpty()) return;
        format = KonvertTargetFromFilter(dbase, chosen.FilterIndex);
        const std::string typed = chosen.Path.toStdString();
        target = KonvertTargetPath(typed, format);
        // Replacing the source would destroy it while it is being read.
        if (SameFileOnDisk(source, target)) {
            Platform().MessageBox(this, QStringLiteral("Fehler"), QString::fromUtf8(TextZielIstQuelle) + U(target),
                                  TMsgIcon::Error, TMsgButtons::Ok);
            return;
        }
        if (ConfirmAppendedTarget(this, dlg, chosen, typed, target)) break;
    }

    SetRunning(true);
    auto idle = OnExit([this] { SetRunning(false); });
    // Neither the catalogue (the one the window was opened with and the rows shown now) nor
    // the configuration may be overwritten.
    TSchutz schutz = ProtectedFiles(Dateien);
    for (int r = 1; r <= katalog_.Rows(); ++r)
        if (!katalog_.Row(r).Name().empty()) schutz.Quellen.push_back(katalog_.Row(r).Pfad());
    QString fehler;
    try {
        TIDoFenster progress(this);
        progress.SetZiel(U(FileNamePart(target)));
        progress.ShowCentred();
        TKonvertWindow observer(this, progress);
        TLaufOptionen options;
        options.DecimalSeparator = UserDecimalSeparator();
        options.Poll = Poll;
        TEscapeWatch watch;
        quelle.SetNoData(Dateien.NoData);
        Konvertieren(quelle, target, format, options, schutz, observer);
    } catch (const EZielAbgelehnt& e) {
        // A refusal names the target itself; a missing folder names the folder, so the
        // target is added.
        const std::string grund = e.what();
        if (e.Errno() == 0)
            fehler = U(grund);
        else
            fehler = QStringLiteral("Datei kann nicht angelegt werden:\n") +
                     U(grund.find(target) == std::string::npos ? target + "\n" + grund : grund);
    } catch (const EKonvertQuelle& e) {
        fehler = QStringLiteral("Datei kann nicht ge\u00F6ffnet werden:\n") + U(e.what());
    }
    // Without a word the user would take the missing target for a finished conversion.
    if (!fehler.isEmpty())
        Platform().MessageBox(this, QStringLiteral("Fehler"), fehler, TMsgIcon::Error, TMsgButtons::Ok);
}

void TDateiForm::OKButtonClick() {
    if (running_) return;
    katalog_.ToDateien(Dateien);
    done(QDialog::Accepted);
}

void TDateiForm::done(int r) {
    // The window stays while a conversion runs; it ends with the run.
    if (running_) return;
    FormClose();
    QDialog::done(r);
}

// Escape presses OK, as the OK button is also the window's cancel button.
void TDateiForm::reject() { Guarded([this] { OKButtonClick(); }); }

void TDateiForm::closeEvent(QCloseEvent* e) {
    if (running_) {
        e->ignore();
        return;
    }
    if (isVisible()) done(QDialog::Rejected);
    e->accept();
}

}  // namespace tervalo
