// The panes the program gives the main window: one timer pane for every timer, the project's pane,
// the empty label, the focus in the duration editor after a new fixed-duration timer, and a column
// wide enough for every control.
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
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
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

// Every control of either pane shows whole inside the window at the first window's size, and a
// width given to the column comes back at the next start.
TEST_F(InspectorPanesTest, TheColumnShowsEveryControlWholeAndKeepsItsWidth)
{
    model::Timer* period = website_->startNewTimer();
    period->stop();
    context().processPendingChanges();
    const auto expectWhole = [this](data::Object* item) {
        split().showInspector(item);
        QApplication::processEvents();
        QWidget* pane = split().currentInspectorViewController();
        int checked = 0;
        for (QWidget* control : pane->findChildren<QWidget*>()) {
            const bool kind = qobject_cast<QComboBox*>(control) || qobject_cast<QAbstractSpinBox*>(control)
                              || qobject_cast<QPushButton*>(control);
            if (!kind || !control->isVisible())
                continue;
            ++checked;
            const QString name = QString::fromLatin1(control->metaObject()->className()) + " "
                                 + control->property("text").toString() + " in " + pane->objectName();
            EXPECT_GE(control->width(), control->sizeHint().width()) << name.toStdString();
            EXPECT_LE(control->mapTo(&window_, QPoint(control->width(), 0)).x(), window_.width()) << name.toStdString();
        }
        EXPECT_GT(checked, 2);
    };
    expectWhole(first_); // the duration's hours and minutes
    expectWhole(period); // start, end, rate kind
    expectWhole(website_);

    // The offscreen screen leaves the outline little room: the column is made narrower, as far as
    // its controls allow.
    QList<int> widths = split().sizes();
    widths[1] += 30;
    widths[2] -= 30;
    split().setSizes(widths);
    const int kept = split().sizes()[2];
    ASSERT_EQ(kept, widths[2]);
    window_.close();
    mainwindow::MainWindowController reopened(&context(), defaults);
    reopened.splitViewController()->setInspectorPaneFactory(app::inspectorPaneFactory(context()));
    reopened.show();
    QApplication::processEvents();
    EXPECT_EQ(reopened.splitViewController()->sizes()[2], kept);
}

} // namespace
