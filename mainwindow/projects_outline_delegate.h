// Paints every cell of the projects outline (no widget per cell): the spanning project row with its
// duration and new-timer button, and the timer cells with their state colours, status image and
// pause/play and stop buttons. Clicks on those painted buttons come out as signals; the name typed
// into a project row's editor goes to a handler.
#pragma once

#include <QColor>
#include <QElapsedTimer>
#include <QStyledItemDelegate>

#include <functional>

namespace mainwindow {

class ProjectsOutlineDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit ProjectsOutlineDelegate(QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // A project row's name is edited in a line edit over its name; what the user typed goes to the
    // handler (the model is not written), and only when it differs from the name shown.
    using ProjectNameHandler = std::function<void(const QModelIndex& index, const QString& name)>;
    void setProjectNameHandler(ProjectNameHandler handler) { projectNameHandler_ = std::move(handler); }
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const override;

    // Where the painted buttons sit inside a cell: shared by painting and hit testing.
    static QRect newTimerButtonRect(const QRect& projectCell);
    static QRect togglePauseButtonRect(const QRect& actionsCell);
    static QRect stopButtonRect(const QRect& actionsCell);
    // The area of a project row's name (and client), left of its duration.
    static QRect projectNameRect(const QRect& projectCell, const QFont& font, const QString& durationText);

    // The selection's colour for the outline: the highlight while the outline has the focus in the
    // active window, grey otherwise. Rows are tinted with it and marked by a bar of it.
    static QColor selectionColour(const QWidget* view, const QPalette& palette);
    static QColor selectionTint(const QColor& selection);
    static QColor projectBackground();
    static constexpr int selectionBarWidth = 5;

    // The running dot's opacity now: 0.1 to 1 and back every four seconds, eased at both ends.
    double pulseOpacity() const;

signals:
    void newTimerButtonClicked(const QModelIndex& index);
    void togglePauseButtonClicked(const QModelIndex& index);
    void stopButtonClicked(const QModelIndex& index);

protected:
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;

private:
    void paintBackground(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index,
                         bool project) const;
    void paintProject(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const;
    void paintTimerCell(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const;

    QElapsedTimer pulseClock_;
    ProjectNameHandler projectNameHandler_;
};

} // namespace mainwindow
