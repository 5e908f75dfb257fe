// The self-sizing text field: its size is checked after every layout, resize and text change and at
// the start and end of an edit, and the layout is asked again only when the size really changed.
#include "ui/autosizing_text_field.h"

#include <QAbstractTextDocumentLayout>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QTextDocument>

#include <algorithm>
#include <cmath>
#include <memory>

namespace ui {

namespace {

// Room below the typed text while editing, so the next line's start is not clipped.
constexpr qreal editingExtraHeight = 5.0;
// The measuring height: more than any note takes.
constexpr qreal measuringHeightLimit = 20000.0;

} // namespace

class AutosizingTextField::UserInput {
public:
    explicit UserInput(AutosizingTextField& field) : field_(field) { ++field_.userInputDepth_; }
    ~UserInput() { --field_.userInputDepth_; }
    UserInput(const UserInput&) = delete;
    UserInput& operator=(const UserInput&) = delete;

private:
    AutosizingTextField& field_;
};

AutosizingTextField::AutosizingTextField(QWidget* parent) : QTextEdit(parent)
{
    setAcceptRichText(false);
    setTabChangesFocus(true);
    setFrameShape(QFrame::NoFrame);
    setLineWrapMode(QTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The text runs between 2 px of padding at each side and touches the top and the bottom, so the
    // text the field shows is laid out at exactly the width it is measured at.
    setViewportMargins(textPadding, 0, textPadding, 0);
    document()->setDocumentMargin(0);
    // The width comes from the layout (the hint's width follows the width, which would let a tight
    // layout shrink the field step by step); the height is the hint's.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    connect(this, &QTextEdit::textChanged, this, &AutosizingTextField::textDidChange);
    typingPause_.setSingleShot(true);
    typingPause_.setInterval(typingPauseMilliseconds);
    connect(&typingPause_, &QTimer::timeout, this, [this] {
        if (isEditing_)
            Q_EMIT typingPaused();
    });
    // Once the builder has set the text and the field stands in its layout, lay it out again.
    QCoreApplication::postEvent(this, new QEvent(QEvent::LayoutRequest));
}

QSizeF AutosizingTextField::intrinsicContentSize() const
{
    const QSizeF bounds = size();
    if (isEditing_) {
        const QAbstractTextDocumentLayout* layout = document()->documentLayout();
        if (!layout)
            return {bounds.width(), 0.0};
        return {bounds.width(), layout->documentSize().height() + editingExtraHeight};
    }
    if (lineWrapMode() != QTextEdit::NoWrap && bounds.height() > 1.0) {
        const std::unique_ptr<QTextDocument> measure(document()->clone());
        measure->setDocumentMargin(0);
        measure->setTextWidth(std::max(0.0, bounds.width() - 2.0 * textPadding));
        const QSizeF measured = measure->size();
        return {measured.width(), std::min(measured.height(), measuringHeightLimit)};
    }
    return QTextEdit::sizeHint();
}

QSize AutosizingTextField::sizeHint() const
{
    const QSizeF size = intrinsicContentSize();
    return {static_cast<int>(std::ceil(size.width())), static_cast<int>(std::ceil(size.height()))};
}

QSize AutosizingTextField::minimumSizeHint() const
{
    // The fixed height is the hint's; no minimum of a scrolling text edit applies.
    return {0, 0};
}

void AutosizingTextField::invalidateWordWrappedContentSizeIfNeeded()
{
    const QSizeF size = intrinsicContentSize();
    if (size != previousIntrinsicContentSize_)
        updateGeometry();
    previousIntrinsicContentSize_ = size;
}

void AutosizingTextField::setIsEditing(bool editing)
{
    isEditing_ = editing;
    if (!editing)
        typingPause_.stop();
    invalidateWordWrappedContentSizeIfNeeded();
}

void AutosizingTextField::endEditing()
{
    if (!isEditing_)
        return;
    setIsEditing(false);
    Q_EMIT editingFinished();
}

bool AutosizingTextField::event(QEvent* event)
{
    const bool handled = QTextEdit::event(event);
    if (event->type() == QEvent::LayoutRequest || event->type() == QEvent::FontChange)
        invalidateWordWrappedContentSizeIfNeeded();
    return handled;
}

void AutosizingTextField::resizeEvent(QResizeEvent* event)
{
    QTextEdit::resizeEvent(event);
    invalidateWordWrappedContentSizeIfNeeded();
}

void AutosizingTextField::keyPressEvent(QKeyEvent* event)
{
    UserInput input(*this);
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // A new paragraph, also with Shift, not the text edit's own in-paragraph line separator: the
        // text reads back with a plain line break.
        textCursor().insertText(QStringLiteral("\n"));
        ensureCursorVisible();
        event->accept();
        return;
    }
    QTextEdit::keyPressEvent(event);
}

void AutosizingTextField::inputMethodEvent(QInputMethodEvent* event)
{
    UserInput input(*this);
    QTextEdit::inputMethodEvent(event);
}

void AutosizingTextField::insertFromMimeData(const QMimeData* source)
{
    UserInput input(*this); // pasting and dropping
    QTextEdit::insertFromMimeData(source);
}

void AutosizingTextField::contextMenuEvent(QContextMenuEvent* event)
{
    UserInput input(*this); // the menu's Cut, Paste and Delete run inside
    QTextEdit::contextMenuEvent(event);
}

void AutosizingTextField::focusOutEvent(QFocusEvent* event)
{
    QTextEdit::focusOutEvent(event);
    // The field's own context menu takes the focus for a moment without ending the edit.
    if (event->reason() != Qt::PopupFocusReason)
        endEditing();
}

void AutosizingTextField::textDidChange()
{
    if (userInputDepth_ > 0) {
        typingPause_.start(); // again from now
        if (!isEditing_) {
            setIsEditing(true);
            Q_EMIT editingStarted();
        }
    }
    invalidateWordWrappedContentSizeIfNeeded();
}

} // namespace ui
