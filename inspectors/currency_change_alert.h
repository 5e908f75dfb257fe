// The question asked before a change would show a project's billed timers in another currency:
// their amounts stay as they were billed, only the currency they are shown in changes. Shared by the
// project pane and the drops that give a project another client.
#pragma once

#include <functional>
#include <string>

class QWidget;

namespace model {
class Project;
}

namespace inspectors {

// When `newCurrency` would relabel billed timers of `project`, asks over `window` (Change / Cancel),
// naming how many, and answers false: `change` runs on Change (unless the project was deleted
// meanwhile), `cancelled` otherwise. With nothing to ask it answers true and the caller changes now.
bool askBeforeRelabellingBilledTimers(QWidget& window, model::Project& project, const std::string& newCurrency,
                                      std::function<void()> change, std::function<void()> cancelled = {});

} // namespace inspectors
