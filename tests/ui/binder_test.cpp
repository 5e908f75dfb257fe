// The binder on a small record type with its own key table: one write per edit, re-reads only on a
// listed change and never over an edit, refusals, a new content, rebinding, and each widget kind.
#include "support/dates.h"
#include "support/scoped_environment.h"

#include "ui/autosizing_text_field.h"
#include "ui/bindings.h"
#include "ui/number_text.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <map>

namespace {

struct Record {
    std::string name;
    std::optional<foundation::Decimal> rate;
    bool flag = false;
    foundation::Date when{};
    Record* partner = nullptr;
    int writes = 0;
};

// "content.name", "content.rate" (refuses negatives), "content.flag", "content.when", "content.partner"
// and the read-only "content.partner.name", which depends on the partner and on the partner's name.
ui::KeyTable recordKeys()
{
    return [](std::string_view path) -> std::optional<ui::KeyAccessor> {
        auto record = [](void* content) { return static_cast<Record*>(content); };
        if (path == "content.name")
            return ui::KeyAccessor{[=](void* c) { return ui::BoundValue(record(c)->name); },
                                   [=](void* c, const ui::BoundValue& v) -> std::optional<std::string> {
                                       record(c)->name = std::get<std::string>(v);
                                       ++record(c)->writes;
                                       return std::nullopt;
                                   },
                                   [](void* c) {
                                       return std::vector<ui::ValueDependency>{{c, "name"}};
                                   }};
        if (path == "content.rate")
            return ui::KeyAccessor{
                [=](void* c) { return record(c)->rate ? ui::BoundValue(*record(c)->rate) : ui::BoundValue(); },
                [=](void* c, const ui::BoundValue& v) -> std::optional<std::string> {
                    const auto* number = std::get_if<foundation::Decimal>(&v);
                    if (number && number->isNegative())
                        return "No negative rates";
                    record(c)->rate = number ? std::optional(*number) : std::nullopt;
                    ++record(c)->writes;
                    return std::nullopt;
                },
                [](void* c) {
                    return std::vector<ui::ValueDependency>{{c, "rate"}};
                }};
        if (path == "content.flag")
            return ui::KeyAccessor{[=](void* c) { return ui::BoundValue(record(c)->flag); },
                                   [=](void* c, const ui::BoundValue& v) -> std::optional<std::string> {
                                       record(c)->flag = std::get<bool>(v);
                                       ++record(c)->writes;
                                       return std::nullopt;
                                   },
                                   [](void* c) {
                                       return std::vector<ui::ValueDependency>{{c, "flag"}};
                                   }};
        if (path == "content.when")
            return ui::KeyAccessor{[=](void* c) { return ui::BoundValue(record(c)->when); },
                                   [=](void* c, const ui::BoundValue& v) -> std::optional<std::string> {
                                       record(c)->when = std::get<foundation::Date>(v);
                                       return std::nullopt;
                                   },
                                   [](void* c) {
                                       return std::vector<ui::ValueDependency>{{c, "when"}};
                                   }};
        if (path == "content.partner")
            return ui::KeyAccessor{[=](void* c) { return ui::BoundValue(ui::ObjectValue{record(c)->partner}); },
                                   [=](void* c, const ui::BoundValue& v) -> std::optional<std::string> {
                                       record(c)->partner = static_cast<Record*>(std::get<ui::ObjectValue>(v).object);
                                       ++record(c)->writes;
                                       return std::nullopt;
                                   },
                                   [](void* c) {
                                       return std::vector<ui::ValueDependency>{{c, "partner"}};
                                   }};
        if (path == "content.partner.name")
            return ui::KeyAccessor{[=](void* c) {
                                       return record(c)->partner ? ui::BoundValue(record(c)->partner->name)
                                                                 : ui::BoundValue();
                                   },
                                   {},
                                   [=](void* c) {
                                       std::vector<ui::ValueDependency> dependencies{{c, "partner"}};
                                       if (record(c)->partner)
                                           dependencies.push_back({record(c)->partner, "name"});
                                       return dependencies;
                                   }};
        return std::nullopt;
    };
}

// A notice that lists exactly the given (object, key) pairs.
auto changedKeys(std::vector<std::pair<const void*, std::string>> keys)
{
    return [keys = std::move(keys)](const void* object, std::string_view key) {
        for (const auto& [o, k] : keys)
            if (o == object && k == key)
                return true;
        return false;
    };
}

class BinderTest : public ::testing::Test {
protected:
    BinderTest()
    {
        controller.setRefusalHandler([this](QWidget&, const QString& message) { refusals.push_back(message); });
    }
    void edit(QLineEdit& field, const QString& text)
    {
        field.setText(text);
        Q_EMIT field.editingFinished();
    }

