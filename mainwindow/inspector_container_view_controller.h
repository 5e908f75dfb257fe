// The third column of the main window: hosts the inspector pane of the selection in `contentView`,
// or shows `emptyLabel` while nothing is selected. The split view controller does the placing.
#pragma once

#include <QWidget>

class QLabel;

namespace mainwindow {

class InspectorContainerViewController : public QWidget {
    Q_OBJECT
public:
    explicit InspectorContainerViewController(QWidget* parent = nullptr);

    QWidget* contentView() const { return contentView_; }
    QLabel* emptyLabel() const { return emptyLabel_; }

private:
    QWidget* contentView_;
    QLabel* emptyLabel_;
};

} // namespace mainwindow
