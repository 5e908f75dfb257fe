// The settings keys over a temporary defaults file: typed reads of damaged values, the currency
// settled from the locale at launch, the built-in values, and the defaults a new client takes.
#include "model/client.h"
#include "model/data_model.h"
#include "model/money_bounds.h"
#include "model/preferences.h"

#include "support/scoped_environment.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>

using namespace model;
using foundation::Decimal;
using foundation::DefaultsArray;
using foundation::DefaultsStore;
using testsupport::ScopedEnvironment;

namespace {

// Pins the currency locale for the scope.
ScopedEnvironment monetaryLocale(const std::string& lang)
{
    return ScopedEnvironment{{"LANG", lang}, {"LC_ALL", std::nullopt}, {"LC_MONETARY", std::nullopt}};
}

class DefaultsFolder : public testsupport::TempFolder {
public:
    DefaultsFolder() : TempFolder("horavine-prefs") {}
    std::filesystem::path file() const { return path() / "defaults.json"; }
};

// Makes Preferences::standard() use `store` for the scope.
class StandardPreferencesOverride {
public:
    explicit StandardPreferencesOverride(DefaultsStore& store) { Preferences::setStandardForTesting(&store); }
    ~StandardPreferencesOverride() { Preferences::setStandardForTesting(nullptr); }
    StandardPreferencesOverride(const StandardPreferencesOverride&) = delete;
    StandardPreferencesOverride& operator=(const StandardPreferencesOverride&) = delete;
};

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

TEST(PreferencesTest, NewClientsTakeTheDefaultRateAndCurrencyAndKeepThem)
{
    const auto locale = monetaryLocale("de_DE.UTF-8");
    DefaultsFolder folder;
    DefaultsStore store(folder.file());
    StandardPreferencesOverride useStore(store);
    data::ObjectContext context(managedObjectModel());

    Client* unregistered = initInContext<Client>(context);
    EXPECT_EQ(unregistered->currency(), "$");
    EXPECT_EQ(unregistered->hourlyRate(), Decimal(0));

    Preferences::standard().registerDefaults();
    Client* first = initInContext<Client>(context);
    EXPECT_EQ(first->name(), "New Client");
    ASSERT_TRUE(first->hourlyRate());
    EXPECT_EQ(first->hourlyRate()->toString(), "0");
    EXPECT_EQ(first->currency(), "€");

    Preferences::standard().setDefaultProjectHourlyRate(Decimal(80));
    Preferences::standard().setDefaultProjectHourlyRateCurrency("CHF");
    Client* second = initInContext<Client>(context);
    EXPECT_EQ(second->hourlyRate()->toString(), "80");
    EXPECT_EQ(second->currency(), "CHF");
    EXPECT_EQ(first->hourlyRate()->toString(), "0");
    EXPECT_EQ(first->currency(), "€");
    EXPECT_EQ(unregistered->currency(), "$");
}

TEST(PreferencesTest, CurrencyIsSettledFromTheLocaleOnceAndStored)
{
    DefaultsFolder folder;
    {
        const auto locale = monetaryLocale("de_DE.UTF-8");
        DefaultsStore store(folder.file());
        Preferences(store).registerDefaults();
    }
    {
        // The next launch runs under a dollar locale: the stored euro stays.
        const auto locale = monetaryLocale("en_US.UTF-8");
        DefaultsStore store(folder.file());
        Preferences preferences(store);
        preferences.registerDefaults();
        EXPECT_EQ(preferences.defaultProjectHourlyRateCurrency(), "€");
    }
    // Only the currency was written; the other built-in values stay in memory.
    DefaultsStore reloaded(folder.file());
    EXPECT_EQ(reloaded.stringValue("defaultProjectHourlyRateCurrency"), "€");
    EXPECT_FALSE(reloaded.object("showsBilledTimers"));
    EXPECT_FALSE(reloaded.object("exportFields"));
    EXPECT_FALSE(reloaded.object("NSApplicationCrashOnExceptions"));
}

TEST(PreferencesTest, StoredCurrencyOfAnotherKindIsReplacedByTheLocaleSymbol)
{
    const auto locale = monetaryLocale("de_DE.UTF-8");
    DefaultsFolder folder;
    {
        DefaultsStore store(folder.file());
        store.set("defaultProjectHourlyRateCurrency", 42);
        EXPECT_EQ(Preferences(store).defaultProjectHourlyRateCurrency(), "$");
    }
    DefaultsStore store(folder.file());
    Preferences(store).registerDefaults();
    EXPECT_EQ(DefaultsStore(folder.file()).stringValue("defaultProjectHourlyRateCurrency"), "€");
}

TEST(PreferencesTest, BuiltInValuesApplyOnlyAfterRegistrationAndYieldToStoredOnes)
{
    const auto locale = monetaryLocale("en_US.UTF-8");
    DefaultsFolder folder;
    DefaultsStore store(folder.file());
    Preferences preferences(store);

    EXPECT_FALSE(preferences.showsBilledTimers());
    EXPECT_FALSE(preferences.showsMenuIcon());
    EXPECT_TRUE(preferences.exportFields().empty());
    EXPECT_EQ(preferences.defaultProjectHourlyRate(), Decimal(0));
    EXPECT_EQ(preferences.defaultProjectHourlyRateCurrency(), "$");

    preferences.registerDefaults();
    EXPECT_TRUE(preferences.showsBilledTimers());
    EXPECT_TRUE(preferences.showsMenuIcon());
    EXPECT_TRUE(store.boolValue("NSApplicationCrashOnExceptions"));
    EXPECT_EQ(
        preferences.exportFields(),
        (std::vector<std::string>{"project_duration", "project_client_name", "project_hourly_rate", "project_notes",
                                  "timer_start_end", "timer_duration", "timer_cost", "timer_notes"}));
    EXPECT_EQ(preferences.defaultTimerType(), 0);
    // Never registered: a fresh installation shows all dates and the mini-window hint once.
    EXPECT_EQ(preferences.dateFilterRange(), 0);
    EXPECT_FALSE(preferences.didShowMiniWindowHint());
    EXPECT_FALSE(store.object("dateFilterRange"));
    EXPECT_FALSE(store.object("didShowMiniWindowHint"));

    preferences.setShowsBilledTimers(false);
    preferences.setExportFields({"timer_billed", "timer_pause"});
    preferences.setDateFilterRange(3);
    preferences.setDidShowMiniWindowHint(true);
    preferences.setDefaultTimerType(2);
    DefaultsStore fresh(folder.file());
    Preferences fromDisk(fresh);
    EXPECT_FALSE(fromDisk.showsBilledTimers());
    EXPECT_EQ(fromDisk.exportFields(), (std::vector<std::string>{"timer_billed", "timer_pause"}));
    EXPECT_EQ(fromDisk.dateFilterRange(), 3);
    EXPECT_TRUE(fromDisk.didShowMiniWindowHint());
    EXPECT_EQ(fromDisk.defaultTimerType(), 2);
}

// A hand-edited value of the wrong kind, or out of range, leaves the built-in value in force.
TEST(PreferencesTest, DamagedValuesReadAsTheBuiltInValues)
{
    const auto locale = monetaryLocale("en_US.UTF-8");
    DefaultsFolder folder;
    DefaultsStore store(folder.file());
    Preferences preferences(store);
    preferences.registerDefaults();

    store.set("exportFields", DefaultsArray{"timer_cost", 3});
    EXPECT_EQ(preferences.exportFields(), Preferences::defaultExportFields());
    store.set("exportFields", "timer_cost");
    EXPECT_EQ(preferences.exportFields(), Preferences::defaultExportFields());

    store.set("defaultProjectHourlyRate", "abc");
    EXPECT_EQ(preferences.defaultProjectHourlyRate(), Decimal(0));
    store.set("defaultProjectHourlyRate", true);
    EXPECT_EQ(preferences.defaultProjectHourlyRate(), Decimal(0));
    store.set("defaultProjectHourlyRate", 12.5);
    EXPECT_EQ(preferences.defaultProjectHourlyRate().toString(), "12.5");
    store.set("defaultProjectHourlyRate", 75);
    EXPECT_EQ(preferences.defaultProjectHourlyRate().toString(), "75");

    store.set("defaultProjectHourlyRate", 5'000'000);
    EXPECT_EQ(preferences.defaultProjectHourlyRate(), Decimal(0));

    store.set("showsMenuIcon", "yes");
    EXPECT_TRUE(preferences.showsMenuIcon());
    store.set("showsBilledTimers", 0);
    EXPECT_TRUE(preferences.showsBilledTimers());
    store.set("dateFilterRange", 2.0);
    EXPECT_EQ(preferences.dateFilterRange(), 0);
    store.set("dateFilterRange", 3);
    EXPECT_EQ(preferences.dateFilterRange(), 3);
    // A whole number that names nothing reaches the readers, which have their own built-in for it.
    store.set("dateFilterRange", 99);
    EXPECT_EQ(preferences.dateFilterRange(), 99);
}

TEST(PreferencesTest, ValuesOfTheWrongKindAreReportedOnceInPlainWords)
{
    const auto locale = monetaryLocale("en_US.UTF-8");
    DefaultsFolder folder;
    {
        std::ofstream(folder.file()) << R"({"showsBilledTimers": "yes", "dateFilterRange": 99, "defaultTimerType": 1,
                                             "exportFields": ["timer_cost", 2], "defaultProjectHourlyRate": "lots",
                                             "defaultProjectHourlyRateCurrency": 7, "showsMenuIcon": false})";
    }
    testing::internal::CaptureStderr();
    DefaultsStore store(folder.file());
    Preferences preferences(store);
    EXPECT_FALSE(preferences.loadProblem()); // the file itself is fine
    preferences.registerDefaults();
    const std::string printed = testing::internal::GetCapturedStderr();

    ASSERT_TRUE(preferences.loadProblem());
    const std::string& problem = *preferences.loadProblem();
    for (const char* words : {"\"showsBilledTimers\" holds a text where true or false belongs",
                              "\"dateFilterRange\" holds 99, which names no date range (0 to 5)",
                              "\"exportFields\" holds a list where a list of texts belongs",
                              "\"defaultProjectHourlyRate\" holds a text where a number belongs",
                              "\"defaultProjectHourlyRateCurrency\" holds a whole number where a text belongs"})
        EXPECT_NE(problem.find(words), std::string::npos) << words << " in: " << problem;
    EXPECT_EQ(problem.find("defaultTimerType"), std::string::npos);
    EXPECT_EQ(problem.find("showsMenuIcon"), std::string::npos);
    EXPECT_NE(problem.find(folder.file().string()), std::string::npos);
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1) << printed;

    // The built-in values stand in; the good ones are read as stored.
    EXPECT_TRUE(preferences.showsBilledTimers());
    EXPECT_EQ(preferences.defaultTimerType(), 1);
    EXPECT_FALSE(preferences.showsMenuIcon());
    EXPECT_EQ(preferences.exportFields(), Preferences::defaultExportFields());
    EXPECT_EQ(preferences.defaultProjectHourlyRate(), Decimal(0));
    EXPECT_EQ(preferences.defaultProjectHourlyRateCurrency(), "$");
}

