// The widget kinds the panes and windows bind: text and number fields, check boxes, editable combo
// boxes, pop-ups of objects, multi-line text, dates and read-only labels. Each shows the stored value and writes the
// user's change once: on Return, on leaving the field, or when its controller commits.
#pragma once

#include "ui/object_controller.h"

#include <QDateTime>
#include <QLocale>
#include <QVariant>

#include <functional>

class QAbstractButton;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QTextEdit;

namespace ui {

// A line edit of text (an empty field writes the empty text).
class TextFieldBinding : public Binding {
    Q_OBJECT
public:
    TextFieldBinding(QLineEdit& field, ObjectController& controller, QString keyPath);
    bool hasEdit() const override;

protected:
    void showValue(const BoundValue& value) override;
    std::optional<BoundValue> fieldValue(QString& problem) const override;
    QLineEdit& field() const { return field_; }
    QString shownText_;

private:
    QLineEdit& field_;
};

// A line edit of an exact decimal in the user's locale, shown with `places` digits after the
// separator. An empty field writes no value; text that is no number is refused.
class DecimalFieldBinding : public TextFieldBinding {
    Q_OBJECT
public:
    DecimalFieldBinding(QLineEdit& field, ObjectController& controller, QString keyPath, int places = 2);

protected:
    void showValue(const BoundValue& value) override;
    std::optional<BoundValue> fieldValue(QString& problem) const override;

private:
    int places_;
};

// A check box of a Boolean; a click writes at once.
class CheckBoxBinding : public Binding {
    Q_OBJECT
public:
    CheckBoxBinding(QAbstractButton& button, ObjectController& controller, QString keyPath);
    bool hasEdit() const override;

protected:
    void showValue(const BoundValue& value) override;
    std::optional<BoundValue> fieldValue(QString& problem) const override;

private:
    QAbstractButton& button_;
    bool shown_ = false;
};

// An editable combo box of text; choosing an item or finishing the typed text writes it.
class ComboBoxTextBinding : public Binding {
    Q_OBJECT
public:
    ComboBoxTextBinding(QComboBox& box, ObjectController& controller, QString keyPath);
    bool hasEdit() const override;

protected:
    void showValue(const BoundValue& value) override;
    std::optional<BoundValue> fieldValue(QString& problem) const override;

private:
    QComboBox& box_;
    QString shownText_;
};

// A pop-up (a combo box that is not editable) of objects: each item's data is the object it stands
// for (itemData()); an item without one stands for none. Choosing an item writes it at once. Whoever
// fills the items calls reread() afterwards.
class PopUpButtonBinding : public Binding {
    Q_OBJECT
public:
    PopUpButtonBinding(QComboBox& box, ObjectController& controller, QString keyPath);
    bool hasEdit() const override;

    // The item data that stands for `object` (nullptr: none).
    static QVariant itemData(const void* object);

protected:
    void showValue(const BoundValue& value) override;
    std::optional<BoundValue> fieldValue(QString& problem) const override;

private:
    void* currentObject() const;
    QComboBox& box_;
    void* shown_ = nullptr;
};

// Multi-line plain text (QPlainTextEdit or QTextEdit and their subclasses); written when the field
// loses the keyboard focus, when an AutosizingTextField ends its edit or its user pauses typing, or
// when its controller commits. An AutosizingTextField's edit, from the first change to the loss of
// the focus, is one edit session of the controller.
class TextAreaBinding : public Binding {
    Q_OBJECT
public:
    TextAreaBinding(QPlainTextEdit& area, ObjectController& controller, QString keyPath);
    TextAreaBinding(QTextEdit& area, ObjectController& controller, QString keyPath);
    ~TextAreaBinding() override;
    bool hasEdit() const override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showValue(const BoundValue& value) override;
    std::optional<BoundValue> fieldValue(QString& problem) const override;

private:
    QString text() const;
    void endEditSession();
    QPlainTextEdit* plain_ = nullptr;
    QTextEdit* rich_ = nullptr;
    QString shownText_;
    bool inEditSession_ = false;
};

// A date and time editor of an instant, shown as the wall time of the user's time zone (the zone
// rules of foundation::Calendar, not Qt's). A date-only editor writes the day at 00:00; the key
// table decides what to keep of the stored time.
class DateTimeBinding : public Binding {
    Q_OBJECT
public:
    DateTimeBinding(QDateTimeEdit& editor, ObjectController& controller, QString keyPath);
    bool hasEdit() const override;

protected:
    void showValue(const BoundValue& value) override;
    std::optional<BoundValue> fieldValue(QString& problem) const override;

private:
    QDateTimeEdit& editor_;
    QDateTime shown_;
};

// A label showing the value as `format` writes it; read-only.
class LabelBinding : public Binding {
    Q_OBJECT
public:
    using Formatter = std::function<QString(const BoundValue&)>;
    LabelBinding(QLabel& label, ObjectController& controller, QString keyPath, Formatter format);
    bool hasEdit() const override { return false; }

protected:
    void showValue(const BoundValue& value) override;
    std::optional<BoundValue> fieldValue(QString& problem) const override;

private:
    QLabel& label_;
    Formatter format_;
};

// The wall time of `date` in the user's zone as a QDateTime without zone rules of its own, and back.
QDateTime wallDateTime(foundation::Date date);
std::optional<foundation::Date> dateFromWallDateTime(const QDateTime& wallTime);

// Text of a value for labels and read-only fields: numbers in the locale's way, dates short.
QString displayText(const BoundValue& value);

// Binds the widget (see bindWidget: the same key path of the same controller keeps its binding).
TextFieldBinding* bindText(QLineEdit& field, ObjectController& controller, const QString& keyPath);
DecimalFieldBinding* bindDecimal(QLineEdit& field, ObjectController& controller, const QString& keyPath,
                                 int places = 2);
CheckBoxBinding* bindChecked(QAbstractButton& button, ObjectController& controller, const QString& keyPath);
ComboBoxTextBinding* bindText(QComboBox& box, ObjectController& controller, const QString& keyPath);
PopUpButtonBinding* bindSelectedObject(QComboBox& box, ObjectController& controller, const QString& keyPath);
TextAreaBinding* bindText(QPlainTextEdit& area, ObjectController& controller, const QString& keyPath);
TextAreaBinding* bindText(QTextEdit& area, ObjectController& controller, const QString& keyPath);
DateTimeBinding* bindDate(QDateTimeEdit& editor, ObjectController& controller, const QString& keyPath);
LabelBinding* bindLabel(QLabel& label, ObjectController& controller, const QString& keyPath,
                        LabelBinding::Formatter format = displayText);

} // namespace ui
