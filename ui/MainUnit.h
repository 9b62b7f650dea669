#pragma once
// Main window: coordinate input, height query, result labels and the result grid.
#include "config/Einstellungen.h"
#include "config/TYPEN.h"
#include "koord/Bezugssystem.h"
#include "query/Query.h"
#include "ui/PBNumEdit.h"
#include "ui/ResultGrid.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QToolButton>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace tervalo {

class TUmrechnung;
class TProfilForm;

// Capture range as LB_Fang shows it: 4 significant digits, one decimal, digit grouping in the
// given locale; exponent form from 10000 on.
QString FangText(double fangbreite, const QLocale& loc);

// Selected block of a text grid as clipboard text: tab between cells, GridRowEnd after each row.
QString GridBlockText(const TTextGitter& grid, int left, int top, int right, int bottom);

class TForm1 : public QDialog {
    Q_OBJECT
public:
    // Design size; hiding the grid narrows the window by the grid's width + 2.
    static constexpr int DesignWidth = 600;
    static constexpr int DesignHeight = 446;
    // Height added below the design for the input system's choice (only with a tiles' system).
    static constexpr int EingabeZusatz = 60;
    // Room the top bar's "Profil…" button takes from the file label (button and gap).
    static constexpr int ProfilBreite = 64;

    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Handlers.
    void FormCreate();
    void FormActivate();
    // Saves the configuration (unless it must not be written) and releases the point store.
    // Never keeps the window open: a failed save is reported at most once.
    void FormClose();
    void ExitBtnClick();
    void AboutClick();
    void SB_OptionenClick();
    // Opens the profile window (one per main window) on the current catalogue and settings.
    void SB_ProfilClick();
    void StartBtnClick();
    void Btn_GridShowClick();
    void StringGrid1DblClick();
    void inZwischenablagekopieren1Click();

    // State.
    TDateien Dateien;
    // The settings file beside the configuration, read on activation, written on closing.
    TEinstellungen Einstellungen;
    std::string ProgramFolder;          // with a trailing separator; bare names resolve below it
    // Where folder entries' indexes live (ends in "/"); given to the catalogue on activation.
    std::string IndexOrdner;
    bool KonfOrdnerAnlegen = false;     // installed: saving creates the per-user folders
    bool GridShown = false;
    bool Activated = false;
    const THoehenAbfrage* Abfrage() const { return abfrage_.get(); }
    int LetzterEintrag() const { return letzterEintrag_; }
    int BusyStep() const { return busyStep_; }
    // Pixels the window is wider than its design so that the longest catalogued file name
    // fits the file label (at most MaxZusatz).
    int DateiZusatz() const { return zusatz_; }
    static constexpr int MaxZusatz = 80;

    // The chosen input system's short name ("wgs84"); empty for the tiles' own system.
    std::string EingabeName() const;
    // Selects an input system by its short name; an unknown or unoffered one selects the
    // tiles' system. False in that case.
    bool SetEingabe(const std::string& name);
    // Shows the choice when the settings hold a tiles' system (and fills it for that system),
    // else hides it; the window's height follows. Called after the system changed.
    void UpdateEingabe();
    // Made on the first query in another system than the tiles'; null before.
    const TUmrechnung* Umrechnung() const { return umrechnung_.get(); }
    // Null until "Profil…" was first pressed.
    TProfilForm* Profil() const { return profil_; }

    // Controls.
    QWidget* TopBar;
    QLabel* StaticText11;
    QLabel* LB_Datei;
    QToolButton* SB_Profil;
    QToolButton* SB_Optionen;
    QToolButton* SpeedButton3;
    QToolButton* SpeedButton1;
    QGroupBox* GroupBox1;
    TPBNumEdit* PBN_X;
    TPBNumEdit* PBN_Y;
    QLabel* LB_Fang;
    // Latitude and longitude, in the places of PBN_X and PBN_Y for a geographic input system.
    QLineEdit* ED_Breite;
    QLineEdit* ED_Laenge;
    // The added area: the input system and what the last query converted.
    QLabel* LB_Eingabe;
    QComboBox* CB_Eingabe;
    QLabel* LB_Umrechnung;
    std::array<QLabel*, 4> LB_DateiN{};
    std::array<QLabel*, 4> LB_gelesen{};
    std::array<QLabel*, 4> LB_gefiltert{};
    QLabel* LB_nextPointR;
    QLabel* LB_nextPointZ;
    QLabel* LB_ExtrapolnPoints;
    QLabel* LB_ExtrapolPointZ;
    QPushButton* StartBtn;
    QPushButton* Btn_GridShow;
    TResultGrid* StringGrid1;
    QAction* inZwischenablagekopieren1;
    // Alt+P, Alt+O, F1 and Alt+E: the top bar's buttons without the mouse.
    QShortcut* ProfilKey;
    QShortcut* OptionenKey;
    QShortcut* InfoKey;
    QShortcut* EndeKey;

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void reject() override {}  // Escape never closes the main window

private:
    class Observer;
    class IndexObserver;
    void SetWindowWidth(int w);
    void PlaceControls();
    // Widens the window (within MaxZusatz) while the label is too narrow for the longest
    // catalogued file name, and sets the label's width.
    void FitDateiLabel();
    // The label's text, with the full path as hint when the text does not show it whole.
    // `notes`, when not empty, are shown with the path and mark the label.
    void ShowDateiLabel(const std::string& text, const std::string& voll, const std::string& notes = {});
    // `hinweis`, when not empty, is shown with the path and marks the row.
    // A folder's tile (`kachel`) keeps the end of a name too wide for its label.
    void ShowFileRow(int k, const std::string& name, const std::string& pfad, const std::string& hinweis = {},
                     bool kachel = false);
    void ShowBusyIcon(int step);
    void ResetLabels();
    void ClearGridData();
    // Shows the metre or the degree fields for the chosen system.
    void ShowEingabeFelder();
    void FocusFirstField();
    // The typed point in the tiles' system, with the label of the added area set; empty (after
    // a message) when the input cannot be read or converted.
    std::optional<std::pair<double, double>> ConvertedPoint();

    std::unique_ptr<THoehenAbfrage> abfrage_;  // the point store lives here
    // The last query's index messages that no file row shows, for the ">>" button's label.
    std::string indexNotes_;
    int letzterEintrag_ = 0;
    // The configuration file could not be read or holds more entries than the catalogue
    // takes: it is never written while the program runs.
    bool konfGesperrt_ = false;
    // Likewise the settings file beside it.
    bool einstellungenGesperrt_ = false;
    int busyStep_ = 0;
    int zusatz_ = 0;
    std::optional<int> kachelSystem_;  // as shown by the choice
    std::unique_ptr<TUmrechnung> umrechnung_;
    TProfilForm* profil_ = nullptr;  // a child: goes with the window
    // The captions and units of the metre and the degree fields, shown with them.
    std::array<QWidget*, 4> meterTexte_{};
    std::array<QWidget*, 4> gradTexte_{};
};

}  // namespace tervalo