    ui::ObjectController controller{recordKeys()};
    std::vector<QString> refusals;
    Record first{"First", foundation::Decimal(40)};
    Record second{"Second", std::nullopt};
};

TEST_F(BinderTest, AnEditIsWrittenOnceAndTheStoredValueShown)
{
    QLineEdit field;
    ui::bindText(field, controller, "content.name");
    controller.setContent(&first);
    EXPECT_EQ(field.text(), "First");

    QSignalSpy written(&controller, &ui::ObjectController::valueWritten);
    edit(field, "Renamed");
    Q_EMIT field.editingFinished(); // Return, then leaving the field
    EXPECT_EQ(first.name, "Renamed");
    EXPECT_EQ(first.writes, 1);
    ASSERT_EQ(written.count(), 1);
    EXPECT_EQ(written.at(0).at(0).toString(), "content.name");

    // Finishing without a change writes nothing.
    Q_EMIT field.editingFinished();
    EXPECT_EQ(first.writes, 1);
}

TEST_F(BinderTest, AListedChangeUpdatesAnIdleFieldButNeverOneBeingEdited)
{
    QLineEdit idle, edited;
    QLabel partnerName;
    ui::bindText(idle, controller, "content.name");
    ui::bindDecimal(edited, controller, "content.rate");
    ui::bindLabel(partnerName, controller, "content.partner.name");
    first.partner = &second;
    controller.setContent(&first);
    EXPECT_EQ(partnerName.text(), "Second");

    edited.setText("45"); // typed, not finished
    first.name = "Elsewhere";
    first.rate = foundation::Decimal(50);
    controller.objectsDidChange(changedKeys({{&first, "name"}, {&first, "rate"}}));
    EXPECT_EQ(idle.text(), "Elsewhere");
    EXPECT_EQ(edited.text(), "45");

    // A change of an object the value does not depend on is not read.
    second.name = "Partner";
    controller.objectsDidChange(changedKeys({{&first, "flag"}}));
    EXPECT_EQ(partnerName.text(), "Second");
    // The partner's name is read once the partner is listed.
    controller.objectsDidChange(changedKeys({{&second, "name"}}));
    EXPECT_EQ(partnerName.text(), "Partner");
    // Another partner: the value now depends on the new one, not on the old.
    Record third{"Third", std::nullopt};
    first.partner = &third;
    controller.objectsDidChange(changedKeys({{&first, "partner"}}));
    EXPECT_EQ(partnerName.text(), "Third");
    second.name = "Gone";
    controller.objectsDidChange(changedKeys({{&second, "name"}}));
    EXPECT_EQ(partnerName.text(), "Third");

    Q_EMIT edited.editingFinished();
    EXPECT_EQ(first.rate, foundation::Decimal(45));
}

TEST_F(BinderTest, ARefusedValueShowsTheMessageAndTheStoredValueUnlessTheFieldKeepsIt)
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QLineEdit field;
    ui::DecimalFieldBinding* binding = ui::bindDecimal(field, controller, "content.rate");
    controller.setContent(&first);
    EXPECT_EQ(field.text(), "40.00");

    edit(field, "-3");
    EXPECT_EQ(refusals, std::vector<QString>{"No negative rates"});
    EXPECT_EQ(field.text(), "40.00");
    EXPECT_EQ(first.rate, foundation::Decimal(40));

    edit(field, "lots");
    ASSERT_EQ(refusals.size(), 2u);
    EXPECT_TRUE(refusals[1].contains("lots"));
    EXPECT_EQ(first.writes, 0);

    binding->setKeepsRefusedText(true);
    edit(field, "1e3");
    EXPECT_EQ(field.text(), "1e3");
    EXPECT_EQ(refusals.size(), 3u);
    EXPECT_EQ(first.rate, foundation::Decimal(40));

    // An empty number field stores no value.
    edit(field, "");
    EXPECT_EQ(first.rate, std::nullopt);
    QLocale::setDefault(QLocale::c());
}

