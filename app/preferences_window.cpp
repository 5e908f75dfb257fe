// The preferences window's widgets and their writes to the user defaults.
#include "app/preferences_window.h"

#include "app/global_functions.h"
#include "model/money_bounds.h"
#include "model/preferences.h"
#include "app/updater.h"

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

// The exact rate written in `text` as the locale writes numbers (its decimal separator, grouping
// optional), without exponent; nothing for anything else. Through a double, "1e40" would pass and a
// long number would lose digits.
std::optional<foundation::Decimal> parseRate(const QString& text, const QLocale& locale)
{
    bool ok = false;
    (void)locale.toDouble(text, &ok); // checks the locale's separators and grouping
    if (!ok || text.contains(locale.exponential(), Qt::CaseInsensitive))
        return std::nullopt;
    QString canonical = text;
    canonical.remove(locale.groupSeparator());
    canonical.replace(locale.decimalPoint(), QStringLiteral("."));
    return foundation::Decimal::parse(canonical.toStdString());
}

} // namespace

PreferencesWindow::PreferencesWindow(model::Preferences& settings, Updater* updater, std::function<void(bool)> menuIconChanged,
                                     QWidget* parent)
    : QWidget(parent, Qt::Window),
      settings_(settings),
      updater_(updater),
      menuIconChanged_(std::move(menuIconChanged)),
      timerTypeGroup_(new QButtonGroup(this)),
      menuIconCheckbox_(new QCheckBox(tr("Show icon in the tray"), this)),
      hourlyRateField_(new QLineEdit(this)),
      hourlyRateProblem_(new QLabel(this)),
      currencyBox_(new QComboBox(this)),
      automaticUpdatesCheckbox_(new QCheckBox(tr("Automatically check for updates"), this))
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
    for (const std::string& symbol : currencySymbols())
        currencyBox_->addItem(QString::fromStdString(symbol));
    connect(currencyBox_, &QComboBox::activated, this, [this] { currencyEdited(); });
    connect(currencyBox_->lineEdit(), &QLineEdit::editingFinished, this, [this] { currencyEdited(); });

    connect(hourlyRateField_, &QLineEdit::editingFinished, this, [this] { hourlyRateEdited(); });
    hourlyRateProblem_->setVisible(false);

    connect(menuIconCheckbox_, &QCheckBox::toggled, this, [this](bool checked) {
        if (checked == settings_.showsMenuIcon())
            return;
        settings_.setShowsMenuIcon(checked);
        if (menuIconChanged_)
            menuIconChanged_(checked);
    });

    automaticUpdatesCheckbox_->setVisible(updater_ != nullptr);
    connect(automaticUpdatesCheckbox_, &QCheckBox::toggled, this, [this](bool checked) {
        if (updater_)
            updater_->setAutomaticallyChecksForUpdates(checked);
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
    {
        const QSignalBlocker blocker(menuIconCheckbox_);
        menuIconCheckbox_->setChecked(settings_.showsMenuIcon());
    }
    hourlyRateField_->setText(QLocale().toString(settings_.defaultProjectHourlyRate().toDouble(), 'f', 2));
    hourlyRateProblem_->setVisible(false);
    currencyBox_->setCurrentText(QString::fromStdString(settings_.defaultProjectHourlyRateCurrency()));
    if (updater_) {
        const QSignalBlocker blocker(automaticUpdatesCheckbox_);
        automaticUpdatesCheckbox_->setChecked(updater_->automaticallyChecksForUpdates());
    }
}

void PreferencesWindow::hourlyRateEdited()
{
    const QLocale locale;
    const auto rate = parseRate(hourlyRateField_->text().trimmed(), locale);
    if (!rate || !model::isAcceptableHourlyRate(*rate)) {
        // The stored rate stays; the field keeps the text so it can be corrected.
        hourlyRateProblem_->setText(tr("Enter the hourly rate as a number from 0 to %1, e.g. %2.")
                                        .arg(locale.toString(static_cast<qlonglong>(model::maximumHourlyRate)),
                                             locale.toString(85.5, 'f', 2)));
        hourlyRateProblem_->setVisible(true);
        return;
    }
    hourlyRateProblem_->setVisible(false);
    // Two decimals at most, as the field shows them.
    settings_.setDefaultProjectHourlyRate(rate->rounded(2));
}

void PreferencesWindow::currencyEdited()
{
    const QString symbol = currencyBox_->currentText().trimmed();
    if (symbol.isEmpty()) {
        currencyBox_->setCurrentText(QString::fromStdString(settings_.defaultProjectHourlyRateCurrency()));
        return;
    }
    settings_.setDefaultProjectHourlyRateCurrency(symbol.toStdString());
}

} // namespace app
