#include "PBNumEdit.h"

#include "Platform.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QLocale>
#include <QPointer>
#include <QTimer>
#include <cmath>

namespace tervalo {

TPBNumEdit::TPBNumEdit(QWidget* parent) : QLineEdit(parent) {
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setText(Format(0.0));
}

void TPBNumEdit::SetDecimals(int d) {
    const double v = Value();
    decimals_ = d < 0 ? 0 : d;
    setText(Format(v));
}

QString TPBNumEdit::Format(double v) const {
    QLocale loc;
    loc.setNumberOptions(QLocale::OmitGroupSeparator);
    return loc.toString(v, 'f', decimals_);
}

bool TPBNumEdit::Parse(const QString& text, double& v) const {
    const QString t = text.trimmed();
    if (t.isEmpty()) {
        v = 0.0;
        return true;
    }
    bool ok = false;
    const double r = QLocale().toDouble(t, &ok);
    if (!ok || !std::isfinite(r)) return false;
    v = r;
    return true;
}

double TPBNumEdit::Value() const {
    double v;
    if (Parse(text(), v)) value_ = v;
    return value_;
}

void TPBNumEdit::SetValue(double v) {
    value_ = v;
    setText(Format(v));
}

bool TPBNumEdit::Commit() {
    double v;
    if (!Parse(text(), v)) {
        Platform().Beep();
        setText(Format(value_));
        return false;
    }
    SetValue(v);
    return true;
}

void TPBNumEdit::PasteText(const QString& pasted) {
    if (isReadOnly()) return;
    QString s = pasted.trimmed();
    if (s.isEmpty()) return;
    const QString sep = QLocale().decimalPoint();
    const qsizetype points = s.count(QLatin1Char('.'));
    const qsizetype commas = s.count(QLatin1Char(','));
    bool refused = points > 0 && commas > 0;
    // Copied numbers come with either mark, whatever the user's locale.
    if (points + commas == 1) s.replace(QLatin1Char(points ? '.' : ','), sep);
    for (QChar& c : s) {
        if (c == QLatin1Char('e')) c = QLatin1Char('E');
        const bool typeable = (c.isDigit() && c.unicode() < 128) || c == QLatin1Char('-') || c == QLatin1Char('E') ||
                              (decimals_ > 0 && QString(c) == sep);
        if (!typeable) refused = true;
    }
    QString t = text();
    const int start = hasSelectedText() ? selectionStart() : cursorPosition();
    const int len = hasSelectedText() ? static_cast<int>(selectedText().size()) : 0;
    t.replace(start, len, s);
    double v;
    if (refused || t.size() > maxLength_ || !Parse(t, v)) {
        Platform().Beep();
        return;
    }
    insert(s);
}

QMenu* TPBNumEdit::CreateContextMenu() {
    QMenu* menu = createStandardContextMenu();
    // The paste entry is the one wired to QLineEdit::paste.
    for (QAction* a : menu->actions()) {
        if (!disconnect(a, &QAction::triggered, this, &QLineEdit::paste) &&
            !disconnect(a, SIGNAL(triggered()), this, SLOT(paste())))
            continue;
        a->setObjectName(QStringLiteral("edit-paste"));
        connect(a, &QAction::triggered, this, [this] { PasteText(QApplication::clipboard()->text()); });
    }
    return menu;
}

void TPBNumEdit::contextMenuEvent(QContextMenuEvent* e) {
    QMenu* menu = CreateContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(e->globalPos());
}

void TPBNumEdit::mouseReleaseEvent(QMouseEvent* e) {
    // The X11 middle-button paste of the selection is a paste like any other.
    QClipboard* cb = QApplication::clipboard();
    if (e->button() == Qt::MiddleButton && cb->supportsSelection()) {
        if (rect().contains(e->position().toPoint())) PasteText(cb->text(QClipboard::Selection));
        e->accept();
        return;
    }
    QLineEdit::mouseReleaseEvent(e);
}

void TPBNumEdit::InsertChecked(const QString& s) {
    QString t = text();
    const int start = hasSelectedText() ? selectionStart() : cursorPosition();
    const int len = hasSelectedText() ? static_cast<int>(selectedText().size()) : 0;
    t.replace(start, len, s);
    const QString sep = QLocale().decimalPoint();
    // One separator and one exponent letter at most: more could never convert.
    if (t.size() > maxLength_ || t.count(sep) > 1 || t.count(QLatin1Char('E')) > 1) {
        Platform().Beep();
        return;
    }
    insert(s);
}

void TPBNumEdit::ToggleSign() {
    QString t = text();
    int pos = cursorPosition();
    if (t.startsWith(QLatin1Char('-'))) {
        t.remove(0, 1);
        pos = pos > 0 ? pos - 1 : 0;
    } else {
        if (t.size() + 1 > maxLength_) {
            Platform().Beep();
            return;
        }
        t.prepend(QLatin1Char('-'));
        ++pos;
    }
    setText(t);
    setCursorPosition(pos);
}

void TPBNumEdit::keyPressEvent(QKeyEvent* e) {
    if (e->matches(QKeySequence::Paste)) {
        PasteText(QApplication::clipboard()->text());
        return;
    }
    const QString t = e->text();
    const bool command = e->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    // Navigation, editing keys, Enter and shortcuts (copy, cut, select all) behave as usual.
    if (command || t.isEmpty() || t[0].unicode() < 32 || t[0].unicode() == 127 || isReadOnly()) {
        QLineEdit::keyPressEvent(e);
        return;
    }
    const QChar c = t[0];
    const QString sep = QLocale().decimalPoint();
    if (c.isDigit() && c.unicode() < 128) {
        InsertChecked(QString(c));
    } else if (c == QLatin1Char('-')) {
        // Right after the exponent letter the minus belongs to the exponent.
        const int pos = cursorPosition();
        if (!hasSelectedText() && pos > 0 && text().at(pos - 1) == QLatin1Char('E'))
            InsertChecked(QStringLiteral("-"));
        else
            ToggleSign();
    } else if (decimals_ > 0 && (QString(c) == sep || c == QLatin1Char('.') || c == QLatin1Char(','))) {
        // Either mark is the decimal separator, whatever the locale: a point dropped from
        // "3567002.5" would silently give a coordinate ten times too large.
        InsertChecked(sep);
    } else if (c == QLatin1Char('e') || c == QLatin1Char('E')) {
        InsertChecked(QStringLiteral("E"));
    } else {
        Platform().Beep();
    }
}

void TPBNumEdit::TakeFocusBack() {
    // Taking the focus back inside the focus change would fight it; do it right after.
    QPointer<TPBNumEdit> self(this);
    QTimer::singleShot(0, this, [self] {
        if (self) self->setFocus(Qt::OtherFocusReason);
    });
}

void TPBNumEdit::CheckRange() {
    if (checking_) return;
    checking_ = true;
    if (!Commit()) {
        TakeFocusBack();
        checking_ = false;
        return;
    }
    const double v = value_;
    const bool ranged = minValue_ != 0.0 || maxValue_ != 0.0;
    if (ranged && (v < minValue_ || v > maxValue_)) {
        if (OnInvalidEntry) {
            OnInvalidEntry(this);
        } else {
            SetValue(v < minValue_ ? minValue_ : maxValue_);
            Platform().Beep();
            TakeFocusBack();
        }
    }
    checking_ = false;
}

void TPBNumEdit::focusInEvent(QFocusEvent* e) {
    QLineEdit::focusInEvent(e);
    // Entered by keyboard or by the program (Tab, Enter's query handing the focus back):
    // the whole value is selected, so typing replaces it. A mouse click places the cursor.
    if (e->reason() == Qt::MouseFocusReason) return;
    QPointer<TPBNumEdit> self(this);
    QTimer::singleShot(0, this, [self] {
        if (self && self->hasFocus()) self->selectAll();
    });
}

void TPBNumEdit::focusOutEvent(QFocusEvent* e) {
    QLineEdit::focusOutEvent(e);
    // Only leaving the field for another control counts; a message box or another window
    // taking the focus does not (the handler's own message box would otherwise re-enter).
    if (e->reason() == Qt::ActiveWindowFocusReason || e->reason() == Qt::PopupFocusReason) return;
    CheckRange();
}

}  // namespace tervalo
