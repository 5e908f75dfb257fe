// Window-modal and application-modal alerts, file dialogs and sheets: their responses, the rules on
// chosen paths, and the test hook answering each of them (on a later event-loop turn where it can).
#include "ui/alerts.h"
#include "ui/file_panels.h"
#include "ui/modal_test_hook.h"
#include "ui/sheets.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>

namespace {

struct Recorded {
    int calls = 0;
    ui::ModalResponse response = -1;
    QStringList paths;
};

ui::Alert deleteAlert()
{
    return ui::Alert{ui::AlertStyle::critical, "Delete the project?", "Its timers go with it.", {"Delete", "Cancel"}};
}

template <typename T>
T* waitForChild(QWidget& window)
{
    T* child = nullptr;
    (void)QTest::qWaitFor([&] {
        child = window.findChild<T*>();
        return child && child->isVisible();
    });
    return child;
}

} // namespace

TEST(ModalTestHook, AnswersAnAlertOnALaterTurnAndKeepsWhatWasShown)
{
    ui::ModalTestHook hook;
    hook.answerAlert = [](const ui::PresentedAlert&) { return ui::alertSecondButtonReturn; };
    QWidget window;
    Recorded recorded;
    deleteAlert().beginSheetModal(window, [&](ui::ModalResponse response) {
        ++recorded.calls;
        recorded.response = response;
    });
    EXPECT_EQ(recorded.calls, 0) << "a completion never runs inside beginSheetModal";
    QCoreApplication::processEvents();
    EXPECT_EQ(recorded.calls, 1);
    EXPECT_EQ(recorded.response, 1001);

    ASSERT_EQ(hook.alerts.size(), 1u);
    const ui::PresentedAlert& shown = hook.alerts.front();
    EXPECT_EQ(shown.alert.alertStyle, ui::AlertStyle::critical);
    EXPECT_EQ(shown.alert.messageText, "Delete the project?");
    EXPECT_EQ(shown.alert.informativeText, "Its timers go with it.");
    EXPECT_EQ(shown.alert.buttons, QStringList({"Delete", "Cancel"}));
    EXPECT_EQ(shown.window, &window);
    EXPECT_TRUE(shown.windowModal);
    EXPECT_TRUE(window.findChildren<QMessageBox*>().isEmpty()) << "nothing is shown under the hook";
}

TEST(ModalTestHook, RecordsBlockingAlertsWithoutShowingThemAndRefusesASecondHook)
{
    ui::ModalTestHook hook;
    ui::runWarningAlert(nullptr, "Horavine cannot open its projects", "The file is locked.");
    ui::runInformationalAlert(nullptr, "Check for Updates", "No updater.");
    ASSERT_EQ(hook.alerts.size(), 2u);
    EXPECT_FALSE(hook.alerts[0].windowModal);
    EXPECT_EQ(hook.alerts[0].alert.alertStyle, ui::AlertStyle::warning);
    EXPECT_EQ(hook.alerts[0].alert.informativeText, "The file is locked.");
    EXPECT_EQ(hook.alerts[1].alert.alertStyle, ui::AlertStyle::informational);
    EXPECT_THROW(ui::ModalTestHook(), std::logic_error);
    EXPECT_EQ(ui::ModalTestHook::active(), &hook);
}

TEST(Alert, ShownWindowModalAndAnswersWithTheIndexOfTheButtonClicked)
{
    QWidget window;
    window.show();
    Recorded recorded;
    deleteAlert().beginSheetModal(window, [&](ui::ModalResponse response) {
        ++recorded.calls;
        recorded.response = response;
    });
    auto* box = waitForChild<QMessageBox>(window);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowModality(), Qt::WindowModal);
    EXPECT_EQ(box->text(), "Delete the project?");
    EXPECT_EQ(box->informativeText(), "Its timers go with it.");
    ASSERT_EQ(box->buttons().size(), 2);
    EXPECT_EQ(box->defaultButton()->text(), "Delete");
    EXPECT_EQ(box->escapeButton()->text(), "Cancel");

    QTest::mouseClick(box->escapeButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorded.calls > 0; }));
    EXPECT_EQ(recorded.calls, 1);
    EXPECT_EQ(recorded.response, 1001);
}

