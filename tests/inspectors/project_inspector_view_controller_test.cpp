// The project pane on real projects: whose rate and currency show and which can be edited (the kind in
// force chosen again changes nothing), the archive warning following the store, the clients pop-up
// following the store, notes, and the attachments narrowed to the shown project.
#include "inspector_fixture.h"

#include "inspectors/attachments_array_controller.h"
#include "inspectors/project_inspector_view_controller.h"

#include "model/attachment.h"
#include "model/preferences.h"
#include "ui/autosizing_text_field.h"
#include "ui/modal_test_hook.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>

#include <fstream>

using inspectors::ProjectInspectorViewController;

namespace {

class ProjectInspectorTest : public testsupport::InspectorFixture {
protected:
    ProjectInspectorTest()
    {
        model::Preferences::setStandardForTesting(defaults_.get());
        model::Preferences::standard().setDefaultProjectHourlyRate(foundation::Decimal(50));
        model::Preferences::standard().setDefaultProjectHourlyRateCurrency("€");
        acme_->setHourlyRate(foundation::Decimal(80));
        acme_->setCurrency("$");
        pane_.show();
    }
    ~ProjectInspectorTest() override { model::Preferences::setStandardForTesting(nullptr); }

    void inspect(model::Project* project)
    {
        endTurn();
        pane_.setInspectedObject(project);
    }
    void typeRate(const QString& text)
    {
        pane_.hourlyRateTextField()->setText(text);
        Q_EMIT pane_.hourlyRateTextField()->editingFinished();
    }
    QStringList clientItems() const
    {
        QStringList items;
        for (int i = 0; i < pane_.clientsPopUpButton()->count(); ++i)
            items << pane_.clientsPopUpButton()->itemText(i);
        return items;
    }
    std::filesystem::path file(const std::string& name)
    {
        const auto path = std::filesystem::path(folder_.path().toStdString()) / name;
        std::ofstream(path) << name;
        return path;
    }

