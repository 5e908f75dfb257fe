// A save while the user is typing: the edit is committed first and saved with the rest, and
// afterwards the same field, or the same table cell in editing mode, has the focus and the selection.
// A quit by signal saves the field being typed in too.
#include "app_shell_fixture.h"

#include "app/event_loop_hook.h"
#include "app/unix_signal_quitter.h"
#include "inspectors/project_inspector_view_controller.h"
#include "model/fetch_helpers.h"
#include "model/project.h"
#include "signal_quit_child.h"
#include "ui/autosizing_text_field.h"

#include "support/temp_folder.h"

#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class EditPreserverTest : public AppShellTest {
protected:
    EditPreserverTest()
    {
        preserver.install(persistence);
        project = persistence.managedObjectContext().insert<model::Project>();
        project->setName("Garden");
        persistence.save();

        layout = new QVBoxLayout(&window);
        field = new QLineEdit(&window);
        button = new QPushButton(QStringLiteral("Add"), &window);
        layout->addWidget(field);
        layout->addWidget(button);
    }

    void showWindow()
    {
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    // Some other change of the turn, which makes the save happen.
    void changeSomethingElse() { persistence.managedObjectContext().insert<model::Project>()->setName("Shed"); }

    app::EditPreserver preserver;
    model::Project* project = nullptr;
    QWidget window;
    QVBoxLayout* layout = nullptr;
    QLineEdit* field = nullptr;
    QPushButton* button = nullptr;
};

TEST_F(EditPreserverTest, FieldEditIsSavedAndTheFieldKeepsFocusAndSelection)
{
    // The controller writes the name when the field's edit ends, and shows the stored name again,
    // which (like any setText) drops the selection and may move the focus on.
    QObject::connect(field, &QLineEdit::editingFinished, field, [&] {
        project->setName(field->text().toStdString());
        field->setText(QString::fromStdString(project->name().value_or("")));
        button->setFocus();
    });
    showWindow();
    field->setFocus();
    field->setText(QStringLiteral("Garden shed"));
    field->setSelection(11, -4); // "shed", selected backwards: the cursor sits at its start

    changeSomethingElse();
    ASSERT_TRUE(persistence.save());

    EXPECT_EQ(project->name(), "Garden shed");
    EXPECT_FALSE(persistence.managedObjectContext().hasUnsavedChanges()); // the edit went into this save
    EXPECT_EQ(QApplication::focusWidget(), field);
    EXPECT_EQ(field->selectionStart(), 7);
    EXPECT_EQ(field->selectedText(), "shed");
    EXPECT_EQ(field->cursorPosition(), 7);
}

TEST_F(EditPreserverTest, NotesEditInAnAutosizingFieldEndsBeforeTheSaveAndComesBackWithItsCursor)
{
    auto* notes = new ui::AutosizingTextField(&window);
    layout->addWidget(notes);
    // The binder writes on the end of the edit and shows the stored text again, which puts the
    // cursor at the start; the focus moves on.
    int endedEdits = 0;
    QObject::connect(notes, &ui::AutosizingTextField::editingFinished, notes, [&] {
        ++endedEdits;
        project->setName(notes->toPlainText().toStdString());
        notes->setPlainText(QString::fromStdString(project->name().value_or("")));
        button->setFocus();
    });
    showWindow();
    notes->setFocus();
    QTest::keyClicks(notes, QStringLiteral("Pots"));
    QTest::keyClick(notes, Qt::Key_Return, Qt::ShiftModifier);
    QTest::keyClicks(notes, QStringLiteral("Seeds"));
    ASSERT_TRUE(notes->isEditing());
    QTextCursor selection = notes->textCursor();
    selection.setPosition(7);
    selection.setPosition(5, QTextCursor::KeepAnchor); // "Se", selected backwards
    notes->setTextCursor(selection);

    changeSomethingElse();
    ASSERT_TRUE(persistence.save());

    EXPECT_EQ(endedEdits, 1);
    EXPECT_EQ(project->name(), "Pots\nSeeds");
    EXPECT_FALSE(persistence.managedObjectContext().hasUnsavedChanges()); // the edit went into this save
    EXPECT_FALSE(notes->isEditing());
    EXPECT_EQ(QApplication::focusWidget(), notes);
    EXPECT_EQ(notes->textCursor().anchor(), 7);
    EXPECT_EQ(notes->textCursor().position(), 5);

    // Focused but not edited: nothing ends, the cursor stays where it is.
    notes->moveCursor(QTextCursor::End);
    changeSomethingElse();
    ASSERT_TRUE(persistence.save());
    EXPECT_EQ(endedEdits, 1);
    EXPECT_EQ(QApplication::focusWidget(), notes);
    EXPECT_EQ(notes->textCursor().position(), 10);
}

