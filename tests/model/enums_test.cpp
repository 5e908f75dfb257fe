// Raw values of the shared enumerations: both directions for every case, and raw values that name no
// case.
#include "model/enums.h"

#include <gtest/gtest.h>

#include <unordered_set>

using namespace model;

TEST(Enums, TimerTypeRawValues)
{
    for (TimerType type : {TimerType::period, TimerType::duration, TimerType::expense})
        EXPECT_EQ(timerTypeFromRawValue(rawValue(type)), type);
    EXPECT_EQ(rawValue(TimerType::period), 0);
    EXPECT_EQ(rawValue(TimerType::expense), 2);
    EXPECT_EQ(timerTypeFromRawValue(2), TimerType::expense);
    EXPECT_EQ(timerTypeFromRawValue(3), std::nullopt);
    EXPECT_EQ(timerTypeFromRawValue(-1), std::nullopt);
    EXPECT_EQ(timerTypeFromRawValue(INT64_MIN), std::nullopt);
}

TEST(Enums, DateFilterRangeRawValues)
{
    const DateFilterRange all[] = {DateFilterRange::all,   DateFilterRange::day,  DateFilterRange::week,
                                   DateFilterRange::month, DateFilterRange::year, DateFilterRange::custom};
    for (std::int64_t raw = 0; raw < 6; ++raw) {
        EXPECT_EQ(rawValue(all[raw]), raw);
        EXPECT_EQ(dateFilterRangeFromRawValue(raw), all[raw]);
    }
    EXPECT_EQ(dateFilterRangeFromRawValue(6), std::nullopt);
    EXPECT_EQ(dateFilterRangeFromRawValue(-1), std::nullopt);
}

TEST(Enums, StringRawValuesAreExactAndCaseSensitive)
{
    EXPECT_EQ(tallyParameterKeyFromRawValue("timer type"), TallyParameterKey::timerType);
    EXPECT_EQ(tallyParameterKeyFromRawValue("Timer type"), std::nullopt);
    EXPECT_EQ(tallyParameterKeyFromRawValue("timerType"), std::nullopt);
    EXPECT_EQ(tallyParameterKeyFromRawValue("timer type "), std::nullopt);
    EXPECT_EQ(tallyParameterKeyFromRawValue(""), std::nullopt);
    EXPECT_EQ(rawValue(TallyParameterKey::hourlyRateType), "hourly rate type");
    EXPECT_EQ(rawValue(TallyParameterKey::navigationContext), "navigationContext");
    for (auto key : {TallyParameterKey::format, TallyParameterKey::timerType, TallyParameterKey::hourlyRateType,
                     TallyParameterKey::direction, TallyParameterKey::navigationContext, TallyParameterKey::value})
        EXPECT_EQ(tallyParameterKeyFromRawValue(rawValue(key)), key);

    for (auto context : {TallyNavigationContext::inspector, TallyNavigationContext::projectList,
                         TallyNavigationContext::contextMenu, TallyNavigationContext::miniWindow})
        EXPECT_EQ(tallyNavigationContextFromRawValue(rawValue(context)), context);
    EXPECT_EQ(rawValue(TallyNavigationContext::miniWindow), "miniWindow");
    EXPECT_EQ(tallyNavigationContextFromRawValue("MiniWindow"), std::nullopt);

    EXPECT_EQ(rawValue(UserDefaultsKeys::defaultProjectHourlyRateCurrency), "defaultProjectHourlyRateCurrency");
    EXPECT_EQ(userDefaultsKeysFromRawValue("dateFilterRange"), UserDefaultsKeys::dateFilterRange);
    EXPECT_EQ(userDefaultsKeysFromRawValue("datefilterrange"), std::nullopt);
}

TEST(Enums, UserDefaultsKeysAreTheirCaseNames)
{
    const std::pair<UserDefaultsKeys, std::string_view> keys[] = {
        {UserDefaultsKeys::didShowMiniWindowHint, "didShowMiniWindowHint"},
        {UserDefaultsKeys::dateFilterRange, "dateFilterRange"},
        {UserDefaultsKeys::showsBilledTimers, "showsBilledTimers"},
        {UserDefaultsKeys::exportFields, "exportFields"},
        {UserDefaultsKeys::showsMenuIcon, "showsMenuIcon"},
        {UserDefaultsKeys::defaultTimerType, "defaultTimerType"},
        {UserDefaultsKeys::defaultProjectHourlyRate, "defaultProjectHourlyRate"},
        {UserDefaultsKeys::defaultProjectHourlyRateCurrency, "defaultProjectHourlyRateCurrency"},
    };
    for (const auto& [key, name] : keys) {
        EXPECT_EQ(rawValue(key), name);
        EXPECT_EQ(userDefaultsKeysFromRawValue(name), key);
    }
}
