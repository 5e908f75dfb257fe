// A customer for whom projects are done; carries the default hourly rate and currency of its projects.
#pragma once

#include "model/managed_object.h"

#include "foundation/decimal.h"

#include <cstddef>
#include <optional>
#include <string>

namespace model {

class Project;

class Client : public ManagedObject {
public:
    static constexpr const char* entityName = "Client";
    enum Attribute { nameKey, hourlyRateKey, currencyKey, sortOrderKey };
    enum Relationship { projectsKey };

    std::optional<std::string> name() const { return optionalValue<std::string>(nameKey); }
    void setName(std::optional<std::string> name) { setOptionalValue(nameKey, name); }
    std::optional<foundation::Decimal> hourlyRate() const { return optionalValue<foundation::Decimal>(hourlyRateKey); }
    void setHourlyRate(std::optional<foundation::Decimal> rate) { setOptionalValue(hourlyRateKey, rate); }
    std::optional<std::string> currency() const { return optionalValue<std::string>(currencyKey); }
    void setCurrency(std::optional<std::string> currency) { setOptionalValue(currencyKey, currency); }
    std::int64_t sortOrder() const { return integerValue(sortOrderKey); }
    void setSortOrder(std::int64_t order) { setValue(sortOrderKey, order); }

    std::vector<Project*> projects() const;
    // How many billed timers would be shown in another currency (their amounts unchanged) if the
    // client's currency became `newCurrency`: those of its projects that take their currency from it.
    std::size_t billedTimersRelabelledBy(const std::optional<std::string>& newCurrency) const;

protected:
    void awakeFromInsert() override;
};

} // namespace model
