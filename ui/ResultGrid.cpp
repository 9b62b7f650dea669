#include "ResultGrid.h"

#include <QFontInfo>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <cstdlib>

namespace tervalo {

namespace {

// Cells draw their text 2 pixels from the left edge, clipped rather than elided: the centring
// blanks and the fixed-width numbers are laid out for exactly that.
class TCellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        p->save();
        p->setClipRect(opt.rect);
        const bool selected = opt.state & QStyle::State_Selected;
        if (selected)
            p->fillRect(opt.rect, opt.palette.brush(QPalette::Highlight));
        else if (opt.backgroundBrush.style() != Qt::NoBrush)
            p->fillRect(opt.rect, opt.backgroundBrush);
        p->setFont(opt.font);
        p->setPen(opt.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        p->drawText(opt.rect.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                    opt.text);
        p->restore();
    }
};

}  // namespace

TResultGrid::TResultGrid(QWidget* parent) : QTableWidget(parent) {
    setObjectName(QStringLiteral("StringGrid1"));
    // A narrow face keeps "3566512,30" inside the 70-pixel columns.
    QFont f = font();
    f.setFamilies({QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("Liberation Sans Narrow"),
                   QStringLiteral("Arial Narrow"), QStringLiteral("Nimbus Sans Narrow"), f.family()});
    f.setPixelSize(11);
    setFont(f);
    setItemDelegate(new TCellDelegate(this));
    setTextElideMode(Qt::ElideNone);
    horizontalHeader()->setStyleSheet(QStringLiteral(
        "QHeaderView::section { padding: 0px 0px 0px 2px; border: none;"
        " border-right: 1px solid palette(mid); border-bottom: 1px solid palette(mid);"
        " background: palette(button); }"));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setShowGrid(true);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    // One Tab enters the grid, the next leaves it; the arrow keys move between the cells.
    setTabKeyNavigation(false);
    verticalHeader()->hide();
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setMinimumSectionSize(4);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // The header sits on the grid's own double-click too.
    connect(horizontalHeader(), &QHeaderView::sectionDoubleClicked, this, [this](int) { emit DblClick(); });
}

void TResultGrid::SetUp() {
    setColumnCount(5);
    setRowCount(20);
    const int fontRule = std::abs(QFontInfo(font()).pixelSize()) + 4;
    rowHeight_ = (height() - 2) / 21 - 1;
    if (rowHeight_ < fontRule) rowHeight_ = fontRule;
    verticalHeader()->setMinimumSectionSize(4);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(rowHeight_);
    for (int r = 0; r < rowCount(); ++r) setRowHeight(r, rowHeight_);
    horizontalHeader()->setFixedHeight(rowHeight_ + 2);
    for (int c = 0; c < columnCount(); ++c) {
        auto* h = new QTableWidgetItem;
        h->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        setHorizontalHeaderItem(c, h);
        for (int r = 0; r < rowCount(); ++r) {
            auto* it = new QTableWidgetItem;
            if (c == 0) {
                // The row-number column is fixed: never selected, drawn like the header.
                it->setFlags(Qt::ItemIsEnabled);
                it->setBackground(palette().brush(QPalette::Button));
                it->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            } else {
                it->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
                it->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            }
            setItem(r, c, it);
        }
    }
    setCurrentCell(0, 1);
}

void TResultGrid::SetRowCount(int rows) { setRowCount(rows > 1 ? rows - 1 : 0); }

QTableWidgetItem* TResultGrid::ItemAt(int col, int row) const {
    if (col < 0 || col >= columnCount() || row < 0 || row > rowCount()) return nullptr;
    return row == 0 ? horizontalHeaderItem(col) : item(row - 1, col);
}

std::string TResultGrid::Cell(int col, int row) const {
    const QTableWidgetItem* it = ItemAt(col, row);
    return it ? it->text().toStdString() : std::string();
}

void TResultGrid::SetCell(int col, int row, const std::string& text) {
    if (QTableWidgetItem* it = ItemAt(col, row)) it->setText(QString::fromStdString(text));
}

int TResultGrid::TextWidth(std::string_view text) const {
    return QFontMetrics(font()).horizontalAdvance(
        QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

TResultGrid::TBlock TResultGrid::Selection() const {
    TBlock b;
    const QList<QTableWidgetSelectionRange> ranges = selectedRanges();
    if (!ranges.isEmpty()) {
        const QTableWidgetSelectionRange& r = ranges.first();
        b = {r.leftColumn(), r.topRow() + 1, r.rightColumn(), r.bottomRow() + 1};
    } else if (currentRow() >= 0 && currentColumn() >= 0) {
        b = {currentColumn(), currentRow() + 1, currentColumn(), currentRow() + 1};
    }
    // Only data cells are ever copied.
    if (b.Left < 1) b.Left = 1;
    if (b.Right < b.Left) b.Right = b.Left;
    return b;
}

void TResultGrid::SelectBlock(int left, int top, int right, int bottom) {
    clearSelection();
    setCurrentCell(top - 1, left);
    setRangeSelected(QTableWidgetSelectionRange(top - 1, left, bottom - 1, right), true);
}

void TResultGrid::mousePressEvent(QMouseEvent* e) {
    // The right button only opens the context menu: the dragged block is what gets copied.
    if (e->button() == Qt::RightButton) {
        e->accept();
        return;
    }
    QTableWidget::mousePressEvent(e);
}

void TResultGrid::keyPressEvent(QKeyEvent* e) {
    if (e->matches(QKeySequence::Copy)) {
        e->accept();
        emit CopyKey();
        return;
    }
    QTableWidget::keyPressEvent(e);
}

void TResultGrid::mouseDoubleClickEvent(QMouseEvent* e) {
    QTableWidget::mouseDoubleClickEvent(e);
    emit DblClick();
}

}  // namespace tervalo
