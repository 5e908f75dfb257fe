// The warning about the settings at launch: which words for a bad file and an unsaved currency, and
// that it is shown once, after the main window, without a real dialog.
#include "app/settings_warning.h"
#include "model/preferences.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

#include <fstream>

namespace {

struct ShownAlert {
    QWidget* parent = nullptr;
    QString title;
    QString text;
};

} // namespace

TEST(SettingsWarningTest, SaysNothingWhenTheSettingsLoadedAndTheCurrencyWasSaved)
{
    QTemporaryDir directory;
    foundation::DefaultsStore defaults(std::filesystem::path(directory.path().toStdString()) / "defaults.json");
    model::Preferences settings(defaults);
    const foundation::Status currencyWrite = settings.registerDefaults();
    app::SettingsWarning warning(settings.loadProblem(), currencyWrite, defaults.file());
    EXPECT_FALSE(warning.text());

    std::vector<ShownAlert> shown;
    QWidget window;
    warning.showAfterLaunch(&window, [&](QWidget* parent, const QString& title, const QString& text) {
        shown.push_back({parent, title, text});
    });
    QCoreApplication::processEvents();
    EXPECT_TRUE(shown.empty());
}

TEST(SettingsWarningTest, BadFileAndUnsavedCurrencyAreShownOnceOverTheWindow)
{
    QTemporaryDir directory;
    const std::filesystem::path file = std::filesystem::path(directory.path().toStdString()) / "defaults.json";
    std::ofstream(file) << "{ not json";
    testing::internal::CaptureStderr();
    foundation::DefaultsStore defaults(file);
    model::Preferences settings(defaults);
    const auto loadProblem = settings.loadProblem();
    ASSERT_TRUE(loadProblem);
    const auto currencyWrite = foundation::Status::failure(foundation::StatusCode::ioError, "No space left on device");
    testing::internal::GetCapturedStderr();

    app::SettingsWarning warning(loadProblem, currencyWrite, file);
    ASSERT_TRUE(warning.text());
    EXPECT_TRUE(warning.text()->contains(QString::fromStdString(*loadProblem)));
    EXPECT_TRUE(warning.text()->contains(QStringLiteral("No space left on device")));
    EXPECT_TRUE(warning.text()->contains(QString::fromStdString(file.string())));

    std::vector<ShownAlert> shown;
    const auto record = [&](QWidget* parent, const QString& title, const QString& text) {
        shown.push_back({parent, title, text});
    };
    QWidget window;
    warning.showAfterLaunch(&window, record);
    EXPECT_TRUE(shown.empty()) << "not before the window had its turn";
    QCoreApplication::processEvents();
    warning.showAfterLaunch(&window, record);
    QCoreApplication::processEvents();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].parent, &window);
    EXPECT_FALSE(shown[0].title.isEmpty());
    EXPECT_EQ(shown[0].text, *warning.text());
}

TEST(SettingsWarningTest, EachProblemAloneIsShownWithoutTheOther)
{
    const app::SettingsWarning loadOnly(std::string("The settings file x could not be used."),
                                        foundation::Status::success(), "/cfg/defaults.json");
    EXPECT_EQ(loadOnly.text(), QStringLiteral("The settings file x could not be used."));

    const app::SettingsWarning writeOnly(
        std::nullopt, foundation::Status::failure(foundation::StatusCode::ioError, "denied"), "/cfg/defaults.json");
    ASSERT_TRUE(writeOnly.text());
    EXPECT_TRUE(writeOnly.text()->contains(QStringLiteral("currency")));
    EXPECT_TRUE(writeOnly.text()->contains(QStringLiteral("/cfg/defaults.json")));
    EXPECT_FALSE(writeOnly.text()->contains(QStringLiteral("\n\n")));
}
