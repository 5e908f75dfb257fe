// The inspector panes the main window places: made here, where the shell knows every pane class.
#pragma once

#include "mainwindow/main_split_view_controller.h"

namespace data {
class ObjectContext;
}

namespace app {

// The timer pane for timers; for projects an empty base pane until a project pane exists.
mainwindow::InspectorPaneFactory inspectorPaneFactory(data::ObjectContext& context);

} // namespace app
