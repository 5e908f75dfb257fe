// Key tables of the timer, the project and the pause entry, and the dependency walk they share.
#include "inspectors/key_tables.h"

#include "model/client.h"
#include "model/money_bounds.h"
#include "model/pause_entry.h"
#include "model/project.h"
#include "model/timer.h"

#include "foundation/calendar.h"

namespace inspectors {

namespace {

using model::KeyDependencies;
using Write = std::function<std::optional<std::string>(void*, const ui::BoundValue&)>;

const KeyDependencies* derivedKeys(const data::Object& object)
{
    const std::string& entity = object.entity().name();
    if (entity == model::Timer::entityName)
        return &model::Timer::keyDependencies();
    if (entity == model::Project::entityName)
        return &model::Project::keyDependencies();
    if (entity == model::PauseEntry::entityName)
        return &model::PauseEntry::keyDependencies();
    return nullptr;
}

void addDependencies(const data::Object* object, std::string_view keyPath, std::vector<ui::ValueDependency>& out,
                     int depth)
{
    // The tables have no cycles; the bound only guards against a future one.
    if (!object || keyPath.empty() || depth > 16)
        return;
    const std::size_t dot = keyPath.find('.');
    const std::string_view key = keyPath.substr(0, dot);
    if (const KeyDependencies* derived = derivedKeys(*object)) {
        if (auto found = derived->find(std::string(key)); found != derived->end()) {
            for (const std::string& dependency : found->second)
                addDependencies(object, dependency, out, depth + 1);
            return;
        }
    }
    out.push_back({object, std::string(key)});
    if (dot == std::string_view::npos)
        return;
    const int relationship = object->entity().relationshipIndex(key);
    if (relationship >= 0 && !object->entity().relationships()[static_cast<std::size_t>(relationship)].toMany)
        addDependencies(object->toOne(relationship), keyPath.substr(dot + 1), out, depth + 1);
}

template <typename T>
T& entity(void* content)
{
    return *static_cast<T*>(static_cast<data::Object*>(content));
}

template <typename T>
ui::BoundValue optionalValue(const std::optional<T>& value)
{
    return value ? ui::BoundValue(*value) : ui::BoundValue();
}

// A key path of "content.<key>" with its reader, writer (none: read-only) and dependencies.
ui::KeyAccessor accessor(std::string_view key, std::function<ui::BoundValue(void*)> read, Write write = {})
{
    return {std::move(read), std::move(write), [key = std::string(key)](void* content) {
                return dependenciesOf(static_cast<const data::Object*>(content), key);
            }};
}

std::optional<foundation::Date> dateValue(const ui::BoundValue& value)
{
    if (const auto* date = std::get_if<foundation::Date>(&value))
        return *date;
    return std::nullopt;
}

// The day of `day` at the wall time of `time`, in the user's calendar.
std::optional<foundation::Date> dayWithTime(foundation::Date day, foundation::Date time)
{
    const foundation::Calendar calendar = foundation::Calendar::current();
    foundation::DateComponents parts = calendar.components(time);
    const foundation::DateComponents dayParts = calendar.components(day);
    parts.year = dayParts.year;
    parts.month = dayParts.month;
    parts.day = dayParts.day;
    return calendar.date(parts);
}

std::optional<std::string> writeHourlyRate(const ui::BoundValue& value,
                                           const std::function<void(foundation::Decimal)>& store)
{
    const auto* rate = std::get_if<foundation::Decimal>(&value);
    if (!rate || !model::isAcceptableHourlyRate(*rate))
        return "Enter the hourly rate as a number from 0 to 1,000,000.";
    store(rate->rounded(2));
    return std::nullopt;
}

std::optional<ui::KeyAccessor> timerKey(std::string_view key)
{
    using model::Timer;
    if (key == "start")
        return accessor(
            key, [](void* c) { return optionalValue(entity<Timer>(c).start()); },
            [](void* c, const ui::BoundValue& value) -> std::optional<std::string> {
                Timer& timer = entity<Timer>(c);
                if (auto error = timer.validateStart(dateValue(value)))
                    return error->localizedDescription;
                timer.setStart(dateValue(value));
                return std::nullopt;
            });
    if (key == "end")
        return accessor(
            key, [](void* c) { return optionalValue(entity<Timer>(c).end()); },
            [](void* c, const ui::BoundValue& value) -> std::optional<std::string> {
                Timer& timer = entity<Timer>(c);
                if (auto error = timer.validateEnd(dateValue(value)))
                    return error->localizedDescription;
                timer.setEnd(dateValue(value));
                return std::nullopt;
            });
    if (key == "date")
        return accessor(
            "start", [](void* c) { return optionalValue(entity<Timer>(c).start()); },
            [](void* c, const ui::BoundValue& value) -> std::optional<std::string> {
                Timer& timer = entity<Timer>(c);
                const auto day = dateValue(value);
                if (!day)
                    return "Enter a date.";
                const auto start = timer.start() ? dayWithTime(*day, *timer.start()) : day;
                if (!start)
                    return "The date is not valid.";
                timer.setStart(start);
                return std::nullopt;
            });
    if (key == "notes")
        return accessor(
            key, [](void* c) { return optionalValue(entity<Timer>(c).notes()); },
            [](void* c, const ui::BoundValue& value) -> std::optional<std::string> {
                const auto* text = std::get_if<std::string>(&value);
                entity<Timer>(c).setNotes(text ? std::optional(*text) : std::nullopt);
                return std::nullopt;
            });
    if (key == "fixedDuration")
        return accessor(
            key, [](void* c) { return optionalValue(entity<Timer>(c).fixedDuration()); },
            [](void* c, const ui::BoundValue& value) -> std::optional<std::string> {
                const auto* minutes = std::get_if<std::int64_t>(&value);
                if (!minutes || *minutes < 0)
                    return "Enter the duration as hours and minutes.";
                entity<Timer>(c).setFixedDuration(*minutes);
                return std::nullopt;
            });
    if (key == "fixedCost")
        return accessor(
            key, [](void* c) { return optionalValue(entity<Timer>(c).fixedCost()); },
            [](void* c, const ui::BoundValue& value) -> std::optional<std::string> {
                const auto* cost = std::get_if<foundation::Decimal>(&value);
                entity<Timer>(c).setFixedCost(cost ? std::optional(cost->rounded(2)) : std::nullopt);
                return std::nullopt;
            });
    if (key == "customHourlyRate")
        return accessor(
            key, [](void* c) { return optionalValue(entity<Timer>(c).customHourlyRate()); },
            [](void* c, const ui::BoundValue& value) {
                return writeHourlyRate(value,
                                       [c](foundation::Decimal rate) { entity<Timer>(c).setCustomHourlyRate(rate); });
            });
    if (key == "billed")
        return accessor(
            key, [](void* c) { return ui::BoundValue(entity<Timer>(c).billed()); },
            [](void* c, const ui::BoundValue& value) -> std::optional<std::string> {
                const auto* billed = std::get_if<bool>(&value);
                entity<Timer>(c).setBilled(billed && *billed);
                return std::nullopt;
            });
    if (key == "billedHourlyRate")
        return accessor(key, [](void* c) { return optionalValue(entity<Timer>(c).billedHourlyRate()); });
    if (key == "hourlyRate")
        return accessor(key, [](void* c) { return ui::BoundValue(entity<Timer>(c).hourlyRate()); });
    if (key == "project.hourlyRate")
        return accessor(key, [](void* c) {
            const model::Project* project = entity<Timer>(c).project();
            return project ? ui::BoundValue(project->hourlyRate()) : ui::BoundValue();
        });
    if (key == "pauseEntriesLabelText")
        return accessor(key, [](void* c) { return ui::BoundValue(entity<Timer>(c).pauseEntriesLabelText()); });
    return std::nullopt;
}

// Writes now, or leaves the write to the gate.
std::optional<std::string> throughGate(const CurrencyChangeGate& gate, model::Project& project,
                                       const std::string& newCurrency, std::function<void()> change)
{
    if (!gate || gate(project, newCurrency, change))
        change();
    return std::nullopt;
}

std::optional<ui::KeyAccessor> projectKey(std::string_view key, const CurrencyChangeGate& gate)
{
    using model::Project;
    if (key == "client")
        return accessor(
            key,
            [](void* c) {
                data::Object* client = entity<Project>(c).client();
                return ui::BoundValue(ui::ObjectValue{client});
            },
            [gate](void* c, const ui::BoundValue& value) -> std::optional<std::string> {
                Project& project = entity<Project>(c);
                const auto* chosen = std::get_if<ui::ObjectValue>(&value);
                auto* object = chosen ? static_cast<data::Object*>(chosen->object) : nullptr;
                // Only a live client of the project's own store can be its client.
                if (object
                    && (object->context() != project.context() || object->entity().name() != model::Client::entityName))
                    return "Choose one of the clients.";
                auto* client = static_cast<model::Client*>(object);
                return throughGate(gate, project, Project::currencyOf(project.customCurrency(), client),
                                   [&project, client] { project.setClient(client); });
            });
    if (key == "notes")
        return accessor(
            key, [](void* c) { return optionalValue(entity<Project>(c).notes()); },
            [](void* c, const ui::BoundValue& value) -> std::optional<std::string> {
                const auto* text = std::get_if<std::string>(&value);
                entity<Project>(c).setNotes(text ? std::optional(*text) : std::nullopt);
                return std::nullopt;
            });
    if (key == "customHourlyRate")
        return accessor(
            key, [](void* c) { return optionalValue(entity<Project>(c).customHourlyRate()); },
            [](void* c, const ui::BoundValue& value) {
                return writeHourlyRate(value,
                                       [c](foundation::Decimal rate) { entity<Project>(c).setCustomHourlyRate(rate); });
            });
    if (key == "customCurrency")
        return accessor(
            key, [](void* c) { return optionalValue(entity<Project>(c).customCurrency()); },
            [gate](void* c, const ui::BoundValue& value) -> std::optional<std::string> {
                // An emptied box leaves the project without a currency of its own.
                Project& project = entity<Project>(c);
                const auto* text = std::get_if<std::string>(&value);
                const auto own = text && !text->empty() ? std::optional(*text) : std::nullopt;
                return throughGate(gate, project, Project::currencyOf(own, project.client()),
                                   [&project, own] { project.setCustomCurrency(own); });
            });
    if (key == "hourlyRate")
        return accessor(key, [](void* c) { return ui::BoundValue(entity<Project>(c).hourlyRate()); });
    if (key == "currency")
        return accessor(key, [](void* c) { return ui::BoundValue(entity<Project>(c).currency()); });
    return std::nullopt;
}

std::optional<ui::KeyAccessor> pauseEntryKey(std::string_view key)
{
    using model::PauseEntry;
    if (key == "start")
        return accessor(
            key, [](void* c) { return optionalValue(entity<PauseEntry>(c).start()); },
            [](void* c, const ui::BoundValue& value) -> std::optional<std::string> {
                PauseEntry& entry = entity<PauseEntry>(c);
                if (auto error = entry.validateStart(dateValue(value)))
                    return error->localizedDescription;
                entry.setStart(dateValue(value));
                return std::nullopt;
            });
    if (key == "end")
        return accessor(
            key, [](void* c) { return optionalValue(entity<PauseEntry>(c).end()); },
            [](void* c, const ui::BoundValue& value) -> std::optional<std::string> {
                PauseEntry& entry = entity<PauseEntry>(c);
                if (auto error = entry.validateEnd(dateValue(value)))
                    return error->localizedDescription;
                entry.setEnd(dateValue(value));
                return std::nullopt;
            });
    if (key == "duration")
        return accessor(key, [](void* c) { return ui::BoundValue(entity<PauseEntry>(c).duration()); });
    if (key == "formattedDuration")
        return accessor(key, [](void* c) { return ui::BoundValue(entity<PauseEntry>(c).formattedDuration()); });
    return std::nullopt;
}

// Text of a field where an empty text means no value.
std::optional<std::string> textOrNone(const ui::BoundValue& value)
{
    const auto* text = std::get_if<std::string>(&value);
    return text && !text->empty() ? std::optional(*text) : std::nullopt;
}

std::optional<ui::KeyAccessor> clientKey(std::string_view key, const ClientCurrencyChangeGate& gate)
{
    using model::Client;
    if (key == "name")
        return accessor(
            key, [](void* c) { return optionalValue(entity<Client>(c).name()); },
            [](void* c, const ui::BoundValue& value) -> std::optional<std::string> {
                entity<Client>(c).setName(textOrNone(value));
                return std::nullopt;
            });
    if (key == "hourlyRate")
        return accessor(
            key, [](void* c) { return optionalValue(entity<Client>(c).hourlyRate()); },
            [](void* c, const ui::BoundValue& value) -> std::optional<std::string> {
                const auto* rate = std::get_if<foundation::Decimal>(&value);
                if (!rate || !model::isAcceptableHourlyRate(*rate))
                    return "Enter the hourly rate as a number from 0 to 1,000,000.";
                entity<Client>(c).setHourlyRate(rate->rounded(2));
                return std::nullopt;
            });
    if (key == "currency")
        return accessor(
            key, [](void* c) { return optionalValue(entity<Client>(c).currency()); },
            [gate](void* c, const ui::BoundValue& value) -> std::optional<std::string> {
                Client& client = entity<Client>(c);
                const std::optional<std::string> currency = textOrNone(value);
                const auto change = [&client, currency] { client.setCurrency(currency); };
                if (!gate || gate(client, currency, change))
                    change();
                return std::nullopt;
            });
    return std::nullopt;
}

constexpr std::string_view contentPrefix = "content.";

ui::KeyTable tableOf(std::optional<ui::KeyAccessor> (*entityKey)(std::string_view))
{
    return [entityKey](std::string_view keyPath) -> std::optional<ui::KeyAccessor> {
        if (!keyPath.starts_with(contentPrefix))
            return std::nullopt;
        return entityKey(keyPath.substr(contentPrefix.size()));
    };
}

} // namespace

std::vector<ui::ValueDependency> dependenciesOf(const data::Object* object, std::string_view keyPath)
{
    std::vector<ui::ValueDependency> dependencies;
    addDependencies(object, keyPath, dependencies, 0);
    return dependencies;
}

ui::KeyTable timerKeys()
{
    return tableOf(timerKey);
}

ui::KeyTable clientKeys(ClientCurrencyChangeGate gate)
{
    return [gate = std::move(gate)](std::string_view keyPath) -> std::optional<ui::KeyAccessor> {
        if (!keyPath.starts_with(contentPrefix))
            return std::nullopt;
        return clientKey(keyPath.substr(contentPrefix.size()), gate);
    };
}

ui::KeyTable projectKeys(CurrencyChangeGate gate)
{
    return [gate = std::move(gate)](std::string_view keyPath) -> std::optional<ui::KeyAccessor> {
        if (!keyPath.starts_with(contentPrefix))
            return std::nullopt;
        return projectKey(keyPath.substr(contentPrefix.size()), gate);
    };
}

ui::KeyTable pauseEntryKeys()
{
    return tableOf(pauseEntryKey);
}

} // namespace inspectors
