// A project groups timers; it has a name, notes, a place among all projects, an archived flag, an
// optional client and optional rates of its own.
#pragma once

#include "model/managed_object.h"

#include "model/enums.h"
#include "model/filter.h"
#include "model/timer.h"

#include "foundation/decimal.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace model {

class Attachment;
class Client;

class Project : public ManagedObject {
public:
    static constexpr const char* entityName = "Project";
    enum Attribute {
        nameKey,
        notesKey,
        sortOrderKey,
        archivedKey,
        expandedKey,
        customHourlyRateKey,
        customCurrencyKey
    };
    enum Relationship { clientKey, timersKey, attachmentsKey };

    std::optional<std::string> name() const { return optionalValue<std::string>(nameKey); }
    void setName(std::optional<std::string> name) { setOptionalValue(nameKey, name); }
    std::optional<std::string> notes() const { return optionalValue<std::string>(notesKey); }
    void setNotes(std::optional<std::string> notes) { setOptionalValue(notesKey, notes); }
    std::int64_t sortOrder() const { return integerValue(sortOrderKey); }
    void setSortOrder(std::int64_t order) { setValue(sortOrderKey, order); }
    bool archived() const { return boolValue(archivedKey); }
    void setArchived(bool archived) { setValue(archivedKey, archived); }
    bool expanded() const { return boolValue(expandedKey); }
    void setExpanded(bool expanded) { setValue(expandedKey, expanded); }
    std::optional<foundation::Decimal> customHourlyRate() const
    {
        return optionalValue<foundation::Decimal>(customHourlyRateKey);
    }
    void setCustomHourlyRate(std::optional<foundation::Decimal> rate) { setOptionalValue(customHourlyRateKey, rate); }
    std::optional<std::string> customCurrency() const { return optionalValue<std::string>(customCurrencyKey); }
    void setCustomCurrency(std::optional<std::string> currency) { setOptionalValue(customCurrencyKey, currency); }

    Client* client() const;
    void setClient(Client* client);
    std::vector<Timer*> timers() const;
    std::vector<Attachment*> attachments() const;
    // Whether an attachment's file resolves to `path`; attachments that do not resolve never match.
    bool attachmentMatching(const std::filesystem::path& path) const;
    // Attaches the file unless it is attached already; nothing without a context or a bookmark.
    void addAttachment(const std::filesystem::path& path);

    // Sum of the timers' durations in whole minutes, whatever their type.
    std::int64_t duration() const;
    // Exact decimal sum of the timers' costs. Never throws: a sum beyond a Decimal, possible only with
    // amounts that bypassed the entry bounds, is printed once on stderr and shows as 0.
    foundation::Decimal costs() const;
    // The project's own rate, else its client's, else 0.
    foundation::Decimal hourlyRate() const;
    // The project's own currency, else its client's, else the locale's symbol, else its code, else
    // "$"; an empty string is a value and stops the chain.
    std::string currency() const;
    // The currency a project would have with this own currency and this client.
    static std::string currencyOf(const std::optional<std::string>& ownCurrency, const Client* owner);
    // How many billed timers would be shown in `newCurrency` (their amounts unchanged) if the
    // project's currency became it: all billed timers when it differs from the currency now, else 0.
    std::size_t billedTimersRelabelledBy(const std::string& newCurrency) const;
    // The timers without an end, paused ones included.
    std::vector<Timer*> runningTimers() const;

    // New timers (nullptr outside any context): a running period timer started now rounded down to
    // the minute; fixed-duration and expense timers with end = start.
    Timer* startNewTimer();
    Timer* addFixedDurationTimer();
    Timer* addExpenseTimer();
    // Archiving stops every running timer; unarchiving resumes nothing.
    void toggleArchived();

    // The timers that pass the filter, in its order (or unordered without sort descriptors).
    std::vector<Timer*> timers(const Filter& filter) const;
    // Whether one timer passes the filter's conditions (dates, billed state, search term).
    static bool passes(const Timer& timer, const Filter& filter);
    std::int64_t duration(const Filter& filter) const;

    static const KeyDependencies& keyDependencies();

protected:
    void awakeFromInsert() override;

private:
    Timer* addClosedTimer(TimerType type);
};

} // namespace model
