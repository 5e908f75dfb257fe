// The client editor popover: the fields follow the client and write it as they finish editing, the
// rate is an exact decimal in range, the buttons only for a new client, the completion calls of Done,
// Cancel and a click outside in their order, and the question before billed timers are relabelled.
#include "inspectors/client_editor_view_controller.h"

#include "inspectors/key_tables.h"

#include "model/fetch_helpers.h"

#include "ui/modal_test_hook.h"
#include "ui/object_controller.h"
#include "ui/popover.h"

#include "inspector_fixture.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using inspectors::ClientEditorViewController;

namespace {

class ClientEditorTest : public testsupport::InspectorFixture {
protected:
    // An editor of `client` in its popover beside a host window, recording its completion calls.
    std::unique_ptr<ClientEditorViewController> openEditor(model::Client* client, bool isNew)
    {
        endTurn();
        auto editor = ClientEditorViewController::clientEditorViewController(client, isNew);
        editor->completionHandler = [this](bool cancelled) { completions_.push_back(cancelled); };
        host_.resize(300, 200);
        host_.show();
        editor->presentAsPopover(QRect(10, 10, 100, 20), host_, ui::PopoverEdge::right);
        return editor;
    }
    static void settle()
    {
        for (int i = 0; i < 3; ++i)
            QApplication::processEvents();
    }