    model::Client* acme_ = client("Acme");
    model::Project* website_ = project("Website", false, acme_);
    ProjectInspectorViewController pane_{context_.get()};
};

TEST_F(ProjectInspectorTest, TheClientsRateShowsUntilTheProjectGetsItsOwnAndTheSameChoiceKeepsIt)
{
    inspect(website_);
    EXPECT_EQ(pane_.hourlyRatePopUpButton()->currentIndex(), 0);
    EXPECT_FALSE(pane_.hourlyRateTextField()->isEnabled());
    EXPECT_EQ(pane_.hourlyRateTextField()->text(), "80.00");
    EXPECT_FALSE(pane_.currencyComboBox()->isEnabled());
    EXPECT_EQ(pane_.currencyComboBox()->currentText(), "$");

    pane_.hourlyRateTypeChanged(1);
    EXPECT_EQ(website_->customHourlyRate(), foundation::Decimal(50));
    EXPECT_EQ(website_->customCurrency(), "€");
    EXPECT_TRUE(pane_.hourlyRateTextField()->isEnabled());
    EXPECT_TRUE(pane_.currencyComboBox()->isEnabled());
    EXPECT_EQ(pane_.hourlyRateTextField()->text(), "50.00");
    EXPECT_EQ(pane_.currencyComboBox()->currentText(), "€");
    EXPECT_EQ(eventNames(), std::vector<std::string>{"Changed Hourly Rate Type"});
    EXPECT_EQ(lastAttributes(), (foundation::PropertyListDictionary{{"hourly rate type", std::string("custom")}}));

    typeRate("120");
    EXPECT_EQ(website_->customHourlyRate(), foundation::Decimal(120));
    pane_.hourlyRateTypeChanged(1); // the kind in force again
    EXPECT_EQ(website_->customHourlyRate(), foundation::Decimal(120));
    EXPECT_EQ(website_->customCurrency(), "€");
    EXPECT_EQ(pane_.hourlyRateTextField()->text(), "120.00");
    EXPECT_EQ(eventNames().size(), 1u);

    pane_.hourlyRateTypeChanged(0);
    EXPECT_FALSE(website_->customHourlyRate());
    EXPECT_FALSE(website_->customCurrency());
    EXPECT_EQ(pane_.hourlyRateTextField()->text(), "80.00");
    EXPECT_EQ(pane_.currencyComboBox()->currentText(), "$");
    EXPECT_FALSE(pane_.hourlyRateTextField()->isEnabled());
    EXPECT_FALSE(pane_.currencyComboBox()->isEnabled());
    EXPECT_EQ(lastAttributes(), (foundation::PropertyListDictionary{{"hourly rate type", std::string("client")}}));
    pane_.hourlyRateTypeChanged(0);
    pane_.hourlyRateTypeChanged(-1); // no choice at all
    EXPECT_EQ(eventNames().size(), 2u);
}

TEST_F(ProjectInspectorTest, OwnRateAndCurrencyAreEditedThroughTheirFieldsWithinBounds)
{
    website_->setCustomHourlyRate(foundation::Decimal(60));
    inspect(website_);
    EXPECT_EQ(pane_.hourlyRatePopUpButton()->currentIndex(), 1);
    EXPECT_EQ(pane_.currencyComboBox()->currentText(), ""); // an own rate without an own currency
    std::vector<QString> refusals;
    pane_.objectController().setRefusalHandler(
        [&refusals](QWidget&, const QString& message) { refusals.push_back(message); });

    typeRate("-5");
    EXPECT_EQ(website_->customHourlyRate(), foundation::Decimal(60));
    EXPECT_EQ(pane_.hourlyRateTextField()->text(), "60.00");
    EXPECT_EQ(refusals.size(), 1u);
    typeRate("72.346");
    EXPECT_EQ(website_->customHourlyRate(), foundation::Decimal::parse("72.35"));

    pane_.currencyComboBox()->setCurrentText("CHF");
    Q_EMIT pane_.currencyComboBox()->lineEdit()->editingFinished();
    EXPECT_EQ(website_->customCurrency(), "CHF");
    EXPECT_EQ(website_->currency(), "CHF");
    pane_.currencyComboBox()->setCurrentText("");
    Q_EMIT pane_.currencyComboBox()->lineEdit()->editingFinished();
    EXPECT_FALSE(website_->customCurrency()); // falls back to the client's again
    EXPECT_EQ(website_->currency(), "$");

    const QStringList firstSymbols{pane_.currencyComboBox()->itemText(0), pane_.currencyComboBox()->itemText(1),
                                   pane_.currencyComboBox()->itemText(2), pane_.currencyComboBox()->itemText(3)};
    EXPECT_EQ(firstSymbols, (QStringList{"€", "$", "£", "¥"}));
}

// Billed timers keep their amounts; a new currency would only relabel them. Before that happens the
// user is asked, with the number of billed timers named, and Cancel leaves the currency as it was.
TEST_F(ProjectInspectorTest, ACurrencyChangeThatRelabelsBilledTimersIsAskedFirst)
{
    website_->setCustomHourlyRate(foundation::Decimal(80));
    website_->setCustomCurrency("$");
    for (int hour : {8, 9}) {
        model::Timer* timer = periodTimer(website_, testsupport::march(4, hour), 150);
        timer->setBilled(true);
    }
    periodTimer(website_, testsupport::march(5, 8), 60);
    model::Project* intranet = project("Intranet", false, acme_);
    intranet->setCustomHourlyRate(foundation::Decimal(80));
    inspect(website_);
    ui::ModalTestHook hook;
    std::vector<ui::ModalResponse> answers{ui::alertSecondButtonReturn, ui::alertFirstButtonReturn};
    hook.answerAlert = [&](const ui::PresentedAlert&) {
        const ui::ModalResponse answer = answers.front();
        answers.erase(answers.begin());
        return answer;
    };
    const auto typeCurrency = [this](const QString& text) {
        pane_.currencyComboBox()->setCurrentText(text);
        Q_EMIT pane_.currencyComboBox()->lineEdit()->editingFinished();
        QApplication::processEvents();
    };

    typeCurrency("CHF");
    ASSERT_EQ(hook.alerts.size(), 1u);
    EXPECT_EQ(hook.alerts[0].alert.buttons, (QStringList{"Change", "Cancel"}));
    EXPECT_TRUE(
        hook.alerts[0].alert.informativeText.startsWith("2 billed timers of this project will be shown in CHF"));
    EXPECT_EQ(website_->customCurrency(), "$");
    EXPECT_EQ(pane_.currencyComboBox()->currentText(), "$");

    typeCurrency("CHF");
    ASSERT_EQ(hook.alerts.size(), 2u);
    EXPECT_EQ(website_->customCurrency(), "CHF");
    endTurn();
    EXPECT_EQ(pane_.currencyComboBox()->currentText(), "CHF");

    // Back to the client's rate and currency ($): asked too; the same currency again asks nothing.
    answers = {ui::alertSecondButtonReturn};
    pane_.hourlyRateTypeChanged(0);
    ASSERT_EQ(hook.alerts.size(), 3u);
    EXPECT_EQ(website_->customCurrency(), "CHF");
    EXPECT_EQ(pane_.hourlyRatePopUpButton()->currentIndex(), 1);
    typeCurrency("CHF");
    EXPECT_EQ(hook.alerts.size(), 3u);

    // A project without billed timers changes at once.
    inspect(intranet);
    typeCurrency("£");
    EXPECT_EQ(intranet->customCurrency(), "£");
    EXPECT_EQ(hook.alerts.size(), 3u);
}

TEST_F(ProjectInspectorTest, TheArchiveWarningFollowsTheStoreAndLeavesAnOwnRateEditable)
{
    model::Project* archived = project("Old", true, acme_);
    archived->setCustomHourlyRate(foundation::Decimal(90));
    archived->setCustomCurrency("£");
    inspect(archived);
    EXPECT_FALSE(pane_.archiveWarningView()->isHidden());
    EXPECT_TRUE(pane_.hourlyRateTextField()->isEnabled());
    EXPECT_FALSE(pane_.currencyComboBox()->isEnabled());

    website_->setCustomHourlyRate(foundation::Decimal(70));
    inspect(website_);
    EXPECT_TRUE(pane_.archiveWarningView()->isHidden());
    EXPECT_TRUE(pane_.currencyComboBox()->isEnabled());

    // Archived from the outline: the warning shows with the store's notice, without a new selection.
    website_->toggleArchived();
    EXPECT_TRUE(pane_.archiveWarningView()->isHidden());
    endTurn();
    EXPECT_FALSE(pane_.archiveWarningView()->isHidden());
    EXPECT_TRUE(pane_.hourlyRateTextField()->isEnabled());
    EXPECT_FALSE(pane_.currencyComboBox()->isEnabled());
    website_->toggleArchived();
    endTurn();
    EXPECT_TRUE(pane_.archiveWarningView()->isHidden());
}

TEST_F(ProjectInspectorTest, TheClientsPopUpOffersEveryClientInOrderAndFollowsTheStore)
{
    model::Client* globex = client("Globex");
    globex->setHourlyRate(foundation::Decimal(100));
    inspect(website_);
    EXPECT_EQ(clientItems(), (QStringList{"", "Acme", "Globex"}));
    EXPECT_EQ(pane_.clientsPopUpButton()->currentText(), "Acme");

    globex->setName("Globex Corp");
    acme_->setSortOrder(globex->sortOrder() + 1);
    model::Client* initech = client("Initech");
    endTurn();
    EXPECT_EQ(clientItems(), (QStringList{"", "Globex Corp", "Acme", "Initech"}));
    EXPECT_EQ(pane_.clientsPopUpButton()->currentText(), "Acme");

    pane_.clientsPopUpButton()->setCurrentIndex(1);
    Q_EMIT pane_.clientsPopUpButton()->activated(1);
    EXPECT_EQ(website_->client(), globex);
    endTurn();
    EXPECT_EQ(pane_.hourlyRateTextField()->text(), "100.00"); // the new client's rate

    pane_.clientsPopUpButton()->setCurrentIndex(0);
    Q_EMIT pane_.clientsPopUpButton()->activated(0);
    EXPECT_EQ(website_->client(), nullptr);
    endTurn();
    EXPECT_EQ(pane_.hourlyRateTextField()->text(), "0.00");

    // The client shown goes away: the project has none, and the pop-up follows.
    website_->setClient(initech);
    endTurn();
    EXPECT_EQ(pane_.clientsPopUpButton()->currentText(), "Initech");
    context_->deleteObject(initech);
    endTurn();
    EXPECT_EQ(clientItems(), (QStringList{"", "Globex Corp", "Acme"}));
    EXPECT_EQ(pane_.clientsPopUpButton()->currentIndex(), 0);
}

TEST_F(ProjectInspectorTest, NotesAreWrittenWhenTheirEditEnds)
{
    inspect(website_);
    pane_.notesField()->setPlainText("Kick-off on Monday");
    pane_.notesField()->endEditing();
    pane_.objectController().commitEditing();
    EXPECT_EQ(website_->notes(), "Kick-off on Monday");
}

TEST_F(ProjectInspectorTest, TheAttachmentsListShowsOnlyTheShownProjectsFiles)
{
    model::Project* intranet = project("Intranet", false, acme_);
    website_->addAttachment(file("brief.txt"));
    website_->addAttachment(file("Budget.pdf"));
    intranet->addAttachment(file("logo.png"));
    inspect(website_);
    const auto names = [this] {
        std::vector<std::string> shown;
        for (const model::Attachment* attachment : pane_.attachmentsArrayController().arrangedObjects())
            shown.push_back(attachment->fileName().value_or(""));
        return shown;
    };
    EXPECT_EQ(names(), (std::vector<std::string>{"brief.txt", "Budget.pdf"}));

    inspect(intranet);
    EXPECT_EQ(names(), std::vector<std::string>{"logo.png"});
    website_->addAttachment(file("contract.odt"));
    endTurn();
    EXPECT_EQ(names(), std::vector<std::string>{"logo.png"});
    intranet->addAttachment(file("about.html"));
    endTurn();
    EXPECT_EQ(names(), (std::vector<std::string>{"about.html", "logo.png"}));

    inspect(nullptr);
    EXPECT_TRUE(names().empty());
}

} // namespace