TEST(Alert, WithoutButtonsOffersOneOkAnsweringTheFirstResponse)
{
    QWidget window;
    window.show();
    Recorded recorded;
    ui::Alert{ui::AlertStyle::informational, "Saved.", {}, {}}.beginSheetModal(window, [&](ui::ModalResponse r) {
        ++recorded.calls;
        recorded.response = r;
    });
    auto* box = waitForChild<QMessageBox>(window);
    ASSERT_NE(box, nullptr);
    ASSERT_EQ(box->buttons().size(), 1);
    QTest::mouseClick(box->buttons().first(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorded.calls > 0; }));
    EXPECT_EQ(recorded.response, ui::alertFirstButtonReturn);
}

TEST(ModalAlert, RunsApplicationModalAndAnswersWithTheButtonClicked)
{
    const ui::Alert question{ui::AlertStyle::warning, "Send the report?", "It helps.", {"Send", "Always", "No"}};
    // Clicks the button at `index` of the box once it runs, or closes it without a button (-1).
    const auto answerLater = [](int index, QStringList* seen) {
        QTimer::singleShot(0, [index, seen] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->windowModality(), Qt::ApplicationModal);
            EXPECT_EQ(box->text(), "Send the report?");
            EXPECT_EQ(box->informativeText(), "It helps.");
            EXPECT_EQ(box->defaultButton()->text(), "Send");
            // The buttons in the order given, whatever order the style lays them out in.
            for (auto* button : box->findChildren<QPushButton*>())
                seen->append(button->text());
            if (index < 0) {
                box->reject();
                return;
            }
            const QString wanted = QStringList{"Send", "Always", "No"}[index];
            for (auto* button : box->findChildren<QPushButton*>())
                if (button->text() == wanted)
                    QTest::mouseClick(button, Qt::LeftButton);
        });
    };
    QStringList seen;
    answerLater(1, &seen);
    EXPECT_EQ(ui::runModalAlert(nullptr, question), ui::alertSecondButtonReturn);
    EXPECT_EQ(seen, (QStringList{"Send", "Always", "No"}));
    answerLater(2, &seen);
    EXPECT_EQ(ui::runModalAlert(nullptr, question), ui::alertThirdButtonReturn);
    answerLater(-1, &seen);
    EXPECT_EQ(ui::runModalAlert(nullptr, question), ui::modalResponseCancel);
}

TEST(ModalAlert, TheHookRecordsAndAnswersItAtOnce)
{
    ui::ModalTestHook hook;
    hook.answerAlert = [](const ui::PresentedAlert& presented) {
        return ui::alertFirstButtonReturn + int(presented.alert.buttons.size()) - 1;
    };
    EXPECT_EQ(ui::runModalAlert(nullptr, deleteAlert()), ui::alertSecondButtonReturn);
    EXPECT_EQ(ui::runModalAlert(nullptr, ui::Alert{ui::AlertStyle::warning, "Done.", {}, {}}),
              ui::alertFirstButtonReturn);
    ASSERT_EQ(hook.alerts.size(), 2u);
    EXPECT_FALSE(hook.alerts[0].windowModal);
    EXPECT_EQ(hook.alerts[0].alert.messageText, "Delete the project?");
    EXPECT_EQ(hook.alerts[0].alert.buttons, (QStringList{"Delete", "Cancel"}));
    EXPECT_EQ(hook.alerts[1].alert.buttons, QStringList{"OK"});
}

