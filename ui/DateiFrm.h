#pragma once
// File manager: the source catalogue as a list of files with their extents. Adds files
// (scanning each once) and folders of tiles (building their index), removes and reorders them, shows dBase information and converts a
// file between text and dBase; OK writes the list back into the catalogue. The list being
// edited is a TKatalog; the grid shows it.
#include "config/TYPEN.h"
#include "tools/Taktgeber.h"
#include "filemanager/Katalog.h"
#include "tools/Tools.h"

#include <QAction>
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <optional>
#include <string>

namespace tervalo {

// The file list. Its TTextGitter coordinates are what the user sees: column 0 is the fixed
// row-number column (drawn as the vertical header, so dragging a number moves the row), row 0
// the header row, and every other index is a visual position, so a dragged column or row
// answers at the place it was dropped.
class TDateiGrid : public QTableWidget, public TTextGitter {
    Q_OBJECT
public:
    explicit TDateiGrid(QWidget* parent = nullptr);

    int ColCount() const override { return columnCount() + 1; }
    int RowCount() const override { return rowCount() + 1; }
    void SetRowCount(int rows) override;
    std::string Cell(int col, int row) const override;
    void SetCell(int col, int row, const std::string& text) override;
    int ColWidth(int col) const override;
    void SetColWidth(int col, int width) override;
    int TextWidth(std::string_view text) const override;
    // Column width that shows `text` in a cell without cutting it.
    int CellWidthFor(std::string_view text) const;
    // What a cell of the file-name column shows: its name shortened to the column, keeping
    // the name's end. Other cells show their text.
    std::string ShownText(int col, int row) const;
    // The hint of a cell (the full path on the file-name column).
    std::string CellHint(int col, int row) const;
    void SetCellHint(int col, int row, const std::string& hint);
    // Where the column of a creation number (0 the number column) stands now.
    int PlaceOfColumn(int number) const;

    // Grid row (1-based data row) of the cursor; 1 when no cell is current.
    int CursorRow() const;
    void SetCursorRow(int row);
    // Moves a data row or a data column (both > 0) as the user's drag would.
    void MoveRow(int from, int to);
    void MoveCol(int from, int to);
    int DefaultRowHeight() const { return rowHeight_; }

private:
    QTableWidgetItem* ItemAt(int col, int row) const;
    class NameDelegate;
    QLabel* corner_ = nullptr;
    int rowHeight_ = 15;
};

class TDateiForm : public QDialog {
    Q_OBJECT
public:
    static constexpr int DesignWidth = 733;
    static constexpr int DesignHeight = 498;

    explicit TDateiForm(QWidget* owner = nullptr);

    // Works on a copy of the catalogue, which only OK changes; the copy goes back to the
    // caller whichever way the window closed.
    int MyShowModal(TDateien& dateien);

    // Extent scan of one file; start values when nothing is found.
    static void ReadExtremwerte(const std::string& path, double& Xmin, double& Xmax, double& Ymin,
                                double& Ymax);
    // The same with the tiles' system: returns the note for a raster in another one, or "".
    static std::string ReadExtremwerte(const std::string& path, std::optional<int> system, double& Xmin,
                                       double& Xmax, double& Ymin, double& Ymax);

    // Handlers.
    void FormShow();
    void FormClose();
    void FormCanResize();
    void Datei_einfuegenClick();
    // Adds a folder of tiles before the cursor row, after building its index.
    void Ordner_einfuegenClick();
    void Datei_loeschenClick();
    void Datei_InfoClick();
    void Konvertieren1Click();
    void OKButtonClick();

    // Column of a header text (blanks at both ends ignored), -1 when there is none.
    int FindColumn(const std::string& header) const;
    // File name and folder of a row, blanks removed at both ends.
    std::string RowFileName(int row) const;
    std::string RowFolder(int row) const;
    int NamedRows() const;
    bool Running() const { return running_; }

    TDateien Dateien;
    // How often a conversion lets the window handle events; tests look after every line.
    TTaktOptionen Poll;

    TDateiGrid* DateiGrid;
    // The list's keys, under the list.
    QLabel* HintLine;
    QWidget* BottomBar;
    QPushButton* OKButton;
    QMenu* PopupMenu1;
    QAction* Datei_einfuegen;
    QAction* Ordner_einfuegen;
    QAction* Datei_loeschen;
    QAction* Datei_Info;
    QAction* Konvertieren1;

public slots:
    void done(int r) override;
    void reject() override;

protected:
    void showEvent(QShowEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    // Shows the catalogue row in the grid row of the same number.
    void FillRow(int row);
    // Inserts a row at the cursor row and shows z in it.
    int InsertRow(TKatalogZeile z);
    // Puts every row's full path on its file-name cell; rows moved by inserting or deleting
    // take their texts, not their hints.
    void ShowHints();
    void Renumber(int from);
    void SetRunning(bool running);
    TKatalog katalog_;  // what the grid shows, row for row
    bool shown_ = false;
    bool running_ = false;
};

}  // namespace tervalo
