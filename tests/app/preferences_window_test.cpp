// The preferences window shows the stored settings and writes each change at once.
#include "app_shell_fixture.h"
#include "support/scoped_environment.h"

#include "app/preferences_window.h"
#include "foundation/locale.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

namespace {

TEST_F(AppShellTest, PreferencesWindowWritesTheFiveSettings)
{
    {
        testsupport::ScopedEnvironment locale{{"LC_ALL", std::nullopt}, {"LC_MONETARY", std::string("de_DE.UTF-8")}};
        settings.registerDefaults();
    }
    EXPECT_EQ(defaults.stringValue("defaultProjectHourlyRateCurrency"), "€"); // settled and stored
    settings.setDefaultTimerType(2);
    std::vector<bool> menuIconChanges;
    app::PreferencesWindow window(settings, &updater, [&](bool shows) { menuIconChanges.push_back(shows); });
    window.show();

    EXPECT_TRUE(window.timerTypeButton(2)->isChecked());
    window.timerTypeButton(1)->click();
    EXPECT_EQ(defaults.integerValue("defaultTimerType", -1), 1);

    window.menuIconCheckbox()->setChecked(false);
    EXPECT_EQ(defaults.object("showsMenuIcon"), foundation::DefaultsValue(false));
    EXPECT_EQ(menuIconChanges, std::vector<bool>{false});

    window.hourlyRateField()->setText(QLocale().toString(85.5, 'f', 2));
    emit window.hourlyRateField()->editingFinished();
    EXPECT_EQ(defaults.numberValue("defaultProjectHourlyRate"), 85.5);

    ASSERT_GE(window.currencyBox()->count(), 4);
    EXPECT_EQ(window.currencyBox()->itemText(0), "€");
    EXPECT_EQ(window.currencyBox()->itemText(3), "¥");
    window.currencyBox()->setCurrentText("£");
    emit window.currencyBox()->lineEdit()->editingFinished();
    EXPECT_EQ(defaults.stringValue("defaultProjectHourlyRateCurrency"), "£");

    EXPECT_TRUE(window.automaticUpdatesCheckbox()->isEnabled());
    window.automaticUpdatesCheckbox()->setChecked(true);
    EXPECT_TRUE(updater.automaticallyChecksForUpdates());
    window.automaticUpdatesCheckbox()->setChecked(false);
    EXPECT_FALSE(updater.automaticallyChecksForUpdates());
}

TEST_F(AppShellTest, PreferencesWindowRefusesABadRateAndKeepsTheStoredOne)
{
    {
        testsupport::ScopedEnvironment locale{{"LC_ALL", std::nullopt}, {"LC_MONETARY", std::string("en_US.UTF-8")}};
        settings.registerDefaults();
    }
    settings.setDefaultProjectHourlyRate(foundation::Decimal(40));
    app::PreferencesWindow window(settings, nullptr, {});
    window.show();
    for (const char* text : {"lots", "-5", "", "1e40", "1e37", "1E3", "1000000.01", "1000001",
                             "123456789012345678901234567890123456789012", "inf", "nan"}) {
        window.hourlyRateField()->setText(text);
        emit window.hourlyRateField()->editingFinished();
        EXPECT_EQ(defaults.numberValue("defaultProjectHourlyRate"), 40.0) << text;
        EXPECT_FALSE(window.hourlyRateProblem()->isHidden()) << text;
    }
    // Without an updater the update check is there but unavailable, and says where updates come from.
    EXPECT_FALSE(window.automaticUpdatesCheckbox()->isHidden());
    EXPECT_FALSE(window.automaticUpdatesCheckbox()->isEnabled());
    EXPECT_TRUE(window.automaticUpdatesCheckbox()->toolTip().contains("package manager"));
}

TEST_F(AppShellTest, PreferencesWindowReadsTheRateExactlyInTheLocalesWay)
{
    settings.registerDefaults();
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    app::PreferencesWindow window(settings, nullptr, {});
    window.show();
    const auto enter = [&](const QString& text) {
        window.hourlyRateField()->setText(text);
        emit window.hourlyRateField()->editingFinished();
    };

    enter(QStringLiteral("85,5"));
    EXPECT_EQ(settings.defaultProjectHourlyRate(), *foundation::Decimal::parse("85.5"));
    enter(QStringLiteral("1.000.000"));
    EXPECT_EQ(settings.defaultProjectHourlyRate(), foundation::Decimal(1'000'000));
    EXPECT_TRUE(window.hourlyRateProblem()->isHidden());
    enter(QStringLiteral("0,125"));
    EXPECT_EQ(settings.defaultProjectHourlyRate(), *foundation::Decimal::parse("0.12")); // two places, half-even

    enter(QStringLiteral("1,5e3"));
    EXPECT_FALSE(window.hourlyRateProblem()->isHidden());
    EXPECT_EQ(settings.defaultProjectHourlyRate(), *foundation::Decimal::parse("0.12"));
    QLocale::setDefault(previous);
}

TEST_F(AppShellTest, RegisteredCurrencyStaysWhenTheLocaleChanges)
{
    {
        testsupport::ScopedEnvironment locale{{"LC_ALL", std::nullopt}, {"LC_MONETARY", std::string("de_DE.UTF-8")}};
        settings.registerDefaults();
    }
    {
        testsupport::ScopedEnvironment locale{{"LC_ALL", std::nullopt}, {"LC_MONETARY", std::string("en_US.UTF-8")}};
        settings.registerDefaults();
    }
    EXPECT_EQ(settings.defaultProjectHourlyRateCurrency(), "€");
    EXPECT_TRUE(settings.showsMenuIcon());
    EXPECT_EQ(settings.defaultTimerType(), 0);
}

} // namespace