TEST(SavePanel, ChosenPathCarriesAnAllowedExtension)
{
    EXPECT_EQ(ui::pathWithAllowedFileType("/tmp/report", {"csv"}, false), "/tmp/report.csv");
    EXPECT_EQ(ui::pathWithAllowedFileType("/tmp/report.txt", {"csv"}, false), "/tmp/report.txt.csv");
    EXPECT_EQ(ui::pathWithAllowedFileType("/tmp/REPORT.CSV", {"csv"}, false), "/tmp/REPORT.CSV");
    EXPECT_EQ(ui::pathWithAllowedFileType("/tmp/a.htm", {"html", "htm"}, false), "/tmp/a.htm");
    EXPECT_EQ(ui::pathWithAllowedFileType("/tmp/report.txt", {"csv"}, true), "/tmp/report.txt");
    EXPECT_EQ(ui::pathWithAllowedFileType("/tmp/report", {}, false), "/tmp/report");
}

TEST(SavePanel, HookAnswersWithAPathOrCancels)
{
    ui::ModalTestHook hook;
    QWidget window;
    const ui::SavePanel panel{"Export", "/tmp", "Projects", {"csv"}, false};
    hook.answerFileDialog = [](const ui::PresentedFileDialog& dialog) {
        return std::optional<QStringList>(QStringList{dialog.directory + "/" + dialog.nameFieldStringValue});
    };
    Recorded saved;
    panel.beginSheetModal(window, [&](ui::ModalResponse response, QString path) {
        ++saved.calls;
        saved.response = response;
        saved.paths = {path};
    });
    EXPECT_EQ(saved.calls, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(saved.calls, 1);
    EXPECT_EQ(saved.response, ui::modalResponseOK);
    EXPECT_EQ(saved.paths, QStringList({"/tmp/Projects.csv"}));
    ASSERT_EQ(hook.fileDialogs.size(), 1u);
    EXPECT_TRUE(hook.fileDialogs[0].save);
    EXPECT_EQ(hook.fileDialogs[0].allowedFileTypes, QStringList({"csv"}));

    hook.answerFileDialog = [](const ui::PresentedFileDialog&) { return std::optional<QStringList>(); };
    Recorded cancelled;
    panel.beginSheetModal(window, [&](ui::ModalResponse response, QString path) {
        ++cancelled.calls;
        cancelled.response = response;
        cancelled.paths = {path};
    });
    QCoreApplication::processEvents();
    EXPECT_EQ(cancelled.calls, 1);
    EXPECT_EQ(cancelled.response, ui::modalResponseCancel);
    EXPECT_EQ(cancelled.paths, QStringList({QString()}));
}

TEST(SavePanel, ShownAsAWindowModalSaveDialogThatCancelsOnReject)
{
    QWidget window;
    window.show();
    Recorded recorded;
    ui::SavePanel{"Export", QDir::tempPath(), "Projects", {"pdf"}, false}.beginSheetModal(
        window, [&](ui::ModalResponse response, QString) {
            ++recorded.calls;
            recorded.response = response;
        });
    auto* dialog = waitForChild<QFileDialog>(window);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(dialog->defaultSuffix(), "pdf");
    EXPECT_EQ(dialog->nameFilters(), QStringList({"*.pdf"}));
    dialog->reject();
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorded.calls > 0; }));
    EXPECT_EQ(recorded.calls, 1);
    EXPECT_EQ(recorded.response, ui::modalResponseCancel);
}

