// A table that never scrolls itself by the scroll wheel: the wheel goes on to the view around it, so
// a short list inside a scrolling pane (the project inspector's attachments) does not swallow it. Its
// scroll bars and keys still scroll it.
#pragma once

#include <QTableView>

namespace ui {

// In Qt the scrolling view and the table it encloses are one widget, so this is the table itself.
class UnscrollableScrollView : public QTableView {
    Q_OBJECT
public:
    explicit UnscrollableScrollView(QWidget* parent = nullptr);

protected:
    void wheelEvent(QWheelEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace ui
