// The question asked before a change would show billed timers in another currency: their amounts stay
// as they were billed, only the currency they are shown in changes. Shared by the project pane, the
// drops that give a project another client and the client editor.
#pragma once

#include <functional>
#include <optional>
#include <string>

class QWidget;

namespace model {
class Client;
class Project;
} // namespace model

namespace inspectors {

// When `newCurrency` would relabel billed timers of `project`, asks over `window` (Change / Cancel),
// naming how many, and answers false: `change` runs on Change (unless the project was deleted
// meanwhile), `cancelled` otherwise. With nothing to ask it answers true and the caller changes now.
bool askBeforeRelabellingBilledTimers(QWidget& window, model::Project& project, const std::string& newCurrency,
                                      std::function<void()> change, std::function<void()> cancelled = {});

// The same for a client whose currency would become `newCurrency` (none: the client has none): the
// billed timers counted are those of its projects that take their currency from it.
bool askBeforeRelabellingBilledTimers(QWidget& window, model::Client& client,
                                      const std::optional<std::string>& newCurrency, std::function<void()> change,
                                      std::function<void()> cancelled = {});

} // namespace inspectors
