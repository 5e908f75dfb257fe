// The entry of a fixed duration as hours and minutes. Hours are not bounded by a day, so 26:15 is
// 26 hours and 15 minutes (a time-of-day picker would wrap at 24 hours and lose them).
#pragma once

#include "ui/object_controller.h"

#include <QWidget>

#include <cstdint>

class QSpinBox;

namespace inspectors {

class DurationEditor : public QWidget {
    Q_OBJECT
public:
    explicit DurationEditor(QWidget* parent = nullptr);

    std::int64_t minutes() const;
    void setMinutes(std::int64_t minutes);
    // "HH:MM", hours with at least two digits.
    QString text() const;

    QSpinBox* hoursField() const { return hours_; }
    QSpinBox* minutesField() const { return minutes_; }

Q_SIGNALS:
    // The user finished an edit: Return, or the focus left both fields.
    void editingFinished();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QSpinBox* hours_;
    QSpinBox* minutes_;
};

// Binds a duration editor to whole minutes (an absent value shows 00:00).
class DurationBinding : public ui::Binding {
    Q_OBJECT
public:
    DurationBinding(DurationEditor& editor, ui::ObjectController& controller, QString keyPath);
    bool hasEdit() const override;

protected:
    void showValue(const ui::BoundValue& value) override;
    std::optional<ui::BoundValue> fieldValue(QString& problem) const override;

private:
    DurationEditor& editor_;
    std::int64_t shown_ = 0;
};

DurationBinding* bindDuration(DurationEditor& editor, ui::ObjectController& controller, const QString& keyPath);

} // namespace inspectors
