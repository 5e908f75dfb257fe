// The clients sidebar as the split view sees it. The sidebar itself is built elsewhere and derives
// from this class; until it is handed in, the split view shows an empty column.
#pragma once

#include <QWidget>

namespace mainwindow {

class ClientsViewControllerDelegate;

class ClientsViewController : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

    virtual void setDelegate(ClientsViewControllerDelegate* delegate) = 0;
    // Whether the archive row is selected, and a way back to the row of all projects.
    virtual bool isArchiveSelected() const = 0;
    virtual void selectAllProjects() = 0;
    virtual void newClient() = 0;
    virtual void importClientFromContacts() = 0;
};

} // namespace mainwindow