    QWidget host_;
    std::vector<bool> completions_;
};

TEST_F(ClientEditorTest, DoneCompletesFalseTwiceAndKeepsTheNewClientWithItsTypedValues)
{
    model::Client* acme = client("New Client");
    auto editor = openEditor(acme, true);
    ASSERT_NE(editor->popover(), nullptr);
    EXPECT_TRUE(editor->buttonContainer()->isVisibleTo(editor.get()));
    EXPECT_EQ(editor->nameField()->text(), "New Client");

    editor->nameField()->setText("ACME");
    editor->hourlyRateField()->setText("1,250.5");
    editor->currencyComboBox()->setCurrentText("£");
    editor->done();
    EXPECT_EQ(completions_, std::vector<bool>{false});
    settle();
    EXPECT_EQ(completions_, (std::vector<bool>{false, false}));
    EXPECT_EQ(editor->popover(), nullptr);
    EXPECT_EQ(acme->name(), "ACME");
    EXPECT_EQ(acme->hourlyRate(), foundation::Decimal::parse("1250.50"));
    EXPECT_EQ(acme->currency(), "£");
    EXPECT_FALSE(acme->isDeleted());
}

TEST_F(ClientEditorTest, CancelDeletesTheNewClientWithoutWritingItsEditsAndCompletesTrueThenFalse)
{
    model::Client* acme = client("New Client");
    auto editor = openEditor(acme, true);
    editor->nameField()->setText("never stored");
    editor->hourlyRateField()->setText("not a number");
    ui::ModalTestHook hook;

    editor->cancelButton()->click();
    settle();
    endTurn();
    EXPECT_EQ(completions_, (std::vector<bool>{true, false}));
    EXPECT_TRUE(acme->isDeleted());
    EXPECT_TRUE(model::fetchAll<model::Client>(*context_).empty());
    // Nothing was written into the deleted client, so nothing was refused either.
    EXPECT_EQ(acme->name(), "New Client");
    EXPECT_TRUE(hook.alerts.empty());
}

TEST_F(ClientEditorTest, AnExistingClientHasNoButtonsAndAClickOutsideWritesAndCompletesOnce)
{
    model::Client* acme = client("ACME");
    auto editor = openEditor(acme, false);
    EXPECT_FALSE(editor->buttonContainer()->isVisibleTo(editor.get()));
    editor->nameField()->setText("");
    editor->currencyComboBox()->setCurrentText("");

    editor->popover()->close();
    settle();
    EXPECT_EQ(completions_, std::vector<bool>{false});
    EXPECT_EQ(acme->name(), std::nullopt);
    EXPECT_EQ(acme->currency(), std::nullopt);
    EXPECT_FALSE(acme->isDeleted());

    // Cancel of an existing client deletes nothing.
    auto again = openEditor(acme, false);
    again->cancel();
    EXPECT_FALSE(acme->isDeleted());
}

// Escape in a new client's popover is its Cancel; in an existing client's it puts back the values
// the client had when the editor opened, those already written included, and writes nothing typed.
TEST_F(ClientEditorTest, EscapeCancelsANewClientAndRevertsAnExistingOne)
{
    model::Client* fresh = client("New Client");
    auto editor = openEditor(fresh, true);
    editor->nameField()->setText("typed");
    QTest::keyClick(editor->nameField(), Qt::Key_Escape);
    settle();
    endTurn();
    EXPECT_TRUE(fresh->isDeleted());
    EXPECT_EQ(completions_, (std::vector<bool>{true, false}));

    completions_.clear();
    model::Client* acme = client("ACME");
    acme->setCurrency("$");
    auto edit = openEditor(acme, false);
    edit->nameField()->setText("ACME Corp");
    Q_EMIT edit->nameField()->editingFinished();
    EXPECT_EQ(acme->name(), "ACME Corp");
    edit->currencyComboBox()->setCurrentText("£");
    QTest::keyClick(edit->currencyComboBox()->lineEdit(), Qt::Key_Escape);
    settle();
    EXPECT_EQ(edit->popover(), nullptr);
    EXPECT_EQ(acme->name(), "ACME");
    EXPECT_EQ(acme->currency(), "$");
    EXPECT_FALSE(acme->isDeleted());
    EXPECT_EQ(completions_, (std::vector<bool>{true, false}));
}

TEST_F(ClientEditorTest, ARateOutOfRangeOrNoNumberIsRefusedAndTheStoredRateStays)
{
    model::Client* acme = client("ACME");
    acme->setHourlyRate(foundation::Decimal(80));
    auto editor = openEditor(acme, false);
    std::vector<QString> refusals;
    editor->objectController()->setRefusalHandler(
        [&refusals](QWidget&, const QString& message) { refusals.push_back(message); });

    for (const char* text : {"abc", "-1", "1000000.01", ""}) {
        editor->hourlyRateField()->setText(text);
        EXPECT_FALSE(editor->objectController()->commitEditing()) << text;
        EXPECT_EQ(acme->hourlyRate(), foundation::Decimal(80)) << text;
    }
    EXPECT_EQ(refusals.size(), 4u);
    editor->hourlyRateField()->setText("99.999");
    EXPECT_TRUE(editor->objectController()->commitEditing());
    EXPECT_EQ(acme->hourlyRate(), foundation::Decimal::parse("100.00"));
}

TEST_F(ClientEditorTest, TheCurrencyBoxListsTheCommonSymbolsFirstAndShowsTheClients)
{
    model::Client* acme = client("ACME");
    acme->setCurrency(std::string("CHF"));
    auto editor = openEditor(acme, false);
    QComboBox& box = *editor->currencyComboBox();
    ASSERT_GT(box.count(), 4);
    EXPECT_EQ(box.itemText(0), "€");
    EXPECT_EQ(box.itemText(1), "$");
    EXPECT_EQ(box.itemText(2), "£");
    EXPECT_EQ(box.itemText(3), "¥");
    EXPECT_TRUE(box.isEditable());
    EXPECT_EQ(box.currentText(), "CHF");
    // A change made elsewhere shows in the open editor.
    acme->setName(std::string("Renamed"));
    endTurn();
    EXPECT_EQ(editor->nameField()->text(), "Renamed");
}

// A client's currency is shown by its projects that have none of their own, billed timers included:
// before those are relabelled the user is asked, with their number named, and Cancel keeps the
// currency, in the store and in the box.
TEST_F(ClientEditorTest, ACurrencyThatRelabelsBilledTimersOfTheClientsProjectsIsAskedFirst)
{
    model::Client* acme = client("ACME");
    acme->setCurrency(std::string("$"));
    model::Project* website = project("Website", false, acme);
    model::Project* intranet = project("Intranet", false, acme);
    model::Project* ownCurrency = project("Abroad", false, acme);
    ownCurrency->setCustomCurrency(std::string("€"));
    model::Client* globex = client("Globex");
    globex->setCurrency(std::string("$"));
    model::Project* elsewhere = project("Portal", false, globex);
    elsewhere->setCustomCurrency(std::string("$"));
    for (model::Project* billedOn : {website, website, intranet, ownCurrency, elsewhere})
        periodTimer(billedOn, testsupport::march(4, 8), 60)->setBilled(true);
    periodTimer(website, testsupport::march(5, 8), 60);
    ui::ModalTestHook hook;
    std::vector<ui::ModalResponse> answers{ui::alertSecondButtonReturn, ui::alertFirstButtonReturn};
    hook.answerAlert = [&answers](const ui::PresentedAlert&) {
        const ui::ModalResponse answer = answers.front();
        answers.erase(answers.begin());
        return answer;
    };
    auto editor = openEditor(acme, false);
    const auto typeCurrency = [&editor](const QString& text) {
        editor->currencyComboBox()->setCurrentText(text);
        Q_EMIT editor->currencyComboBox()->lineEdit()->editingFinished();
        settle();
    };

    typeCurrency("CHF");
    ASSERT_EQ(hook.alerts.size(), 1u);
    EXPECT_EQ(hook.alerts[0].alert.messageText, "Change the currency of “ACME” to CHF?");
    EXPECT_TRUE(hook.alerts[0].alert.informativeText.startsWith(
        "3 billed timers of this client's projects will be shown in CHF"));
    EXPECT_EQ(hook.alerts[0].alert.buttons, (QStringList{"Change", "Cancel"}));
    EXPECT_EQ(hook.alerts[0].window.data(), &host_);
    EXPECT_EQ(acme->currency(), "$");
    EXPECT_EQ(website->currency(), "$");
    EXPECT_EQ(editor->currencyComboBox()->currentText(), "$");
    ASSERT_NE(editor->popover(), nullptr);

    typeCurrency("CHF");
    ASSERT_EQ(hook.alerts.size(), 2u);
    EXPECT_EQ(acme->currency(), "CHF");
    EXPECT_EQ(intranet->currency(), "CHF");
    endTurn();
    EXPECT_EQ(editor->currencyComboBox()->currentText(), "CHF");
    editor->popover()->close();
    settle();

    // Billed timers only on projects with a currency of their own: nothing is asked.
    auto other = openEditor(globex, false);
    other->currencyComboBox()->setCurrentText("£");
    Q_EMIT other->currencyComboBox()->lineEdit()->editingFinished();
    settle();
    EXPECT_EQ(globex->currency(), "£");
    EXPECT_EQ(hook.alerts.size(), 2u);
}

TEST_F(ClientEditorTest, WithoutAClientTheButtonsOnlyCloseAndComplete)
{
    auto editor = openEditor(nullptr, true);
    EXPECT_EQ(editor->objectController()->content(), nullptr);
    editor->nameField()->setText("nowhere");
    editor->cancel();
    settle();
    EXPECT_EQ(completions_, (std::vector<bool>{true, false}));
    EXPECT_TRUE(model::fetchAll<model::Client>(*context_).empty());
}

TEST_F(ClientEditorTest, AClientRemovedByUndoEmptiesAndClosesTheEditor)
{
    context_->undoManager().removeAllActions();
    model::Client* acme = client("ACME");
    auto editor = openEditor(acme, true);
    context_->undoManager().undo();
    endTurn();
    ASSERT_TRUE(acme->isDeleted());
    const std::optional<std::string> nameAfterUndo = acme->name();
    EXPECT_EQ(editor->objectController()->content(), nullptr);
    EXPECT_EQ(editor->popover(), nullptr);
    editor->nameField()->setText("late");
    editor->done();
    settle();
    EXPECT_EQ(acme->name(), nameAfterUndo);
}

} // namespace
