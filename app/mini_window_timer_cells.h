// The rows of the mini window's timer table: one running period timer each, with a pause-or-resume
// and a stop button and its duration in a badge that is filled while the timer runs and outlined
// while it is paused; and the table, which draws row lines only under rows that exist.
#pragma once

#include "ui/round_rect_view.h"

#include <QPointer>
#include <QTableWidget>

#include <optional>

class QLabel;

namespace model {
class DurationValueTransformer;
class Timer;
}
namespace ui {
class HoverButton;
}

namespace app {

// The duration badge. Enabled (the timer runs): white text on a fill of the tint; disabled (paused):
// tint-coloured text inside a 1 px tint outline on a clear ground.
class TimerDurationView : public ui::RoundRectView {
    Q_OBJECT
public:
    explicit TimerDurationView(QWidget* parent = nullptr);

    QLabel* durationLabel() const { return durationLabel_; }
    // Setting the tint does not recolour; the next updateColors does.
    std::optional<QColor> tintColor() const { return tintColor_; }
    void setTintColor(std::optional<QColor> color) { tintColor_ = color; }
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled);

    void roundEnds() override;
    void updateColors();

private:
    QLabel* durationLabel_ = nullptr;
    std::optional<QColor> tintColor_;
    bool enabled_ = true;
};

class MiniWindowTimerTableCellView : public QWidget {
    Q_OBJECT
public:
    explicit MiniWindowTimerTableCellView(QWidget* parent = nullptr);

    // The row's timer; setting it brings the paused look up to date (not the duration text).
    model::Timer* objectValue() const { return timer_; }
    void setObjectValue(model::Timer* timer);
    model::Timer* timer() const { return timer_; }

    ui::HoverButton* togglePauseButton() const { return togglePauseButton_; }
    ui::HoverButton* stopButton() const { return stopButton_; }
    TimerDurationView* durationView() const { return durationView_; }
    QLabel* projectLabel() const { return projectLabel_; }
    QLabel* notesLabel() const { return notesLabel_; }

    // The button image ("play" while paused, "pause" otherwise), the badge's look and the texts of
    // project and notes.
    void updateView();
    // The badge text: the timer's duration as hours and minutes.
    void updateDuration();

    static const model::DurationValueTransformer& durationValueTransformer();

signals:
    void togglePauseRequested(QWidget* sender);
    void stopRequested(QWidget* sender);

private:
    model::Timer* timer_ = nullptr;
    ui::HoverButton* togglePauseButton_ = nullptr;
    ui::HoverButton* stopButton_ = nullptr;
    TimerDurationView* durationView_ = nullptr;
    QLabel* projectLabel_ = nullptr;
    QLabel* notesLabel_ = nullptr;
};

class MiniWindowTimerTableView : public QTableWidget {
    Q_OBJECT
public:
    explicit MiniWindowTimerTableView(QWidget* parent = nullptr);

    // The part of `clip` (viewport coordinates) where row lines may be drawn: from the top down to
    // the last row's bottom edge; empty without rows.
    QRect drawGridInClipRect(const QRect& clip) const;
    // The row whose cell holds `view` (the cell or anything inside it); -1 for a view outside a row.
    int rowForView(const QWidget* view) const;
    // The cell at the row without making one; nullptr when there is none.
    MiniWindowTimerTableCellView* cellAt(int row) const;
    // The rows that lie in the visible part of the table, in ascending order.
    std::vector<int> visibleRows() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The row buttons' images, drawn here rather than loaded: "play", "pause" and "stop".
QPixmap miniWindowButtonImage(const QString& name);

} // namespace app
