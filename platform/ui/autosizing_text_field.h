// A word-wrapping, editable text field whose preferred height follows its text, also while the user
// types, so that a layout grows and shrinks it with its content. Return types a line break; leaving
// the field ends the edit, and a moment without typing is told, so that a binder can store the text
// before the user leaves. The inspectors' notes fields.
#pragma once

#include <QSizeF>
#include <QTextEdit>
#include <QTimer>

namespace ui {

class AutosizingTextField : public QTextEdit {
    Q_OBJECT
public:
    explicit AutosizingTextField(QWidget* parent = nullptr);

    // The size the field asks for:
    // - while editing, the field's width and the height the text takes there plus 5;
    // - else, when it wraps and is more than 1 px high, the text measured at the width less the 4 px
    //   of side padding, with no height limit that a note could reach;
    // - else the text edit's own size hint.
    QSizeF intrinsicContentSize() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // Asks the layout for a new geometry only when the intrinsic size changed since the last check.
    void invalidateWordWrappedContentSizeIfNeeded();
    QSizeF previousIntrinsicContentSize() const { return previousIntrinsicContentSize_; }

    // An edit begins with the user's first change of the text and ends with the loss of the focus or
    // with endEditing(). Setting the state re-checks the size.
    bool isEditing() const { return isEditing_; }
    void setIsEditing(bool editing);
    // Ends the edit in progress, sending editingFinished(); without one, nothing happens.
    void endEditing();

    // Side padding between the field's edges and its text, on each side.
    static constexpr int textPadding = 2;
    // How long the user has stopped typing when typingPaused() is sent.
    static constexpr int typingPauseMilliseconds = 1000;

Q_SIGNALS:
    // The user's first change of the text began an edit.
    void editingStarted();
    // The user changed the text and then typed nothing for typingPauseMilliseconds, still editing.
    void typingPaused();
    // The edit ended: the moment to write the text where it belongs.
    void editingFinished();

protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    // Counts the user's input being handled, so that only the user's changes begin an edit.
    class UserInput;
    void textDidChange();

    QSizeF previousIntrinsicContentSize_{0.0, 0.0};
    QTimer typingPause_;
    bool isEditing_ = false;
    int userInputDepth_ = 0;
};

} // namespace ui