TEST_F(BinderTest, ANewContentTakesTheEditInProgressToTheOldOne)
{
    QLineEdit field;
    QPlainTextEdit notes;
    ui::bindText(field, controller, "content.rate"); // text binding of a decimal key: shows nothing
    ui::bindText(field, controller, "content.name"); // rebinding to another key shows its value
    ui::bindText(notes, controller, "content.name");
    controller.setContent(&first);
    EXPECT_EQ(field.text(), "First");

    field.setText("Typed into the first");
    ui::bindText(field, controller, "content.name"); // the same key path again keeps the edit
    EXPECT_EQ(field.text(), "Typed into the first");
    QSignalSpy changed(&controller, &ui::ObjectController::contentChanged);
    controller.setContent(&second);
    EXPECT_EQ(first.name, "Typed into the first");
    EXPECT_EQ(field.text(), "Second");
    EXPECT_EQ(notes.toPlainText(), "Second");
    EXPECT_EQ(changed.count(), 1);

    // The shell's commit before a save reaches text areas, which have no editingFinished.
    notes.setPlainText("Notes of the second");
    EXPECT_TRUE(ui::ObjectController::commitEditingEverywhere());
    EXPECT_EQ(second.name, "Notes of the second");
    EXPECT_EQ(second.writes, 1);

    // Without content, fields are empty and writes go nowhere.
    controller.setContent(nullptr);
    EXPECT_EQ(field.text(), "");
    field.setText("Orphan");
    EXPECT_TRUE(controller.commitEditing());
    EXPECT_EQ(field.text(), "");
}

TEST_F(BinderTest, AFocusedTextAreaCanBeDestroyed)
{
    QWidget window;
    auto* notes = new QPlainTextEdit(&window);
    ui::bindText(*notes, controller, "content.name");
    controller.setContent(&first);
    window.show();
    QApplication::setActiveWindow(&window);
    notes->setFocus();
    notes->setPlainText("typed");
    ASSERT_EQ(QApplication::focusWidget(), notes);
    delete notes; // loses the focus on its way out, when it is no text edit any more
    EXPECT_TRUE(controller.bindings().empty());
    EXPECT_TRUE(controller.commitEditing());
}

TEST_F(BinderTest, CheckBoxesWriteAtOnceAndBindingsLeaveEnabledStatesAlone)
{
    QCheckBox box;
    box.setEnabled(false);
    ui::bindChecked(box, controller, "content.flag");
    first.flag = true;
    controller.setContent(&first);
    EXPECT_TRUE(box.isChecked());
    EXPECT_FALSE(box.isEnabled());

    QSignalSpy written(&controller, &ui::ObjectController::valueWritten);
    box.setChecked(false);
    EXPECT_FALSE(first.flag);
    EXPECT_EQ(first.writes, 1);
    EXPECT_EQ(written.count(), 1);
    // Showing a stored value is no edit.
    second.flag = true;
    controller.setContent(&second);
    EXPECT_TRUE(box.isChecked());
    EXPECT_EQ(second.writes, 0);
}

TEST_F(BinderTest, ComboBoxTextIsWrittenWhenChosenOrFinished)
{
    QComboBox box;
    box.setEditable(true);
    box.addItems({"€", "$"});
    ui::bindText(box, controller, "content.name");
    controller.setContent(&first);
    EXPECT_EQ(box.currentText(), "First");
    box.setCurrentIndex(1);
    Q_EMIT box.activated(1);
    EXPECT_EQ(first.name, "$");
    box.setCurrentText("CHF");
    Q_EMIT box.lineEdit()->editingFinished();
    EXPECT_EQ(first.name, "CHF");
    EXPECT_EQ(first.writes, 2);
}

TEST_F(BinderTest, APopUpOfObjectsShowsAndWritesTheChosenObject)
{
    Record third{"Third", std::nullopt};
    QComboBox partners;
    partners.addItem(QString(), ui::PopUpButtonBinding::itemData(nullptr));
    partners.addItem("Second", ui::PopUpButtonBinding::itemData(&second));
    first.partner = &second;
    ui::PopUpButtonBinding* binding = ui::bindSelectedObject(partners, controller, "content.partner");
    controller.setContent(&first);
    EXPECT_EQ(partners.currentIndex(), 1);

    partners.setCurrentIndex(0);
    Q_EMIT partners.activated(0);
    EXPECT_EQ(first.partner, nullptr);
    EXPECT_EQ(first.writes, 1);
    Q_EMIT partners.activated(0); // the same choice again writes nothing
    EXPECT_EQ(first.writes, 1);

    // An object the items do not offer shows as no choice until the items offer it.
    first.partner = &third;
    controller.objectsDidChange(changedKeys({{&first, "partner"}}));
    EXPECT_EQ(partners.currentIndex(), -1);
    EXPECT_FALSE(binding->hasEdit());
    partners.addItem("Third", ui::PopUpButtonBinding::itemData(&third));
    binding->reread();
    EXPECT_EQ(partners.currentText(), "Third");
}

