// Pane construction for the main window's inspector column.
#include "app/inspector_panes.h"

#include "inspectors/project_inspector_view_controller.h"
#include "inspectors/timer_inspector_view_controller.h"

namespace app {

mainwindow::InspectorPaneFactory inspectorPaneFactory(data::ObjectContext& context)
{
    return {
        [&context] { return new inspectors::ProjectInspectorViewController(&context); },
        [&context] { return new inspectors::TimerInspectorViewController(&context); },
    };
}

} // namespace app
