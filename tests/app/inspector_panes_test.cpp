// The panes the program gives the main window: one timer pane for every timer, the project's pane,
// the empty label, and the focus in the duration editor after a new fixed-duration timer.
#include "app_shell_fixture.h"

#include "app/inspector_panes.h"

#include "inspectors/duration_editor.h"
#include "inspectors/project_inspector_view_controller.h"
#include "inspectors/timer_inspector_view_controller.h"
#include "mainwindow/inspector_container_view_controller.h"
#include "mainwindow/main_window_controller.h"
#include "mainwindow/projects_view_controller.h"
#include "model/managed_object.h"
#include "model/project.h"
#include "model/timer.h"

#include <QApplication>
#include <QLabel>
#include <QSpinBox>

namespace {

class InspectorPanesTest : public AppShellTest {
protected:
    InspectorPanesTest()
    {
        website_->setName("Website");
        first_ = website_->addFixedDurationTimer();
        second_ = website_->addExpenseTimer();
        context().processPendingChanges();
        window_.splitViewController()->setInspectorPaneFactory(app::inspectorPaneFactory(context()));
        window_.show();
        QApplication::setActiveWindow(&window_);
    }
    data::ObjectContext& context() { return persistence.managedObjectContext(); }
    mainwindow::MainSplitViewController& split() { return *window_.splitViewController(); }

    model::Project* website_ = model::initInContext<model::Project>(context());
    model::Timer* first_ = nullptr;
    model::Timer* second_ = nullptr;
    mainwindow::MainWindowController window_{&context(), defaults};
};

TEST_F(InspectorPanesTest, TimersShareOneTimerPaneProjectsGetTheirsAndNothingShowsTheLabel)
{
    split().showInspector(first_);
    inspectors::InspectorViewController* timerPane = split().currentInspectorViewController();
    ASSERT_NE(timerPane, nullptr);
    EXPECT_EQ(timerPane->objectName(), "TimerInspector");
    EXPECT_EQ(timerPane->inspectedObject(), first_);
    split().showInspector(second_);
    EXPECT_EQ(split().currentInspectorViewController(), timerPane);
    EXPECT_EQ(timerPane->inspectedObject(), second_);

    split().showInspector(website_);
    EXPECT_NE(qobject_cast<inspectors::ProjectInspectorViewController*>(split().currentInspectorViewController()),
              nullptr);
    EXPECT_EQ(split().currentInspectorViewController()->objectName(), "ProjectInspector");
    EXPECT_EQ(split().currentInspectorViewController()->inspectedObject(), website_);
    split().showInspector(nullptr);
    EXPECT_FALSE(split().inspectorContainerViewController()->emptyLabel()->isHidden());
}

TEST_F(InspectorPanesTest, ANewFixedDurationTimerPutsTheFocusInTheHours)
{
    split().projectsViewController()->selectItem(*website_);
    split().createNewFixedDurationTimerForSelectedProject();
    QApplication::processEvents();
    auto* pane = dynamic_cast<inspectors::TimerInspectorViewController*>(split().currentInspectorViewController());
    ASSERT_NE(pane, nullptr);
    EXPECT_EQ(QApplication::focusWidget(), pane->durationDatePicker()->hoursField());
}

} // namespace
