// The self-sizing text field: measured at its width less the side padding, as many lines high as its
// text wraps into, the typed height plus 5 while editing, the layout asked again only on a real
// change, and Return, Shift+Return and leaving the field as a one-line field has them.
#include "ui/autosizing_text_field.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

// How wide `text` runs on one line in the field's font.
qreal naturalWidth(const ui::AutosizingTextField& field, const QString& text)
{
    QTextDocument document;
    document.setDefaultFont(field.font());
    document.setDocumentMargin(0);
    document.setPlainText(text);
    return document.idealWidth();
}

// The shortest run of `letter` wider than `width`.
QString runWiderThan(const ui::AutosizingTextField& field, QChar letter, qreal width)
{
    QString text(letter);
    while (naturalWidth(field, text) <= width)
        text += letter;
    return text;
}

qreal heightFor(ui::AutosizingTextField& field, const QString& text)
{
    field.setPlainText(text);
    return field.intrinsicContentSize().height();
}

// Counts the layout requests a widget receives, that is the geometry updates of its children.
class LayoutRequestCounter : public QObject {
public:
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::LayoutRequest)
            ++count;
        return false;
    }
};

void settle()
{
    for (int pass = 0; pass < 4; ++pass)
        QApplication::processEvents();
}

TEST(AutosizingTextField, MeasuresItsTextAtItsWidthLessTheSidePadding)
{
    ui::AutosizingTextField field;
    field.resize(204, 40);
    const qreal oneLine = heightFor(field, QStringLiteral("i"));
    ASSERT_GT(oneLine, 0);

    // A text just wider than 200 px wraps, although it would fit the field's 204 px...
    const QString justOver = runWiderThan(field, QLatin1Char('i'), 200.0);
    ASSERT_LE(naturalWidth(field, justOver), 204.0);
    EXPECT_EQ(heightFor(field, justOver), 2 * oneLine);
    EXPECT_EQ(field.intrinsicContentSize().width(), 200.0);
    // ...and one that fits 200 px stays on one line, so the width is not narrowed further.
    const QString justUnder = justOver.left(justOver.size() - 1);
    ASSERT_GT(naturalWidth(field, justUnder), 196.0);
    EXPECT_EQ(heightFor(field, justUnder), oneLine);

    // Words wrapped into three lines are three lines high.
    QString words;
    while (naturalWidth(field, words) < 450.0)
        words += QStringLiteral("garden ");
    EXPECT_EQ(heightFor(field, words.trimmed()), 3 * oneLine);
}

TEST(AutosizingTextField, WithoutWrappingOrAHeightToSpeakOfTheTextEditsOwnHintHolds)
{
    ui::AutosizingTextField field;
    field.setPlainText(QStringLiteral("Notes that would wrap over several lines of a narrow field"));
    field.resize(120, 40);
    field.setLineWrapMode(QTextEdit::NoWrap);
    EXPECT_EQ(field.intrinsicContentSize(), QSizeF(field.QTextEdit::sizeHint()));

    field.setLineWrapMode(QTextEdit::WidgetWidth);
    field.resize(120, 1);
    EXPECT_EQ(field.intrinsicContentSize(), QSizeF(field.QTextEdit::sizeHint()));
    field.resize(120, 2);
    EXPECT_NE(field.intrinsicContentSize(), QSizeF(field.QTextEdit::sizeHint()));
}

class AutosizingTextFieldInWindow : public ::testing::Test {
protected:
    AutosizingTextFieldInWindow()
    {
        window.resize(204, 300);
        layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        field = new ui::AutosizingTextField(&window);
        other = new QLineEdit(&window);
        layout->addWidget(field);
        layout->addWidget(other);
        layout->addStretch();
        window.installEventFilter(&layoutRequests);
    }

    void show()
    {
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        settle();
    }

    qreal oneLineHeight()
    {
        ui::AutosizingTextField probe;
        probe.resize(field->width(), 40);
        return heightFor(probe, QStringLiteral("i"));
    }

    QWidget window;
    QVBoxLayout* layout = nullptr;
    ui::AutosizingTextField* field = nullptr;
    QLineEdit* other = nullptr;
    LayoutRequestCounter layoutRequests;
};