TEST(PreferencesTest, RateIsStoredAsANumberThatReadsBackExactly)
{
    DefaultsFolder folder;
    {
        DefaultsStore store(folder.file());
        Preferences preferences(store);
        preferences.setDefaultProjectHourlyRate(*Decimal::parse("12.5"));
        EXPECT_EQ(store.numberValue("defaultProjectHourlyRate"), 12.5);
        preferences.setDefaultProjectHourlyRate(*Decimal::parse("0.1"));
    }
    DefaultsStore store(folder.file());
    EXPECT_EQ(Preferences(store).defaultProjectHourlyRate().toString(), "0.1");
    Preferences(store).setDefaultProjectHourlyRate(Decimal(80));
    EXPECT_EQ(store.integerValue("defaultProjectHourlyRate"), 80);
}

TEST(PreferencesTest, GarbageFileStartsOnBuiltInValuesAndIsKeptAsACopy)
{
    const auto locale = monetaryLocale("de_DE.UTF-8");
    DefaultsFolder folder;
    const std::string garbage = "{\"showsBilledTimers\": fal\x01se, ]]";
    std::ofstream(folder.file(), std::ios::binary) << garbage;

    testing::internal::CaptureStderr();
    DefaultsStore store(folder.file());
    Preferences preferences(store);
    preferences.registerDefaults();
    const std::string output = testing::internal::GetCapturedStderr();

    ASSERT_TRUE(preferences.loadProblem());
    EXPECT_NE(output.find(folder.file().string()), std::string::npos);
    EXPECT_TRUE(preferences.showsBilledTimers());
    EXPECT_EQ(preferences.exportFields(), Preferences::defaultExportFields());
    EXPECT_EQ(preferences.defaultProjectHourlyRateCurrency(), "€");

    int copies = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
        if (entry.path().filename().string().starts_with("defaults.json.corrupt-")) {
            ++copies;
            EXPECT_EQ(readFile(entry.path()), garbage);
        }
    }
    EXPECT_EQ(copies, 1);
}

