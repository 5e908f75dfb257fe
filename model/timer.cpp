// Hourly rate and billing of a timer.
#include "model/timer.h"

#include "model/client.h"
#include "model/project.h"

namespace model {

foundation::Decimal Timer::hourlyRate() const
{
    if (auto rate = billedHourlyRate())
        return *rate;
    if (auto rate = customHourlyRate())
        return *rate;
    if (const Project* owner = project()) {
        if (auto rate = owner->customHourlyRate())
            return *rate;
        if (const Client* client = owner->client())
            if (auto rate = client->hourlyRate())
                return *rate;
    }
    return foundation::Decimal();
}

void Timer::setBilled(bool billed)
{
    setValue(billedKey, billed);
    // The rate is frozen at billing (an existing frozen rate stays) and released at unbilling.
    setBilledHourlyRate(billed ? std::optional<foundation::Decimal>(hourlyRate()) : std::nullopt);
}

} // namespace model
