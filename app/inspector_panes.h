// The inspector panes the main window places: made here, where the shell knows every pane class.
#pragma once

#include "mainwindow/main_split_view_controller.h"

namespace data {
class ObjectContext;
}

namespace app {

// The project pane for projects, the timer pane for timers.
mainwindow::InspectorPaneFactory inspectorPaneFactory(data::ObjectContext& context);

} // namespace app
