// The mini window's content: the running period timers (paused ones too) by start, each row with a
// pause-or-resume and a stop button (a line saying there are none in their place); a form that slides
// open to ask for a new period timer for a project (named with its client) with notes; and an action
// menu. It never creates a timer itself: it posts the request the
// projects outline answers. Rows follow the store's change notices and the refresh tick.
#pragma once

#include "mainwindow/running_timer_index.h"

#include "foundation/notification_center.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class QComboBox;
class QGraphicsOpacityEffect;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QToolButton;
class QVariantAnimation;

namespace data {
class ObjectContext;
struct ChangeSet;
}
namespace model {
class Project;
class Timer;
}

namespace app {

class MiniWindowTimerTableView;

class MiniWindowViewController : public QWidget {
    Q_OBJECT
public:
    static constexpr int rowHeight = 44;
    static constexpr int topBarHeight = 44;
    static constexpr int newTimerContainerOpenHeight = 136;
    static constexpr int tableHeightAnimationMilliseconds = 150;
    static constexpr int containerResizeMilliseconds = 200;
    static constexpr int containerFadeMilliseconds = 150;

    // Lists and changes the timers of `context` (nothing without one).
    explicit MiniWindowViewController(data::ObjectContext* context, QWidget* parent = nullptr);
    ~MiniWindowViewController() override;

    // The running period timers as the table shows them, by start.
    const std::vector<model::Timer*>& timers() const { return timers_; }
    // The projects the form offers: the unarchived ones in their order.
    const std::vector<model::Project*>& projects() const { return projects_; }
    // The project chosen in the form, if any.
    model::Project* chosenProject() const;
    void chooseProject(model::Project* project);

    MiniWindowTimerTableView* timersTableView() const { return timersTableView_; }
    // The line shown in the list while no timer runs.
    QLabel* emptyLabel() const { return emptyLabel_; }
    QWidget* newTimerContainerView() const { return newTimerContainerView_; }
    QComboBox* projectPopupButton() const { return projectPopupButton_; }
    QLineEdit* notesTextField() const { return notesTextField_; }
    QPushButton* newTimerButton() const { return newTimerButton_; }
    QToolButton* addTimerButton() const { return addTimerButton_; }
    QToolButton* actionMenuButton() const { return actionMenuButton_; }
    QMenu* actionMenu() const { return actionMenu_; }
    // The height the table is animating to (its height once the animation ends).
    int tableHeightTarget() const { return tableHeightTarget_; }
    // The form's height once its animations end, and its opacity then.
    int newTimerContainerHeightTarget() const { return containerHeightTarget_; }

    // Actions.
    void addTimer();
    void cancelAddingTimer();
    void confirmAddingTimer();
    void showActionMenu(QWidget* sender);
    void togglePauseTimer(QWidget* sender);
    void stopTimer(QWidget* sender);

    // Observers (public for the benchmark and the tests that drive them directly).
    void contextDidChange(const data::ChangeSet& changes);
    void refreshTimerFired();

    // Where the action menu opens for a sender: 5 px below its bottom edge, at its left (global).
    static QPoint actionMenuPosition(const QWidget& sender);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void setupObservings();
    void removeObservings();
    void arrangedObjectsDidChange();
    void updateTableHeight();
    void updateEmptyLabel();
    void showNewTimerContainer();
    void hideNewTimerContainer();
    void updateNewTimerButton();
    void performTimerAction(QWidget* sender, void (model::Timer::*operation)(), void (*usageEvent)());
    // Brings the rows in line with the running period timers; true when the list changed.
    bool rearrangeObjects();
    void reloadProjects();
    void animateContainerHeight(int to, std::function<void()> then);
    void animateContainerOpacity(qreal to, std::function<void()> then);

    data::ObjectContext* context_;
    mainwindow::RunningTimerIndex runningTimers_;
    std::vector<model::Timer*> timers_;
    std::vector<model::Project*> projects_;
    foundation::ObserverToken changeToken_;
    foundation::ObserverToken undoToken_;
    foundation::ObserverToken redoToken_;
    foundation::ObserverToken refreshToken_;

    MiniWindowTimerTableView* timersTableView_ = nullptr;
    QLabel* emptyLabel_ = nullptr;
    QWidget* newTimerContainerView_ = nullptr;
    QComboBox* projectPopupButton_ = nullptr;
    QLineEdit* notesTextField_ = nullptr;
    QPushButton* newTimerButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QToolButton* addTimerButton_ = nullptr;
    QToolButton* actionMenuButton_ = nullptr;
    QMenu* actionMenu_ = nullptr;
    QGraphicsOpacityEffect* containerOpacity_ = nullptr;
    QVariantAnimation* tableHeightAnimation_ = nullptr;
    QVariantAnimation* containerHeightAnimation_ = nullptr;
    QVariantAnimation* containerFadeAnimation_ = nullptr;
    int tableHeightTarget_ = rowHeight;
    int containerHeightTarget_ = 0;
};

} // namespace app
