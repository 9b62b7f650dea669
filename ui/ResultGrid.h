#pragma once
// The result grid: a text grid with one fixed header row (the table header, so columns can be
// sized by dragging) and one fixed row-number column. Row 0 of the TTextGitter interface is the
// header, rows 1.. are the table's rows.
#include "tools/Tools.h"

#include <QTableWidget>

namespace tervalo {

// Row end of copied grid text: a carriage return on Windows, as its programs take it; a line
// feed elsewhere, where a table whose rows end in a lone CR pastes as one line.
#ifdef Q_OS_WIN
inline constexpr QChar GridRowEnd = u'\r';
#else
inline constexpr QChar GridRowEnd = u'\n';
#endif

class TResultGrid : public QTableWidget, public TTextGitter {
    Q_OBJECT
public:
    explicit TResultGrid(QWidget* parent = nullptr);

    // 5 columns, 21 rows (header included), row height from the grid's height and font.
    void SetUp();
    int RowHeight() const { return rowHeight_; }

    int ColCount() const override { return columnCount(); }
    int RowCount() const override { return rowCount() + 1; }
    void SetRowCount(int rows) override;
    std::string Cell(int col, int row) const override;
    void SetCell(int col, int row, const std::string& text) override;
    int ColWidth(int col) const override { return columnWidth(col); }
    void SetColWidth(int col, int width) override { setColumnWidth(col, width); }
    int TextWidth(std::string_view text) const override;

    // Selected block of data cells (1-based grid coordinates); the current cell when no block
    // was dragged.
    struct TBlock {
        int Left = 1, Top = 1, Right = 1, Bottom = 1;
    };
    TBlock Selection() const;
    void SelectBlock(int left, int top, int right, int bottom);

signals:
    void DblClick();
    // The copy keys (Ctrl+C, Ctrl+Ins) on the focused grid: whoever owns the copy does it,
    // instead of the view copying its current cell only.
    void CopyKey();

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;

private:
    QTableWidgetItem* ItemAt(int col, int row) const;
    int rowHeight_ = 17;
};

}  // namespace tervalo
