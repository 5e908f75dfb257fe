// Pane construction for the main window's inspector column.
#include "app/inspector_panes.h"

#include "inspectors/inspector_view_controller.h"
#include "inspectors/timer_inspector_view_controller.h"

namespace app {

mainwindow::InspectorPaneFactory inspectorPaneFactory(data::ObjectContext& context)
{
    return {
        [&context] {
            auto* pane = new inspectors::InspectorViewController(&context, {});
            pane->setObjectName(QStringLiteral("ProjectInspector"));
            return pane;
        },
        [&context] { return new inspectors::TimerInspectorViewController(&context); },
    };
}

} // namespace app
