// The key paths the inspector panes and editors bind their fields to, per entity: how each reads and
// writes the model (through the entities' setters and checks) and which stored keys its value comes
// from, found through the entities' key dependencies.
#pragma once

#include "ui/object_controller.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace data {
class Object;
}
namespace model {
class Client;
class Project;
} // namespace model

namespace inspectors {

// The stored keys a key path of `object` is read from: derived keys expand through the entity's key
// dependencies, to-one relations are followed ("project.hourlyRate" depends on the timer's
// "project", the project's "customHourlyRate" and "client", the client's "hourlyRate").
std::vector<ui::ValueDependency> dependenciesOf(const data::Object* object, std::string_view keyPath);

// "content." followed by: start, end (both checked by the timer's validation: an end after the start
// and not in the future), date (the day of the
// start; writing it keeps the start's time), notes, fixedDuration (whole minutes, 0 or more),
// fixedCost, customHourlyRate (0 to the maximum rate), billed (billing freezes the rate),
// billedHourlyRate, hourlyRate, project.hourlyRate, pauseEntriesLabelText (the last four read-only).
ui::KeyTable timerKeys();

// Asked before a write of the project's client or own currency would change the currency it shows
// its billed timers in: `change` makes the write. True to write now; false when the gate writes later
// (after asking the user) or never.
using CurrencyChangeGate =
    std::function<bool(model::Project& project, const std::string& newCurrency, std::function<void()> change)>;
// The same for a write of a client's currency (none when the text is emptied), which the projects
// that take their currency from the client show.
using ClientCurrencyChangeGate = std::function<bool(
    model::Client& client, const std::optional<std::string>& newCurrency, std::function<void()> change)>;

// "content." followed by name (an empty text is stored as no name), hourlyRate (0 to the maximum rate,
// kept to two places) and currency (an empty text is stored as none) of a client. A change of currency
// passes `gate` first, when given.
ui::KeyTable clientKeys(ClientCurrencyChangeGate gate = {});

// "content." followed by: client (one of the store's clients, or none), notes, customHourlyRate (0 to
// the maximum rate), customCurrency (an empty text is no own currency), hourlyRate and currency (the
// derived values, read-only). A change of client or own currency passes `gate` first, when given.
ui::KeyTable projectKeys(CurrencyChangeGate gate = {});

// "content." followed by start and end of a pause entry (neither after now while its timer runs),
// duration and formattedDuration (read-only).
ui::KeyTable pauseEntryKeys();

} // namespace inspectors
