#pragma once
// The window "Höhenprofil": the vertices of a line, its sampling and input system; the run on a
// worker thread, the plot, the table of the samples, copying and saving them.
#include "config/TYPEN.h"
#include "query/Profil.h"
#include "tools/SafeWriter.h"
#include "ui/PBNumEdit.h"
#include "ui/ProfilPlot.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableView>
#include <QTableWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tervalo {

class TUmrechnung;
class TProbenModell;

// What a run works on, as the main window has it at that moment.
struct TProfilQuelle {
    TDateien Dateien;
    double Fangbreite = 0, Potenz = 0, Rasterabstand = 5.0;
    std::optional<int> KachelSystem;  // EPSG code of the tiles' system, none: not set
    std::string Eingabe;              // the main window's input system ("" for the tiles' own)
};

class TProfilForm : public QDialog {
    Q_OBJECT
public:
    // Types of file saved, as the save dialog lists them.
    enum TDateiArt { Csv = 1, Png = 2, Svg = 3 };
    // Size of a saved picture.
    static constexpr int BildBreite = 1200, BildHoehe = 600;
    // Samples handed to the window at once.
    static constexpr std::size_t Stueck = 4096;

    explicit TProfilForm(QWidget* parent = nullptr);
    ~TProfilForm() override;

    // Asked at every run and when the window is opened.
    std::function<TProfilQuelle()> Quelle;
    // Called on the worker thread before the samples are answered (tests hold a run there).
    std::function<void()> VorDemAntworten;

    // Shows and raises the window; the first time it also takes the main window's input system
    // and the step from the source.
    void Oeffnen();
    void BerechnenClick();
    // Ends a run without asking; its samples so far stay shown, not saveable.
    void Abbrechen();
    // Ends a run without asking and hides the window (the main window closes).
    void Beenden();
    // Lines of "X Y" (blanks, TAB or ";" between, a decimal comma allowed) inserted as vertices
    // at the current row; a first line without a digit is a heading and passed over. False
    // (after a message) when a line holds no two values; nothing is inserted then.
    bool EinfuegenText(const QString& text);
    void KopierenClick();
    void SpeichernClick();
    // Writes the profile as `art` through the safe writer; false after a message when the
    // target is refused.
    bool Speichern(const std::string& pfad, TDateiArt art);

    bool Running() const { return worker_.joinable(); }
    // The last run answered every sample.
    bool Vollstaendig() const { return vollstaendig_; }
    const std::vector<TProfilWert>& Werte() const { return werte_; }
    const TProfilZusammenfassung& Zusammenfassung() const { return summe_->Ergebnis(); }
    // The chosen input system's short name, "" for the tiles' own.
    std::string EingabeName() const;
    // The copied text of a block of the samples' table (0-based rows and columns).
    QString BlockText(int links, int oben, int rechts, int unten) const;

    QTableWidget* TB_Ecken;
    QPushButton* Btn_Einfuegen;
    QPushButton* Btn_Leeren;
    QRadioButton* RB_Schritt;
    TPBNumEdit* PBN_Schritt;
    QRadioButton* RB_Anzahl;
    QSpinBox* SE_Anzahl;
    QLabel* LB_Eingabe;
    QComboBox* CB_Eingabe;
    QPushButton* Btn_Berechnen;
    QProgressBar* PB_Fortschritt;
    QPushButton* Btn_Abbrechen;
    QLabel* LB_Status;
    QLabel* LB_Zusammenfassung;
    TProfilPlot* Plot;
    QLabel* LB_Ablesung;
    QTableView* TV_Proben;
    QAction* AC_Kopieren;
    QPushButton* Btn_Speichern;
    QPushButton* Btn_Schliessen;

protected:
    // Escape: during a run asks "Wirklich abbrechen?", otherwise closes the window.
    void reject() override;
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    struct TLauf;
    void UebernimmSysteme(const TProfilQuelle& q);
    void ZeigeSpaltenKoepfe();
    void NeueLeerzeile();
    // The vertices in the tiles' system; empty after a message naming the row.
    std::optional<std::vector<TXY>> Ecken(const TProfilQuelle& q, bool& geographisch);
    void SetRunning(bool running);
    void Fehler(const QString& text);
    // From the worker, on this thread.
    void Begonnen(std::vector<double> ecken, double laenge, std::size_t proben);
    void Angekommen(std::vector<TProfilWert> stueck);
    void Fortschritt(std::size_t n);
    void Beendet(bool ok, std::vector<std::string> meldungen, QString fehler);

    std::thread worker_;
    std::shared_ptr<TLauf> lauf_;
    bool geoeffnet_ = false;
    bool vollstaendig_ = false;
    std::vector<TProfilWert> werte_;
    std::size_t erwartet_ = 0;
    std::unique_ptr<TProfilSumme> summe_;
    TProbenModell* modell_;
    TSchutz schutz_;  // the files of the run's catalogue, never replaced by a saved file
    std::optional<int> kachelSystem_;
    std::unique_ptr<TUmrechnung> umrechnung_;
};

}  // namespace tervalo
