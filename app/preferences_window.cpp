// The preferences window's widgets and their writes to the user defaults.
#include "app/preferences_window.h"

#include "app/updater.h"
#include "model/currency_symbols.h"
#include "model/money_bounds.h"
#include "model/preferences.h"
#include "ui/bindings.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QRadioButton>
#include <QVBoxLayout>

#include <optional>

namespace app {

namespace {

// The settings the window's fields are bound to, under "values.<defaults key>" as the user defaults
// controller names them. The rate is stored with two decimals at most, as the field shows it.
ui::KeyTable preferencesKeys()
{
    return [](std::string_view path) -> std::optional<ui::KeyAccessor> {
        auto settings = [](void* content) { return static_cast<model::Preferences*>(content); };
        auto dependsOn = [](const char* key) {
            return [key](void* content) { return std::vector<ui::ValueDependency>{{content, key}}; };
        };
        if (path == "values.showsMenuIcon")
            return ui::KeyAccessor{[=](void* c) { return ui::BoundValue(settings(c)->showsMenuIcon()); },
                                   [=](void* c, const ui::BoundValue& value) -> std::optional<std::string> {
                                       settings(c)->setShowsMenuIcon(std::get<bool>(value));
                                       return std::nullopt;
                                   },
                                   dependsOn("showsMenuIcon")};
        if (path == "values.defaultProjectHourlyRate")
            return ui::KeyAccessor{[=](void* c) { return ui::BoundValue(settings(c)->defaultProjectHourlyRate()); },
                                   [=](void* c, const ui::BoundValue& value) -> std::optional<std::string> {
                                       const auto* rate = std::get_if<foundation::Decimal>(&value);
                                       if (!rate || !model::isAcceptableHourlyRate(*rate))
                                           return "not an acceptable hourly rate";
                                       settings(c)->setDefaultProjectHourlyRate(rate->rounded(2));
                                       return std::nullopt;
                                   },
                                   dependsOn("defaultProjectHourlyRate")};
        if (path == "values.defaultProjectHourlyRateCurrency")
            return ui::KeyAccessor{
                [=](void* c) { return ui::BoundValue(settings(c)->defaultProjectHourlyRateCurrency()); },
                [=](void* c, const ui::BoundValue& value) -> std::optional<std::string> {
                    const QString symbol = QString::fromStdString(std::get<std::string>(value)).trimmed();
                    if (symbol.isEmpty())
                        return "no currency symbol";
                    settings(c)->setDefaultProjectHourlyRateCurrency(symbol.toStdString());
                    return std::nullopt;
                },
                dependsOn("defaultProjectHourlyRateCurrency")};
        return std::nullopt;
    };
}

ui::KeyTable updaterKeys()
{
    return [](std::string_view path) -> std::optional<ui::KeyAccessor> {
        if (path != "automaticallyChecksForUpdates")
            return std::nullopt;
        auto updater = [](void* content) { return static_cast<Updater*>(content); };
        return ui::KeyAccessor{[=](void* c) { return ui::BoundValue(updater(c)->automaticallyChecksForUpdates()); },
                               [=](void* c, const ui::BoundValue& value) -> std::optional<std::string> {
                                   updater(c)->setAutomaticallyChecksForUpdates(std::get<bool>(value));
                                   return std::nullopt;
                               },
                               {}};
    };
}

} // namespace

PreferencesWindow::PreferencesWindow(model::Preferences& settings, Updater* updater,
                                     std::function<void(bool)> menuIconChanged, QWidget* parent)
    : QWidget(parent, Qt::Window), settings_(settings), updater_(updater), menuIconChanged_(std::move(menuIconChanged)),
      timerTypeGroup_(new QButtonGroup(this)), menuIconCheckbox_(new QCheckBox(tr("Show icon in the tray"), this)),
      hourlyRateField_(new QLineEdit(this)), hourlyRateProblem_(new QLabel(this)), currencyBox_(new QComboBox(this)),
      automaticUpdatesCheckbox_(new QCheckBox(tr("Automatically check for updates"), this)),
      settingsController_(new ui::ObjectController(preferencesKeys(), this)),
      updaterController_(new ui::ObjectController(updaterKeys(), this))
{
    setWindowTitle(tr("Preferences"));

    auto* timerTypes = new QVBoxLayout;
    const QString names[] = {tr("Period"), tr("Duration"), tr("Expense")};
    for (int rawType = 0; rawType < 3; ++rawType) {
        auto* button = new QRadioButton(names[rawType], this);
        timerTypeGroup_->addButton(button, rawType);
        timerTypes->addWidget(button);
    }
    connect(timerTypeGroup_, &QButtonGroup::idClicked, this,
            [this](int rawType) { settings_.setDefaultTimerType(rawType); });

    currencyBox_->setEditable(true);
    for (const std::string& symbol : model::currencySymbols())
        currencyBox_->addItem(QString::fromStdString(symbol));
    hourlyRateProblem_->setVisible(false);
    // As the menu's "Check for Updates…": shown but unavailable without an updater, saying why.
    if (!updater_) {
        automaticUpdatesCheckbox_->setEnabled(false);
        automaticUpdatesCheckbox_->setToolTip(tr("Updates come from your system's package manager."));
    }

    ui::bindChecked(*menuIconCheckbox_, *settingsController_, QStringLiteral("values.showsMenuIcon"));
    ui::bindDecimal(*hourlyRateField_, *settingsController_, QStringLiteral("values.defaultProjectHourlyRate"))
        ->setKeepsRefusedText(true); // kept for correction
    ui::bindText(*currencyBox_, *settingsController_, QStringLiteral("values.defaultProjectHourlyRateCurrency"));
    if (updater_)
        ui::bindChecked(*automaticUpdatesCheckbox_, *updaterController_,
                        QStringLiteral("automaticallyChecksForUpdates"));
    // A blank currency silently shows the stored one again; a refused rate explains itself.
    settingsController_->setRefusalHandler([this](QWidget& field, const QString&) {
        if (&field == hourlyRateField_)
            showHourlyRateProblem();
    });
    connect(settingsController_, &ui::ObjectController::valueWritten, this, [this](const QString& keyPath) {
        if (keyPath == QLatin1String("values.defaultProjectHourlyRate"))
            hourlyRateProblem_->setVisible(false);
        else if (keyPath == QLatin1String("values.showsMenuIcon") && menuIconChanged_)
            menuIconChanged_(settings_.showsMenuIcon());
    });

    auto* rate = new QHBoxLayout;
    rate->addWidget(hourlyRateField_);
    rate->addWidget(currencyBox_);
    auto* form = new QFormLayout(this);
    form->addRow(tr("New timers:"), timerTypes);
    form->addRow(tr("Default hourly rate:"), rate);
    form->addRow(QString(), hourlyRateProblem_);
    form->addRow(QString(), menuIconCheckbox_);
    form->addRow(QString(), automaticUpdatesCheckbox_);

    settingsController_->setContent(&settings_);
    updaterController_->setContent(updater_);
    showStoredValues();
}

QRadioButton* PreferencesWindow::timerTypeButton(int rawTimerType) const
{
    return qobject_cast<QRadioButton*>(timerTypeGroup_->button(rawTimerType));
}

void PreferencesWindow::showEvent(QShowEvent* event)
{
    showStoredValues();
    QWidget::showEvent(event);
}

void PreferencesWindow::showStoredValues()
{
    // A stored type outside the three leaves every radio button off.
    if (QAbstractButton* button = timerTypeGroup_->button(static_cast<int>(settings_.defaultTimerType())))
        button->setChecked(true);
    else if (QAbstractButton* checked = timerTypeGroup_->checkedButton()) {
        timerTypeGroup_->setExclusive(false);
        checked->setChecked(false);
        timerTypeGroup_->setExclusive(true);
    }
    // Opening the window shows what is stored, a refused rate included.
    for (ui::ObjectController* controller : {settingsController_, updaterController_})
        for (ui::Binding* binding : controller->bindings())
            binding->reread();
    hourlyRateProblem_->setVisible(false);
}

void PreferencesWindow::showHourlyRateProblem()
{
    const QLocale locale;
    hourlyRateProblem_->setText(
        tr("Enter the hourly rate as a number from 0 to %1, e.g. %2.")
            .arg(locale.toString(static_cast<qlonglong>(model::maximumHourlyRate)), locale.toString(85.5, 'f', 2)));
    hourlyRateProblem_->setVisible(true);
}

} // namespace app