TEST_F(BinderTest, DatesShowAndWriteTheWallTimeOfTheUsersZone)
{
    testsupport::ScopedEnvironment zone{{"TZ", std::string("Europe/Berlin")}};
    first.when = testsupport::utc(2024, 7, 1, 7, 30); // 09:30 in Berlin
    QDateTimeEdit editor;
    ui::bindDate(editor, controller, "content.when");
    controller.setContent(&first);
    EXPECT_EQ(editor.dateTime().time(), QTime(9, 30));
    EXPECT_EQ(editor.dateTime().date(), QDate(2024, 7, 1));

    editor.setDateTime(QDateTime(QDate(2024, 12, 24), QTime(18, 0), Qt::UTC));
    Q_EMIT editor.editingFinished();
    EXPECT_EQ(first.when, testsupport::utc(2024, 12, 24, 17)); // winter: UTC+1
}

// An autosizing field is written when its user pauses typing, still inside it, and once more when
// the focus leaves; the controller hears of the edit's begin and end once each.
TEST_F(BinderTest, AnAutosizingFieldIsWrittenWhenTypingPausesInsideTheField)
{
    QWidget window;
    auto* notes = new ui::AutosizingTextField(&window);
    auto* other = new QLineEdit(&window);
    other->move(0, 100);
    ui::bindText(*notes, controller, "content.name");
    controller.setContent(&first);
    QSignalSpy began(&controller, &ui::ObjectController::editSessionBegan);
    QSignalSpy ended(&controller, &ui::ObjectController::editSessionEnded);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    notes->setFocus();
    notes->moveCursor(QTextCursor::End);
    QTest::keyClicks(notes, QStringLiteral(" draft"));
    EXPECT_EQ(first.writes, 0);
    EXPECT_EQ(began.count(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return first.writes == 1; }, 10000));
    EXPECT_EQ(first.name, "First draft");
    EXPECT_TRUE(notes->hasFocus());

    QTest::keyClick(notes, Qt::Key_Return);
    QTest::keyClicks(notes, QStringLiteral("two"));
    EXPECT_EQ(ended.count(), 0);
    other->setFocus();
    EXPECT_EQ(first.name, "First draft\ntwo");
    EXPECT_EQ(first.writes, 2);
    EXPECT_EQ(began.count(), 1);
    EXPECT_EQ(ended.count(), 1);
}

TEST(NumberText, WritesExactDecimalsInTheLocalesWay)
{
    const QLocale german(QLocale::German, QLocale::Germany);
    const QLocale american(QLocale::English, QLocale::UnitedStates);
    EXPECT_EQ(ui::decimalText(*foundation::Decimal::parse("1234567.5"), 2, german), "1.234.567,50");
    EXPECT_EQ(ui::decimalText(*foundation::Decimal::parse("1234567.5"), 2, american), "1,234,567.50");
    EXPECT_EQ(ui::decimalText(*foundation::Decimal::parse("-0.125"), 2, american), "-0.12"); // half-even
    EXPECT_EQ(ui::decimalText(foundation::Decimal(100), 0, american), "100");
    QLocale plain = american;
    plain.setNumberOptions(QLocale::OmitGroupSeparator);
    EXPECT_EQ(ui::decimalText(foundation::Decimal(1000), 1, plain), "1000.0");
    // 20 digits survive, where a double keeps about 16.
    EXPECT_EQ(ui::decimalText(*foundation::Decimal::parse("12345678901234567890.12"), 2, plain),
              "12345678901234567890.12");
}

TEST(NumberText, ReadsOnlyPlainNumbersOfTheLocale)
{
    const QLocale german(QLocale::German, QLocale::Germany);
    EXPECT_EQ(ui::parseDecimal("85,5", german), *foundation::Decimal::parse("85.5"));
    EXPECT_EQ(ui::parseDecimal(" 1.000.000 ", german), foundation::Decimal(1'000'000));
    EXPECT_EQ(ui::parseDecimal("-2,25", german), *foundation::Decimal::parse("-2.25"));
    EXPECT_EQ(ui::parseDecimal("12345678901234567890,12", german),
              *foundation::Decimal::parse("12345678901234567890.12"));
    for (const char* text : {"", "lots", "1,5e3", "1E3", "inf", "nan", "85.5.5", "1,2,3"})
        EXPECT_EQ(ui::parseDecimal(text, german), std::nullopt) << text;
}

} // namespace