TEST(PreferencesTest, OneUnusableValueKeepsEveryOtherSettingThroughTheLaunchWrite)
{
    const auto locale = monetaryLocale("de_DE.UTF-8");
    DefaultsFolder folder;
    std::ofstream(folder.file(), std::ios::binary)
        << R"({"showsBilledTimers": false, "defaultProjectHourlyRate": 80, "dateFilterRange": null})";

    testing::internal::CaptureStderr();
    {
        DefaultsStore store(folder.file());
        Preferences preferences(store);
        EXPECT_TRUE(preferences.registerDefaults().isOk()); // stores the currency: the file is rewritten
        ASSERT_TRUE(preferences.loadProblem());
        EXPECT_FALSE(preferences.showsBilledTimers());
        EXPECT_EQ(preferences.defaultProjectHourlyRate(), Decimal(80));
    }
    testing::internal::GetCapturedStderr();

    const auto written = nlohmann::json::parse(readFile(folder.file()));
    EXPECT_EQ(written, nlohmann::json::parse(R"({"showsBilledTimers": false, "defaultProjectHourlyRate": 80,
                                                 "dateFilterRange": null,
                                                 "defaultProjectHourlyRateCurrency": "€"})"));
}

TEST(PreferencesTest, RatesBeyondTheBoundAreRefusedAndReadAsZero)
{
    DefaultsFolder folder;
    DefaultsStore store(folder.file());
    Preferences preferences(store);
    ASSERT_TRUE(preferences.setDefaultProjectHourlyRate(Decimal(maximumHourlyRate)).isOk());
    EXPECT_EQ(preferences.defaultProjectHourlyRate(), Decimal(maximumHourlyRate));

    EXPECT_EQ(preferences.setDefaultProjectHourlyRate(*Decimal::parse("1000000.01")).code(),
              foundation::StatusCode::invalidArgument);
    EXPECT_EQ(preferences.setDefaultProjectHourlyRate(Decimal(-1)).code(), foundation::StatusCode::invalidArgument);
    EXPECT_EQ(store.integerValue("defaultProjectHourlyRate"), maximumHourlyRate);

    // A hand-edited value does not reach new clients' costs.
    ASSERT_TRUE(store.set("defaultProjectHourlyRate", 1e37).isOk());
    EXPECT_EQ(preferences.defaultProjectHourlyRate(), Decimal(0));
    ASSERT_TRUE(store.set("defaultProjectHourlyRate", -3).isOk());
    EXPECT_EQ(preferences.defaultProjectHourlyRate(), Decimal(0));
}
