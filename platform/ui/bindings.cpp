// Each widget kind's way of showing a value, reading the user's value and noticing the end of an edit.
#include "ui/bindings.h"

#include "ui/autosizing_text_field.h"
#include "ui/number_text.h"

#include "foundation/calendar.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QEvent>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QTextEdit>

namespace ui {

namespace {

QString textOf(const BoundValue& value)
{
    if (const auto* text = std::get_if<std::string>(&value))
        return QString::fromStdString(*text);
    return QString();
}

} // namespace

QDateTime wallDateTime(foundation::Date date)
{
    const foundation::DateComponents parts = foundation::Calendar::current().components(date);
    return QDateTime(QDate(*parts.year, *parts.month, *parts.day), QTime(*parts.hour, *parts.minute, *parts.second),
                     Qt::UTC);
}

std::optional<foundation::Date> dateFromWallDateTime(const QDateTime& wallTime)
{
    if (!wallTime.isValid())
        return std::nullopt;
    const QDate day = wallTime.date();
    const QTime time = wallTime.time();
    return foundation::Calendar::current().date(
        {day.year(), day.month(), day.day(), time.hour(), time.minute(), time.second(), 0});
}

QString displayText(const BoundValue& value)
{
    return std::visit(
        [](const auto& held) -> QString {
            using T = std::decay_t<decltype(held)>;
            if constexpr (std::is_same_v<T, std::monostate>)
                return QString();
            else if constexpr (std::is_same_v<T, bool>)
                return held ? QObject::tr("Yes") : QObject::tr("No");
            else if constexpr (std::is_same_v<T, std::int64_t>)
                return QLocale().toString(static_cast<qlonglong>(held));
            else if constexpr (std::is_same_v<T, foundation::Decimal>)
                return decimalText(held, 2);
            else if constexpr (std::is_same_v<T, std::string>)
                return QString::fromStdString(held);
            else if constexpr (std::is_same_v<T, ObjectValue>)
                return QString(); // an object has no text of its own
            else
                return QLocale().toString(wallDateTime(held), QLocale::ShortFormat);
        },
        value);
}

TextFieldBinding::TextFieldBinding(QLineEdit& field, ObjectController& controller, QString keyPath)
    : Binding(field, controller, std::move(keyPath)), field_(field)
{
    // Return and leaving the field both end an edit; the second of the two finds nothing to write.
    connect(&field, &QLineEdit::editingFinished, this, [this] { commit(); });
}

bool TextFieldBinding::hasEdit() const
{
    return field_.text() != shownText_;
}

void TextFieldBinding::showValue(const BoundValue& value)
{
    shownText_ = textOf(value);
    field_.setText(shownText_);
}

std::optional<BoundValue> TextFieldBinding::fieldValue(QString&) const
{
    return BoundValue(field_.text().toStdString());
}

DecimalFieldBinding::DecimalFieldBinding(QLineEdit& field, ObjectController& controller, QString keyPath, int places)
    : TextFieldBinding(field, controller, std::move(keyPath)), places_(places)
{}

void DecimalFieldBinding::showValue(const BoundValue& value)
{
    const auto* number = std::get_if<foundation::Decimal>(&value);
    shownText_ = number ? decimalText(*number, places_) : QString();
    field().setText(shownText_);
}

std::optional<BoundValue> DecimalFieldBinding::fieldValue(QString& problem) const
{
    const QString text = field().text().trimmed();
    if (text.isEmpty())
        return BoundValue{};
    if (const auto number = parseDecimal(text))
        return BoundValue(*number);
    problem = tr("\"%1\" is not a number.").arg(text);
    return std::nullopt;
}

CheckBoxBinding::CheckBoxBinding(QAbstractButton& button, ObjectController& controller, QString keyPath)
    : Binding(button, controller, std::move(keyPath)), button_(button)
{
    connect(&button, &QAbstractButton::toggled, this, [this] { commit(); });
}

bool CheckBoxBinding::hasEdit() const
{
    return button_.isChecked() != shown_;
}

void CheckBoxBinding::showValue(const BoundValue& value)
{
    const auto* flag = std::get_if<bool>(&value);
    shown_ = flag && *flag;
    const QSignalBlocker blocker(&button_);
    button_.setChecked(shown_);
}

std::optional<BoundValue> CheckBoxBinding::fieldValue(QString&) const
{
    return BoundValue(button_.isChecked());
}

ComboBoxTextBinding::ComboBoxTextBinding(QComboBox& box, ObjectController& controller, QString keyPath)
    : Binding(box, controller, std::move(keyPath)), box_(box)
{
    connect(&box, &QComboBox::activated, this, [this] { commit(); });
    if (QLineEdit* line = box.lineEdit())
        connect(line, &QLineEdit::editingFinished, this, [this] { commit(); });
}

bool ComboBoxTextBinding::hasEdit() const
{
    return box_.currentText() != shownText_;
}

void ComboBoxTextBinding::showValue(const BoundValue& value)
{
    shownText_ = textOf(value);
    const QSignalBlocker blocker(&box_);
    box_.setCurrentText(shownText_);
}

std::optional<BoundValue> ComboBoxTextBinding::fieldValue(QString&) const
{
    return BoundValue(box_.currentText().toStdString());
}

PopUpButtonBinding::PopUpButtonBinding(QComboBox& box, ObjectController& controller, QString keyPath)
    : Binding(box, controller, std::move(keyPath)), box_(box)
{
    connect(&box, &QComboBox::activated, this, [this] { commit(); });
}

QVariant PopUpButtonBinding::itemData(const void* object)
{
    return QVariant::fromValue(reinterpret_cast<quintptr>(object));
}

void* PopUpButtonBinding::currentObject() const
{
    return reinterpret_cast<void*>(box_.currentData().value<quintptr>());
}

bool PopUpButtonBinding::hasEdit() const
{
    return box_.currentIndex() >= 0 && currentObject() != shown_;
}

void PopUpButtonBinding::showValue(const BoundValue& value)
{
    const auto* held = std::get_if<ObjectValue>(&value);
    shown_ = held ? held->object : nullptr;
    const QSignalBlocker blocker(&box_);
    // An object the items do not offer shows as no choice.
    box_.setCurrentIndex(box_.findData(itemData(shown_)));
}

std::optional<BoundValue> PopUpButtonBinding::fieldValue(QString&) const
{
    return BoundValue(ObjectValue{currentObject()});
}

TextAreaBinding::TextAreaBinding(QPlainTextEdit& area, ObjectController& controller, QString keyPath)
    : Binding(area, controller, std::move(keyPath)), plain_(&area)
{
    area.installEventFilter(this);
}

TextAreaBinding::TextAreaBinding(QTextEdit& area, ObjectController& controller, QString keyPath)
    : Binding(area, controller, std::move(keyPath)), rich_(&area)
{
    area.installEventFilter(this);
    // The self-sizing field's text is written whenever its user pauses typing, and at the end of an
    // edit that did not lose the focus (a save commits it).
    if (auto* field = qobject_cast<AutosizingTextField*>(&area)) {
        connect(field, &AutosizingTextField::editingFinished, this, [this] { commit(); });
        connect(field, &AutosizingTextField::typingPaused, this, [this] { commit(); });
        connect(field, &AutosizingTextField::editingStarted, this, [this] {
            ObjectController* owner = this->controller();
            if (inEditSession_ || !owner)
                return;
            inEditSession_ = true;
            Q_EMIT owner->editSessionBegan();
        });
    }
}

TextAreaBinding::~TextAreaBinding()
{
    endEditSession();
}

void TextAreaBinding::endEditSession()
{
    if (!inEditSession_)
        return;
    inEditSession_ = false;
    if (ObjectController* owner = controller())
        Q_EMIT owner->editSessionEnded();
}

QString TextAreaBinding::text() const
{
    return plain_ ? plain_->toPlainText() : rich_->toPlainText();
}

bool TextAreaBinding::hasEdit() const
{
    return text() != shownText_;
}

bool TextAreaBinding::eventFilter(QObject* watched, QEvent* event)
{
    // A widget loses the focus while it is destroyed, too; by then it is no text edit any more.
    const bool stillTextEdit =
        plain_ ? qobject_cast<QPlainTextEdit*>(watched) != nullptr : qobject_cast<QTextEdit*>(watched) != nullptr;
    if (watched == &widget() && event->type() == QEvent::FocusOut && stillTextEdit) {
        commit();
        // The field's own context menu takes the focus for a moment; the edit goes on.
        if (static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason)
            endEditSession();
    }
    return Binding::eventFilter(watched, event);
}

void TextAreaBinding::showValue(const BoundValue& value)
{
    shownText_ = textOf(value);
    if (text() == shownText_)
        return; // keeps the cursor where it is
    if (plain_)
        plain_->setPlainText(shownText_);
    else
        rich_->setPlainText(shownText_);
}

std::optional<BoundValue> TextAreaBinding::fieldValue(QString&) const
{
    return BoundValue(text().toStdString());
}

DateTimeBinding::DateTimeBinding(QDateTimeEdit& editor, ObjectController& controller, QString keyPath)
    : Binding(editor, controller, std::move(keyPath)), editor_(editor)
{
    editor.setTimeSpec(Qt::UTC); // wall times; the zone rules are the calendar's
    connect(&editor, &QDateTimeEdit::editingFinished, this, [this] { commit(); });
}

bool DateTimeBinding::hasEdit() const
{
    return editor_.dateTime() != shown_;
}

void DateTimeBinding::showValue(const BoundValue& value)
{
    const auto* date = std::get_if<foundation::Date>(&value);
    const QSignalBlocker blocker(&editor_);
    if (date)
        editor_.setDateTime(wallDateTime(*date));
    else
        editor_.setDateTime(editor_.minimumDateTime());
    shown_ = editor_.dateTime(); // as the editor holds it (seconds it does not show are dropped)
}

std::optional<BoundValue> DateTimeBinding::fieldValue(QString& problem) const
{
    if (const auto date = dateFromWallDateTime(editor_.dateTime()))
        return BoundValue(*date);
    problem = tr("The date is not valid.");
    return std::nullopt;
}

LabelBinding::LabelBinding(QLabel& label, ObjectController& controller, QString keyPath, Formatter format)
    : Binding(label, controller, std::move(keyPath)), label_(label), format_(std::move(format))
{}

void LabelBinding::showValue(const BoundValue& value)
{
    label_.setText(format_ ? format_(value) : displayText(value));
}

std::optional<BoundValue> LabelBinding::fieldValue(QString&) const
{
    return std::nullopt;
}

TextFieldBinding* bindText(QLineEdit& field, ObjectController& controller, const QString& keyPath)
{
    return bindWidget<TextFieldBinding>(field, controller, keyPath);
}
DecimalFieldBinding* bindDecimal(QLineEdit& field, ObjectController& controller, const QString& keyPath, int places)
{
    return bindWidget<DecimalFieldBinding>(field, controller, keyPath, places);
}
CheckBoxBinding* bindChecked(QAbstractButton& button, ObjectController& controller, const QString& keyPath)
{
    return bindWidget<CheckBoxBinding>(button, controller, keyPath);
}
ComboBoxTextBinding* bindText(QComboBox& box, ObjectController& controller, const QString& keyPath)
{
    return bindWidget<ComboBoxTextBinding>(box, controller, keyPath);
}

PopUpButtonBinding* bindSelectedObject(QComboBox& box, ObjectController& controller, const QString& keyPath)
{
    return bindWidget<PopUpButtonBinding>(box, controller, keyPath);
}
TextAreaBinding* bindText(QPlainTextEdit& area, ObjectController& controller, const QString& keyPath)
{
    return bindWidget<TextAreaBinding>(area, controller, keyPath);
}
TextAreaBinding* bindText(QTextEdit& area, ObjectController& controller, const QString& keyPath)
{
    return bindWidget<TextAreaBinding>(area, controller, keyPath);
}
DateTimeBinding* bindDate(QDateTimeEdit& editor, ObjectController& controller, const QString& keyPath)
{
    return bindWidget<DateTimeBinding>(editor, controller, keyPath);
}
LabelBinding* bindLabel(QLabel& label, ObjectController& controller, const QString& keyPath,
                        LabelBinding::Formatter format)
{
    return bindWidget<LabelBinding>(label, controller, keyPath, std::move(format));
}

} // namespace ui
