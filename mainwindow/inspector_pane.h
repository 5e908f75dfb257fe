// An inspector pane as the split view places it: it shows and edits exactly one project or timer.
// The panes are built elsewhere; the split view only makes them (once each) and places them.
#pragma once

#include <QWidget>

#include <functional>

namespace data {
class Object;
}

namespace mainwindow {

class InspectorPane : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

    // The one object the pane shows from now on.
    virtual void setInspectedObject(data::Object& object) = 0;
    // Puts the keyboard focus into the duration editor (timer pane); other panes ignore it.
    virtual void focusDurationPicker() {}
};

// Makes the two panes on first use; the split view keeps and reuses them.
struct InspectorPaneFactory {
    std::function<InspectorPane*()> makeProjectInspector;
    std::function<InspectorPane*()> makeTimerInspector;
};

} // namespace mainwindow
