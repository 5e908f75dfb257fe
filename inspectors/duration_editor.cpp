// Two spin boxes, hours and minutes, that end an edit together.
#include "inspectors/duration_editor.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QSpinBox>

#include <algorithm>
#include <limits>

namespace inspectors {

namespace {

// Shows its value with at least two digits, as a clock does.
class TwoDigitSpinBox : public QSpinBox {
public:
    using QSpinBox::QSpinBox;

protected:
    QString textFromValue(int value) const override { return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0')); }
};

} // namespace

DurationEditor::DurationEditor(QWidget* parent)
    : QWidget(parent), hours_(new TwoDigitSpinBox(this)), minutes_(new TwoDigitSpinBox(this))
{
    // Hours up to what the spin box holds: far beyond any real timer, within int.
    hours_->setRange(0, std::numeric_limits<int>::max() / 60 - 1);
    minutes_->setRange(0, 59);
    minutes_->setWrapping(true);
    hours_->setAccessibleName(tr("Hours"));
    minutes_->setAccessibleName(tr("Minutes"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(hours_);
    layout->addWidget(new QLabel(QStringLiteral(":"), this));
    layout->addWidget(minutes_);
    layout->addStretch();
    setFocusProxy(hours_);
    for (QSpinBox* field : {hours_, minutes_}) {
        field->installEventFilter(this);
        connect(field, &QAbstractSpinBox::editingFinished, this, [this] {
            // Moving from hours to minutes is not the end of the edit.
            QWidget* focused = QApplication::focusWidget();
            if (focused != hours_ && focused != minutes_)
                Q_EMIT editingFinished();
        });
    }
}

std::int64_t DurationEditor::minutes() const
{
    return static_cast<std::int64_t>(hours_->value()) * 60 + minutes_->value();
}

void DurationEditor::setMinutes(std::int64_t minutes)
{
    const std::int64_t clamped =
        std::clamp<std::int64_t>(minutes, 0, static_cast<std::int64_t>(hours_->maximum()) * 60 + 59);
    hours_->setValue(static_cast<int>(clamped / 60));
    minutes_->setValue(static_cast<int>(clamped % 60));
}

QString DurationEditor::text() const
{
    return hours_->text() + QLatin1Char(':') + minutes_->text();
}

bool DurationEditor::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            // Both fields take what is typed before the edit ends.
            hours_->interpretText();
            minutes_->interpretText();
            Q_EMIT editingFinished();
        }
    }
    return QWidget::eventFilter(watched, event);
}

DurationBinding::DurationBinding(DurationEditor& editor, ui::ObjectController& controller, QString keyPath)
    : Binding(editor, controller, std::move(keyPath)), editor_(editor)
{
    connect(&editor, &DurationEditor::editingFinished, this, [this] { commit(); });
}

bool DurationBinding::hasEdit() const
{
    return editor_.minutes() != shown_;
}

void DurationBinding::showValue(const ui::BoundValue& value)
{
    const auto* minutes = std::get_if<std::int64_t>(&value);
    editor_.setMinutes(minutes ? *minutes : 0);
    shown_ = editor_.minutes();
}

std::optional<ui::BoundValue> DurationBinding::fieldValue(QString&) const
{
    return ui::BoundValue(editor_.minutes());
}

DurationBinding* bindDuration(DurationEditor& editor, ui::ObjectController& controller, const QString& keyPath)
{
    return ui::bindWidget<DurationBinding>(editor, controller, keyPath);
}

} // namespace inspectors
