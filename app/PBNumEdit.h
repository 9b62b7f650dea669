#pragma once
// Numeric input field: a floating-point value shown right-aligned with a fixed number of
// decimals and the user's decimal separator, without digit grouping.
#include <QLineEdit>
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

    // Raised when the field is left with a value outside a bound that is not 0. Without a
    // handler the field takes the nearer bound, beeps and takes the focus back.
    std::function<void(TPBNumEdit*)> OnInvalidEntry;

    // The leave check, also callable by a window before it reads the field.
    void CheckRange();

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    QString Format(double v) const;
    bool Parse(const QString& text, double& v) const;
    void InsertChecked(const QString& s);
    void ToggleSign();

    int decimals_ = 2;
    int maxLength_ = 32767;
    double minValue_ = 0.0;
    double maxValue_ = 0.0;
    mutable double value_ = 0.0;
    bool checking_ = false;
};

}  // namespace tervalo
