// The preferences window: timer type of new timers, default hourly rate and currency, the menu icon
// and the automatic update check. Every change is written to the user defaults at once, through
// bindings of the fields to the settings.
#pragma once

#include <QWidget>

#include <functional>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace model {
class Preferences;
}
namespace ui {
class ObjectController;
}

namespace app {

class Updater;

class PreferencesWindow : public QWidget {
    Q_OBJECT
public:
    // `menuIconChanged` adds (true) or removes (false) the tray item at once. Without an updater
    // the update check box is disabled, its tooltip naming the package manager.
    PreferencesWindow(model::Preferences& settings, Updater* updater, std::function<void(bool)> menuIconChanged,
                      QWidget* parent = nullptr);

    QRadioButton* timerTypeButton(int rawTimerType) const;
    QCheckBox* menuIconCheckbox() const { return menuIconCheckbox_; }
    QLineEdit* hourlyRateField() const { return hourlyRateField_; }
    QComboBox* currencyBox() const { return currencyBox_; }
    QCheckBox* automaticUpdatesCheckbox() const { return automaticUpdatesCheckbox_; }
    QLabel* hourlyRateProblem() const { return hourlyRateProblem_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void showStoredValues();
    void showHourlyRateProblem();

    model::Preferences& settings_;
    Updater* updater_;
    std::function<void(bool)> menuIconChanged_;
    QButtonGroup* timerTypeGroup_;
    QCheckBox* menuIconCheckbox_;
    QLineEdit* hourlyRateField_;
    QLabel* hourlyRateProblem_;
    QComboBox* currencyBox_;
    QCheckBox* automaticUpdatesCheckbox_;
    ui::ObjectController* settingsController_;
    ui::ObjectController* updaterController_;
};

} // namespace app