TEST(OpenPanel, HookAnswersOnlyWhatTheDialogCouldHaveChosen)
{
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const QString vcard = directory.filePath("people.vcf");
    const QString text = directory.filePath("notes.txt");
    for (const QString& path : {vcard, text}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    ui::ModalTestHook hook;
    QWidget window;
    const ui::OpenPanel filesOnly{"Import", directory.path(), {"vcf"}, true, false, false};

    auto answer = [&](const ui::OpenPanel& panel, const QStringList& paths) {
        hook.answerFileDialog = [paths](const ui::PresentedFileDialog&) { return std::optional<QStringList>(paths); };
        Recorded recorded;
        panel.beginSheetModal(window, [&](ui::ModalResponse response, QStringList chosen) {
            ++recorded.calls;
            recorded.response = response;
            recorded.paths = chosen;
        });
        QCoreApplication::processEvents();
        EXPECT_EQ(recorded.calls, 1);
        return recorded;
    };

    Recorded chosen = answer(filesOnly, {vcard});
    EXPECT_EQ(chosen.response, ui::modalResponseOK);
    EXPECT_EQ(chosen.paths, QStringList({vcard}));
    EXPECT_EQ(answer(filesOnly, {text}).response, ui::modalResponseCancel) << "type not allowed";
    EXPECT_EQ(answer(filesOnly, {directory.path()}).response, ui::modalResponseCancel) << "a directory";
    EXPECT_EQ(answer(filesOnly, {directory.filePath("gone.vcf")}).response, ui::modalResponseCancel);
    EXPECT_EQ(answer(filesOnly, {vcard, vcard}).response, ui::modalResponseCancel) << "one file only";
    EXPECT_TRUE(answer(filesOnly, {vcard}).paths.size() == 1);

    const ui::OpenPanel directories{"Contacts", {}, {}, false, true, true};
    Recorded folder = answer(directories, {directory.path()});
    EXPECT_EQ(folder.response, ui::modalResponseOK);
    EXPECT_EQ(folder.paths, QStringList({directory.path()}));
    EXPECT_EQ(answer(directories, {vcard}).response, ui::modalResponseCancel) << "a file";
}

TEST(Sheet, HookEndsItWithTheAnsweredCodeWithoutShowingIt)
{
    ui::ModalTestHook hook;
    hook.answerSheet = [](const ui::PresentedSheet&) { return std::optional<ui::ModalResponse>(ui::modalResponseOK); };
    QWidget window;
    QDialog sheet;
    Recorded recorded;
    ui::beginSheet(window, sheet, [&](ui::ModalResponse response) {
        ++recorded.calls;
        recorded.response = response;
    });
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_EQ(recorded.calls, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(recorded.calls, 1);
    EXPECT_EQ(recorded.response, ui::modalResponseOK);
    ASSERT_EQ(hook.sheets.size(), 1u);
    EXPECT_EQ(hook.sheets[0].sheet, &sheet);
    EXPECT_EQ(sheet.parentWidget(), &window);
}

TEST(Sheet, LeftToTheTestItRunsWindowModalUntilEndedOnce)
{
    ui::ModalTestHook hook; // answers nothing: the sheet is shown
    QWidget window;
    window.show();
    QDialog sheet;
    Recorded recorded;
    ui::beginSheet(window, sheet, [&](ui::ModalResponse response) {
        ++recorded.calls;
        recorded.response = response;
    });
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_EQ(sheet.windowModality(), Qt::WindowModal);
    ui::endSheet(sheet, 7);
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_EQ(recorded.calls, 1);
    EXPECT_EQ(recorded.response, 7);
    ui::endSheet(sheet, 8);
    sheet.reject();
    EXPECT_EQ(recorded.calls, 1) << "an ended sheet runs no completion again";

    Recorded second;
    ui::beginSheet(window, sheet, [&](ui::ModalResponse response) {
        ++second.calls;
        second.response = response;
    });
    QTest::keyClick(&sheet, Qt::Key_Escape);
    EXPECT_EQ(second.calls, 1);
    EXPECT_EQ(second.response, ui::modalResponseCancel);
    EXPECT_EQ(recorded.calls, 1);
}

TEST(Sheet, BegunAgainWhileRunningEndsTheFirstRunAsCancelled)
{
    QWidget window;
    QDialog sheet;
    Recorded first;
    Recorded second;
    ui::beginSheet(window, sheet, [&](ui::ModalResponse r) {
        ++first.calls;
        first.response = r;
    });
    ui::beginSheet(window, sheet, [&](ui::ModalResponse r) {
        ++second.calls;
        second.response = r;
    });
    EXPECT_EQ(first.calls, 1);
    EXPECT_EQ(first.response, ui::modalResponseCancel);
    sheet.accept();
    EXPECT_EQ(first.calls, 1);
    EXPECT_EQ(second.calls, 1);
    EXPECT_EQ(second.response, ui::modalResponseOK);
}
