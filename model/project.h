// A project groups timers; it has a name, notes, a place among all projects, an archived flag, an
// optional client and optional rates of its own.
#pragma once

#include "model/managed_object.h"

#include "foundation/decimal.h"

#include <optional>
#include <string>

namespace model {

class Attachment;
class Client;
class Timer;

class Project : public ManagedObject {
public:
    static constexpr const char* entityName = "Project";
    enum Attribute { nameKey, notesKey, sortOrderKey, archivedKey, expandedKey, customHourlyRateKey,
                     customCurrencyKey };
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

protected:
    void awakeFromInsert() override;
};

} // namespace model
