#pragma once
// Numeric input field: a floating-point value shown right-aligned with a fixed number of
// decimals and the user's decimal separator, without digit grouping. A typed "." or "," is
// entered as that separator.
#include <QLineEdit>
#include <QMenu>
#include <functional>

namespace tervalo {

class TPBNumEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TPBNumEdit(QWidget* parent = nullptr);

    int Decimals() const { return decimals_; }
    void SetDecimals(int d);
    // Limits typed and pasted text only; a value set by the program is always shown whole.
    int MaxLength() const { return maxLength_; }
    void SetMaxLength(int n) { maxLength_ = n; }
    double MinValue() const { return minValue_; }
    double MaxValue() const { return maxValue_; }
    void SetMinValue(double v) { minValue_ = v; }
    void SetMaxValue(double v) { maxValue_ = v; }

    // The value of the current text; a text that does not convert gives the last valid value.
    double Value() const;
    void SetValue(double v);

    // Takes the text as the value and shows it formatted, as leaving the field does. A text
    // that does not convert is refused: a beep, the last valid value is shown again, false.
    // Whoever reads the field for an action calls it first, so the action never runs on a
    // value other than the one shown.
    bool Commit();

    // Pasted text: one "." or one "," (not both) is the decimal separator, then the key filter
    // applies; what would not convert is refused with a beep and leaves the field as it was.
    void PasteText(const QString& pasted);
    // The standard context menu, its paste going through PasteText.
    QMenu* CreateContextMenu();

    // Raised when the field is left with a value outside a bound that is not 0. Without a
    // handler the field takes the nearer bound, beeps and takes the focus back.
    std::function<void(TPBNumEdit*)> OnInvalidEntry;

    // The leave check, also callable by a window before it reads the field.
    void CheckRange();

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    QString Format(double v) const;
    bool Parse(const QString& text, double& v) const;
    void InsertChecked(const QString& s);
    void ToggleSign();
    void TakeFocusBack();

    int decimals_ = 2;
    int maxLength_ = 32767;
    double minValue_ = 0.0;
    double maxValue_ = 0.0;
    mutable double value_ = 0.0;
    bool checking_ = false;
};

}  // namespace tervalo