TEST_F(AutosizingTextFieldInWindow, TakesItsTextsHeightFromTheFirstTurnOn)
{
    QString words;
    while (naturalWidth(*field, words) < 450.0)
        words += QStringLiteral("garden ");
    field->setPlainText(words.trimmed());
    show();
    EXPECT_EQ(field->width(), 204);
    EXPECT_EQ(field->height(), qRound(3 * oneLineHeight()));

    field->setPlainText(QStringLiteral("shed"));
    settle();
    EXPECT_EQ(field->height(), qRound(oneLineHeight())); // and shrinks with it
}

TEST_F(AutosizingTextFieldInWindow, RepeatedLayoutsWithTheSameTextAndWidthAskForGeometryAtMostOnce)
{
    field->setPlainText(QStringLiteral("Fence"));
    show();
    // A change of height does reach the window's layout...
    layoutRequests.count = 0;
    field->setPlainText(QStringLiteral("Fence\nGate"));
    settle();
    EXPECT_GE(layoutRequests.count, 1);

    // ...two layout passes without a change do not, but for at most one.
    layoutRequests.count = 0;
    for (int pass = 0; pass < 2; ++pass) {
        QEvent layoutPass(QEvent::LayoutRequest);
        QApplication::sendEvent(field, &layoutPass);
        settle();
    }
    EXPECT_LE(layoutRequests.count, 1);
}

TEST_F(AutosizingTextFieldInWindow, WhileEditingTheHeightIsTheTypedTextsPlusFive)
{
    show();
    field->setFocus();
    QTest::keyClicks(field, QStringLiteral("Rake"));
    ASSERT_TRUE(field->isEditing());

    // Lines 34 px high: the editor's text takes 34 px.
    QTextCursor all(field->document());
    all.select(QTextCursor::Document);
    QTextBlockFormat tall;
    tall.setLineHeight(34, QTextBlockFormat::FixedHeight);
    all.mergeBlockFormat(tall);
    ASSERT_EQ(field->document()->documentLayout()->documentSize().height(), 34.0);
    EXPECT_EQ(field->intrinsicContentSize(), QSizeF(field->width(), 39.0));
    settle();
    EXPECT_EQ(field->height(), 39);
}

TEST_F(AutosizingTextFieldInWindow, ReturnBreaksTheLinePausesAreToldAndLeavingEndsTheEdit)
{
    show();
    QSignalSpy started(field, &ui::AutosizingTextField::editingStarted);
    QSignalSpy paused(field, &ui::AutosizingTextField::typingPaused);
    QSignalSpy finished(field, &ui::AutosizingTextField::editingFinished);
    field->setFocus();
    EXPECT_FALSE(field->isEditing()); // the focus alone begins nothing
    QTest::keyClicks(field, QStringLiteral("Hoe"));
    EXPECT_TRUE(field->isEditing());
    EXPECT_EQ(started.count(), 1);
    const int oneLine = field->height();
    QTest::keyClick(field, Qt::Key_Return);
    QTest::keyClick(field, Qt::Key_Return, Qt::ShiftModifier);
    QTest::keyClicks(field, QStringLiteral("Spade"));
    settle();
    EXPECT_EQ(field->toPlainText(), QStringLiteral("Hoe\n\nSpade"));
    EXPECT_GT(field->height(), oneLine); // grows while typing
    EXPECT_EQ(finished.count(), 0);
    EXPECT_EQ(started.count(), 1);

    // A moment without typing is told once, and the edit goes on.
    ASSERT_TRUE(QTest::qWaitFor([&] { return paused.count() == 1; }, 10000));
    EXPECT_TRUE(field->isEditing());
    EXPECT_EQ(finished.count(), 0);

    // The text set by a binder while the field has the focus begins no edit.
    field->endEditing();
    EXPECT_EQ(finished.count(), 1);
    field->setPlainText(QStringLiteral("Hoe\nSpade\nFork"));
    EXPECT_FALSE(field->isEditing());
    other->setFocus();
    EXPECT_EQ(finished.count(), 1);

    field->setFocus();
    QTest::keyClicks(field, QStringLiteral("!"));
    EXPECT_EQ(started.count(), 2);
    other->setFocus();
    EXPECT_EQ(finished.count(), 2);
    EXPECT_FALSE(field->isEditing());
}

} // namespace
