#pragma once
// Reading points line by line as the batch reads them (columns, header line, messages quoting a
// line), and the progress line of long runs; shared by batch and profil.
#include <CLI/CLI.hpp>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "koord/Winkel.h"

namespace tervalo::cli {

// One input line without its LF: at most its first LinePrefixBytes bytes, the rest passed
// over, so a line without end costs no memory. False at the end of the input.
bool LiesZeile(std::istream& in, std::string& line);
// Line `nr` (from 1) as its columns are read: without a UTF-8 BOM on the first line and
// without the CR of a CR LF.
inline std::string_view ZeilenText(std::string_view line, long nr) {
    if (nr == 1 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}
// A column number as --spalten and --id take it: a whole number from 1.
std::optional<std::size_t> Spaltennummer(std::string_view t);
// Blanks only (TAB included).
bool NurLeer(std::string_view t);
// A line's columns: split at each ";" or TAB when it holds either (so ";;" is an empty column),
// otherwise at runs of blanks; each one trimmed.
void Spalten(std::string_view line, std::vector<std::string_view>& out);
// The line as a message quotes it: at most 60 characters (UTF-8), control codes but TAB
// shown as "?", so that no input can steer the terminal.
std::string Zitat(std::string_view line);
// Why the column at `spalte` holds no text to read a coordinate from (--ein); empty when it holds one.
std::string SpaltenFehlerText(const std::vector<std::string_view>& s, std::size_t spalte);
// A column that reads as neither a number nor an angle: a header's name.
bool KeinWert(const std::vector<std::string_view>& s, std::size_t spalte, TAchse achse);
// Why the column at `spalte` holds no coordinate; empty when it holds one, into `wert`.
std::string SpaltenFehler(const std::vector<std::string_view>& s, std::size_t spalte, double& wert);
// The --spalten X,Y option (two different column numbers from 1) into spalteX, spalteY.
CLI::Option* AddSpaltenOption(CLI::App* cmd, std::size_t& spalteX, std::size_t& spalteY);
// The input a command reads its points from: standard input for "-", else the file `pfad`
// opened into `datei`. Null after the German message naming it (a folder, a file that cannot
// be opened) on stderr.
std::istream* OeffneEingabe(const std::string& pfad, std::ifstream& datei);
// Lines of a regular file, for the progress line's total; 0 when it cannot be told.
long ZeilenInDatei(const std::string& pfad);

// A line on standard error, rewritten in place about twice a second, while a person watches
// (standard error is a terminal); silent otherwise.
class TFortschritt {
public:
    // The first line after half a second, when the rate says something about the time left.
    TFortschritt(bool an, long gesamt, const char* was = "Punkten")
        : an_(an), gesamt_(gesamt), was_(was), start_(std::chrono::steady_clock::now()), letzte_(start_) {}
    void Zeige(long beantwortet, int kacheln, bool zuletzt = false) {
        if (!an_) return;
        const auto jetzt = std::chrono::steady_clock::now();
        if (!zuletzt && jetzt - letzte_ < std::chrono::milliseconds(500)) return;
        letzte_ = jetzt;
        const double s = std::chrono::duration<double>(jetzt - start_).count();
        std::string text = "\r" + std::to_string(beantwortet);
        if (gesamt_ > 0) text += " von " + std::to_string(gesamt_);
        text += std::string(" ") + was_ + " beantwortet, " + std::to_string(kacheln) + " Kacheln gelesen";
        if (gesamt_ > 0 && beantwortet > 0 && beantwortet < gesamt_) {
            const long rest = std::lround(s / static_cast<double>(beantwortet) *
                                          static_cast<double>(gesamt_ - beantwortet));
            text += ", noch etwa " + std::to_string(rest / 60) + " min " + std::to_string(rest % 60) + " s";
        }
        text += "\x1b[K";  // clears what a longer line before left
        if (zuletzt) text += '\n';
        std::cerr << text << std::flush;
    }

private:
    bool an_;
    long gesamt_;
    const char* was_;  // what is answered: "Punkten", "Proben"
    std::chrono::steady_clock::time_point start_, letzte_;
};


}  // namespace tervalo::cli