TEST_F(EditPreserverTest, TableCellEditIsSavedAndTheCellIsEditedAgainWithTheSelection)
{
    QStandardItemModel rows(3, 1);
    for (int row = 0; row < 3; ++row)
        rows.setItem(row, 0, new QStandardItem(QStringLiteral("Row %1").arg(row)));
    QObject::connect(&rows, &QStandardItemModel::dataChanged, &rows, [&](const QModelIndex& topLeft) {
        if (topLeft.row() == 1)
            project->setName(topLeft.data().toString().toStdString());
    });
    QTableView table;
    table.setModel(&rows);
    layout->addWidget(&table);
    showWindow();

    const QModelIndex cell = rows.index(1, 0);
    table.setCurrentIndex(cell);
    table.edit(cell);
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    ASSERT_NE(editor, nullptr);
    editor->setText(QStringLiteral("Kitchen table"));
    editor->setSelection(0, 7);

    changeSomethingElse();
    ASSERT_TRUE(persistence.save());

    EXPECT_EQ(rows.item(1, 0)->text(), "Kitchen table");
    EXPECT_EQ(project->name(), "Kitchen table");
    EXPECT_FALSE(persistence.managedObjectContext().hasUnsavedChanges());
    auto* focused = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    ASSERT_NE(focused, nullptr);
    EXPECT_EQ(table.indexAt(focused->geometry().center()), cell);
    EXPECT_EQ(focused->selectedText(), "Kitchen");
}

TEST_F(EditPreserverTest, ACellEditorClosedByTheCommitIsOpenedAgainOnTheSameCell)
{
    QStandardItemModel rows(3, 1);
    QTableView table;
    table.setModel(&rows);
    layout->addWidget(&table);
    // Writing the cell refreshes the whole row set, which closes every open editor.
    QObject::connect(&rows, &QStandardItemModel::dataChanged, &table, [&](const QModelIndex& topLeft) {
        project->setName(topLeft.data().toString().toStdString());
        table.setModel(nullptr);
        table.setModel(&rows);
    });
    showWindow();

    const QModelIndex cell = rows.index(2, 0);
    table.edit(cell);
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    ASSERT_NE(editor, nullptr);
    editor->setText(QStringLiteral("Porch"));
    editor->setSelection(1, 3);

    changeSomethingElse();
    ASSERT_TRUE(persistence.save());

    EXPECT_EQ(project->name(), "Porch");
    auto* reopened = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    ASSERT_NE(reopened, nullptr);
    EXPECT_EQ(table.indexAt(reopened->geometry().center()), cell);
    EXPECT_EQ(reopened->text(), "Porch");
    EXPECT_EQ(reopened->selectedText(), "orc");
}

TEST_F(EditPreserverTest, WithoutATextEditTheSaveLeavesTheFocusAlone)
{
    showWindow();
    button->setFocus();
    preserver.commitEditInProgress();
    field->setFocus(); // the focus moves on during the save
    preserver.restoreEditing();
    EXPECT_EQ(QApplication::focusWidget(), field);

    // A save with nothing to save does not touch an edit in progress.
    // The counter lives as long as the connection: the field may finish its edit when the window
    // closes, after this function has returned.
    auto endedEdits = std::make_shared<int>(0);
    QObject::connect(field, &QLineEdit::editingFinished, field, [endedEdits] { ++*endedEdits; });
    field->setText(QStringLiteral("typing"));
    ASSERT_TRUE(persistence.save());
    EXPECT_EQ(*endedEdits, 0);
}

// Logging out sends SIGTERM while a note is half typed in the project pane: nothing has been
// written to the store yet, and the quit saves it.
TEST_F(EditPreserverTest, ASignalQuitSavesTheNoteBeingTyped)
{
    auto* pane = new inspectors::ProjectInspectorViewController(&persistence.managedObjectContext(), &window);
    layout->addWidget(pane);
    pane->setInspectedObject(project);
    showWindow();
    pane->notesField()->setFocus();
    QTest::keyClicks(pane->notesField(), QStringLiteral("half a no"));
    ASSERT_TRUE(pane->notesField()->isEditing());
    ASSERT_FALSE(persistence.managedObjectContext().hasUnsavedChanges());

    const int status = apptest::quitBySignalInChild([this] { return makeDelegate(); });
    ASSERT_NE(status, -1);
    ASSERT_TRUE(WIFEXITED(status)) << "the child ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);

    // Read back from a copy: this process still has the store open.
    testsupport::TempFolder copyFolder("horavine-readback");
    const auto copy = copyFolder.path() / "copy.horavine";
    std::filesystem::copy_file(persistence.storePath(), copy);
    foundation::NotificationCenter otherCenter;
    model::PersistenceController reader(copy, otherCenter);
    const auto projects = model::fetchAll<model::Project>(reader.managedObjectContext());
    ASSERT_EQ(projects.size(), 1u);
    EXPECT_EQ(projects[0]->notes(), "half a no");
}

} // namespace
