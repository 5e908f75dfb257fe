// What the user sees when the store cannot be written: one warning per episode and the "Not saved"
// mark until a retry of its own succeeds; the quit question with each of its answers; a recovery
// file and a failing exit status when a signal ends the program, and at the next launch the notice
// of this store's recovery files; a damaged store told before anything is written to it; and a
// stuck main loop that a quitting signal still ends.
#include "app/app_delegate.h"
#include "app/store_save_monitor.h"
#include "app/unix_signal_quitter.h"
#include "signal_quit_child.h"

#include "foundation/defaults_store.h"
#include "model/fetch_helpers.h"
#include "model/persistence_controller.h"
#include "model/preferences.h"
#include "model/project.h"
#include "model/timer.h"
#include "ui/modal_test_hook.h"

#include "support/damaged_store.h"
#include "support/eventually.h"
#include "support/faulty_vfs.h"
#include "support/file_contents.h"
#include "support/scoped_environment.h"
#include "support/temp_folder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

using Status = model::PersistenceController::Status;

namespace {

// Runs the event loop until `done` or `limit` milliseconds have passed.
template <typename Predicate>
bool processEventsUntil(Predicate done, int limit = 20000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < limit)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return done();
}

class StoreSaveFailureTest : public ::testing::Test {
protected:
    StoreSaveFailureTest() : vfs(testsupport::FaultyVfs::install()) { vfs.setTarget(storePath()); }
    ~StoreSaveFailureTest() override { vfs.reset(); }

    std::filesystem::path storePath() const { return folder.path() / "Documents" / "Projects.horavine"; }

    model::PersistenceController& open()
    {
        persistence = std::make_unique<model::PersistenceController>(storePath(), center);
        return *persistence;
    }

    // The monitor as the program sets it up over the window, recording the marks it sets.
    std::unique_ptr<app::StoreSaveMonitor> startMonitor()
    {
        auto monitor = std::make_unique<app::StoreSaveMonitor>(*persistence, &window,
                                                               [this](const QString& mark) { marks << mark; });
        monitor->start();
        return monitor;
    }

    std::unique_ptr<app::AppDelegate> makeDelegate()
    {
        auto delegate = std::make_unique<app::AppDelegate>(app::AppDelegate::Services{
            .persistenceController = *persistence,
            .settings = settings,
            .makeStatusItem = {},
            .quit = [this] { ++quits; },
        });
        delegate->setMainWindow(&window);
        return delegate;
    }

    void addProjects(int count)
    {
        auto& context = persistence->managedObjectContext();
        for (int i = 0; i < count; ++i) {
            auto* project = model::initInContext<model::Project>(context);
            project->setName("Project " + std::to_string(model::fetchAll<model::Project>(context).size()));
            model::initInContext<model::Timer>(context)->setProject(project);
        }
        context.processPendingChanges();
    }

    // The project names a store file holds, read from a copy (the original is locked by its owner).
    std::vector<std::string> projectNamesIn(const std::filesystem::path& file)
    {
        testsupport::TempFolder copyFolder("horavine-readback");
        const auto copy = copyFolder.path() / "copy.horavine";
        std::filesystem::copy_file(file, copy);
        foundation::NotificationCenter otherCenter;
        model::PersistenceController reader(copy, otherCenter);
        std::vector<std::string> names;
        for (auto* project : model::fetchAll<model::Project>(reader.managedObjectContext()))
            names.push_back(project->name().value_or("?"));
        EXPECT_EQ(model::fetch<model::Timer>(reader.managedObjectContext()).size(), names.size());
        return names;
    }

    std::vector<std::string> projectNamesInMemory()
    {
        std::vector<std::string> names;
        for (auto* project : model::fetchAll<model::Project>(persistence->managedObjectContext()))
            names.push_back(project->name().value_or("?"));
        return names;
    }

    std::vector<const ui::PresentedAlert*> windowModalAlerts(const ui::ModalTestHook& hook) const
    {
        std::vector<const ui::PresentedAlert*> alerts;
        for (const auto& alert : hook.alerts)
            if (alert.windowModal)
                alerts.push_back(&alert);
        return alerts;
    }

    testsupport::TempFolder folder{"horavine-save-failure"};
    testsupport::ScopedEnvironment environment{{"XDG_DATA_HOME", (folder.path() / "data").string()}};
    testsupport::FaultyVfs& vfs;
    foundation::NotificationCenter center;
    std::unique_ptr<model::PersistenceController> persistence;
    foundation::DefaultsStore defaults{folder.path() / "defaults.json"};
    model::Preferences settings{defaults};
    QWidget window;
    QStringList marks;
    int quits = 0;
};

} // namespace

TEST_F(StoreSaveFailureTest, OneWarningPerEpisodeAMarkUntilSavedAndRetriesOfItsOwn)
{
    open();
    ui::ModalTestHook hook;
    auto monitor = startMonitor();
    EXPECT_EQ(marks, QStringList{QString()});
    addProjects(1);

    vfs.failWrites(SQLITE_FULL);
    addProjects(2);
    addProjects(1);
    QCoreApplication::processEvents();
    auto alerts = windowModalAlerts(hook);
    ASSERT_EQ(alerts.size(), 1u) << "one warning for the episode, not one per change";
    EXPECT_EQ(alerts[0]->window, &window);
    EXPECT_EQ(alerts[0]->alert.alertStyle, ui::AlertStyle::warning);
    EXPECT_TRUE(alerts[0]->alert.informativeText.contains("the disk is full"))
        << alerts[0]->alert.informativeText.toStdString();
    EXPECT_EQ(marks.back(), app::StoreSaveMonitor::notSavedMark());
    EXPECT_TRUE(monitor->retryTimer().isActive());
    EXPECT_EQ(std::chrono::milliseconds(monitor->retryTimer().interval()), persistence->retryDelay());
    EXPECT_EQ(projectNamesIn(storePath()).size(), 1u);

    // The disk has room again: the retry of its own writes everything, and the mark goes.
    vfs.failWrites(SQLITE_OK);
    ASSERT_TRUE(processEventsUntil([&] { return persistence->status() == Status::ok; }));
    EXPECT_EQ(marks.back(), QString());
    EXPECT_FALSE(monitor->retryTimer().isActive());
    EXPECT_EQ(projectNamesIn(storePath()), projectNamesInMemory());
    EXPECT_EQ(projectNamesInMemory().size(), 4u);

    // A later failure is a new episode with a warning of its own.
    vfs.failSyncs(SQLITE_IOERR_FSYNC);
    addProjects(1);
    QCoreApplication::processEvents();
    alerts = windowModalAlerts(hook);
    ASSERT_EQ(alerts.size(), 2u);
    EXPECT_TRUE(alerts[1]->alert.informativeText.contains("input/output error"));
}

TEST_F(StoreSaveFailureTest, AStoreReadOnlyAtLaunchIsToldAtOnceAndSavedWhenItBecomesWritable)
{
    open();
    addProjects(1);
    persistence.reset();
    vfs.openReadOnly(true);
    open();
    ui::ModalTestHook hook;
    auto monitor = startMonitor();
    QCoreApplication::processEvents();
    auto alerts = windowModalAlerts(hook);
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_TRUE(alerts[0]->alert.informativeText.contains("read-only"));
    EXPECT_EQ(marks.back(), app::StoreSaveMonitor::notSavedMark());
    addProjects(1); // the user carries on
    EXPECT_EQ(windowModalAlerts(hook).size(), 1u);

    vfs.openReadOnly(false); // the user fixed the permission
    ASSERT_TRUE(processEventsUntil([&] { return persistence->status() == Status::ok; }));
    EXPECT_EQ(marks.back(), QString());
    EXPECT_EQ(projectNamesIn(storePath()).size(), 2u);
}

TEST_F(StoreSaveFailureTest, QuittingAsksWhenTheLastSaveFailsAndEachAnswerDoesWhatItSays)
{
    open();
    addProjects(2);
    auto delegate = makeDelegate();
    {
        // Nothing unsaved: no question.
        ui::ModalTestHook hook;
        delegate->terminate();
        QCoreApplication::processEvents();
        EXPECT_TRUE(hook.alerts.empty());
        EXPECT_EQ(quits, 1);
    }
    vfs.failWrites(SQLITE_IOERR_WRITE);
    addProjects(1);
    {
        // Try Again, still failing: asked again; then Quit Without Saving.
        ui::ModalTestHook hook;
        std::vector<ui::ModalResponse> answers{ui::alertFirstButtonReturn, ui::alertThirdButtonReturn};
        hook.answerAlert = [&](const ui::PresentedAlert&) {
            const auto answer = answers.front();
            answers.erase(answers.begin());
            return answer;
        };
        quits = 0;
        delegate->terminate();
        ASSERT_TRUE(processEventsUntil([&] { return quits == 1; }));
        ASSERT_EQ(hook.alerts.size(), 2u);
        EXPECT_EQ(hook.alerts[0].alert.buttons, (QStringList{"Try Again", "Save a Copy…", "Quit Without Saving"}));
        EXPECT_TRUE(hook.alerts[0].alert.informativeText.contains("input/output error"));
    }
    {
        // Dismissed without a choice: the program keeps running.
        ui::ModalTestHook hook;
        hook.answerAlert = [](const ui::PresentedAlert&) { return ui::modalResponseCancel; };
        quits = 0;
        delegate->terminate();
        processEventsUntil([&] { return !hook.alerts.empty(); });
        QCoreApplication::processEvents();
        EXPECT_EQ(quits, 0);
    }
    {
        // Save a Copy…: the copy holds every object and the program quits.
        ui::ModalTestHook hook;
        hook.answerAlert = [](const ui::PresentedAlert&) { return ui::alertSecondButtonReturn; };
        const auto copy = folder.path() / "copies" / "Copy.horavine";
        hook.answerFileDialog = [&](const ui::PresentedFileDialog& dialog) {
            EXPECT_TRUE(dialog.save);
            EXPECT_EQ(dialog.allowedFileTypes, QStringList{"horavine"});
            return std::optional<QStringList>(QStringList{QString::fromStdString(copy.string())});
        };
        quits = 0;
        delegate->terminate();
        ASSERT_TRUE(processEventsUntil([&] { return quits == 1; }));
        EXPECT_EQ(projectNamesIn(copy), projectNamesInMemory());
        EXPECT_EQ(projectNamesInMemory().size(), 3u);
    }
    {
        // Try Again once the disk works: saved, and the program quits without another question.
        ui::ModalTestHook hook;
        hook.answerAlert = [this](const ui::PresentedAlert&) {
            vfs.failWrites(SQLITE_OK);
            return ui::alertFirstButtonReturn;
        };
        quits = 0;
        delegate->terminate();
        ASSERT_TRUE(processEventsUntil([&] { return quits == 1; }));
        EXPECT_EQ(hook.alerts.size(), 1u);
        EXPECT_EQ(projectNamesIn(storePath()), projectNamesInMemory());
    }
}

TEST_F(StoreSaveFailureTest, ASignalLeavesARecoveryFileWithEveryObjectAndAFailingStatus)
{
    open();
    addProjects(1);
    vfs.failWrites(SQLITE_FULL);
    addProjects(2);
    const auto expected = projectNamesInMemory();
    const int status = apptest::quitBySignalInChild([this] { return makeDelegate(); });
    ASSERT_NE(status, -1);
    ASSERT_TRUE(WIFEXITED(status)) << "the child ended by signal " << WTERMSIG(status);
    EXPECT_NE(WEXITSTATUS(status), 0);
    const auto recovered = model::PersistenceController::recoveryFiles();
    ASSERT_EQ(recovered.size(), 1u);
    EXPECT_EQ(projectNamesIn(recovered[0]), expected);

    // Another store's recovery file lies beside it.
    foundation::NotificationCenter otherCenter;
    model::PersistenceController other(folder.path() / "Other" / "Projects.horavine", otherCenter);
    model::initInContext<model::Project>(other.managedObjectContext())->setName("Other");
    const auto othersRecovery = other.writeRecoveryFile();
    ASSERT_TRUE(othersRecovery.hasValue()) << othersRecovery.status().message();

    // The next launch tells of this store's file only, and shows it in the file manager when asked.
    vfs.failWrites(SQLITE_OK);
    ui::ModalTestHook hook;
    hook.answerAlert = [](const ui::PresentedAlert&) { return ui::alertSecondButtonReturn; };
    auto monitor = std::make_unique<app::StoreSaveMonitor>(*persistence, &window, [](const QString&) {});
    std::vector<QUrl> revealed;
    monitor->setReveal([&revealed](const QUrl& file) { revealed.push_back(file); });
    monitor->start();
    QCoreApplication::processEvents();
    ASSERT_FALSE(hook.alerts.empty());
    EXPECT_TRUE(hook.alerts[0].alert.informativeText.contains(QString::fromStdString(recovered[0].string())));
    EXPECT_FALSE(hook.alerts[0].alert.informativeText.contains(QString::fromStdString(othersRecovery->string())));
    EXPECT_EQ(hook.alerts[0].alert.buttons.value(1), "Show in File Manager");
    ASSERT_TRUE(processEventsUntil([&] { return !revealed.empty(); }));
    EXPECT_EQ(revealed, std::vector<QUrl>{QUrl::fromLocalFile(QString::fromStdString(recovered[0].string()))});
}

TEST_F(StoreSaveFailureTest, ADamagedStoreIsToldAndNothingIsWrittenBeforeTheUsersChoice)
{
    open();
    addProjects(4);
    persistence.reset();
    ASSERT_TRUE(testsupport::flipKeyBitOfSecondRow(storePath(), "Project"));
    const std::string damaged = testsupport::readFile(storePath());
    for (const bool goOn : {false, true}) {
        SCOPED_TRACE(goOn ? "Continue" : "Quit");
        open();
        ASSERT_TRUE(persistence->damage().has_value());
        const std::filesystem::path keptCopy = persistence->damage()->keptCopy;
        ui::ModalTestHook hook;
        hook.answerAlert = [goOn](const ui::PresentedAlert&) {
            return goOn ? ui::alertFirstButtonReturn : ui::alertSecondButtonReturn;
        };
        quits = 0;
        auto monitor = startMonitor();
        monitor->setQuit([this] { ++quits; });
        // A change while the question waits for its answer: kept, not written.
        addProjects(1);
        EXPECT_TRUE(persistence->hasUnsavedChanges());
        EXPECT_EQ(testsupport::readFile(storePath()), damaged);
        const auto alerts = windowModalAlerts(hook);
        ASSERT_EQ(alerts.size(), 1u);
        EXPECT_EQ(alerts[0]->alert.alertStyle, ui::AlertStyle::critical);
        EXPECT_TRUE(alerts[0]->alert.informativeText.contains("out of order"));
        EXPECT_TRUE(alerts[0]->alert.informativeText.contains(QString::fromStdString(keptCopy.string())));
        EXPECT_EQ(alerts[0]->alert.buttons, (QStringList{"Continue", "Quit"}));
        if (!goOn) {
            ASSERT_TRUE(processEventsUntil([&] { return quits == 1; }));
            EXPECT_EQ(testsupport::readFile(storePath()), damaged);
            monitor.reset();
            persistence.reset();
            continue;
        }
        ASSERT_TRUE(processEventsUntil([&] { return !persistence->hasUnsavedChanges(); }));
        EXPECT_EQ(quits, 0);
        EXPECT_EQ(projectNamesIn(storePath()), projectNamesInMemory());
    }
}

TEST_F(StoreSaveFailureTest, AQuitSignalEndsAStuckMainLoopWithoutWritingTheStore)
{
    open();
    addProjects(2);
    // A change the store has not seen: the next save would write it.
    model::initInContext<model::Project>(persistence->managedObjectContext())->setName("Unsaved");
    const std::string saved = testsupport::readFile(storePath());
    for (const bool secondSignal : {false, true}) {
        SCOPED_TRACE(secondSignal ? "a second signal" : "the watchdog");
        const std::filesystem::path errors = folder.path() / "stderr.txt";
        std::fflush(nullptr);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::dup2(::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
            auto delegate = makeDelegate();
            // Given the second signal, the watchdog would wait far longer than the test does.
            app::UnixSignalQuitter quitter({SIGTERM, SIGINT}, std::chrono::seconds(secondSignal ? 600 : 1));
            quitter.setQuitStatus([&delegate] { return delegate->terminateWithoutAsking(); });
            QTimer::singleShot(0, [secondSignal] {
                ::kill(::getpid(), SIGTERM);
                if (secondSignal)
                    ::kill(::getpid(), SIGINT);
                for (;;) // the main loop never comes back to read the signal
                    ::pause();
            });
            QCoreApplication::exec();
            _exit(0);
        }
        int status = 0;
        const bool ended = testsupport::eventually([&] { return ::waitpid(child, &status, WNOHANG) == child; }, 60);
        if (!ended) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
        }
        ASSERT_TRUE(ended) << "the process did not end";
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        const std::string lines = testsupport::readFile(errors);
        if (secondSignal) {
            EXPECT_EQ(WEXITSTATUS(status), 128 + SIGINT);
            EXPECT_NE(lines.find("second quitting signal"), std::string::npos) << lines;
        } else {
            EXPECT_EQ(WEXITSTATUS(status), app::UnixSignalQuitter::watchdogExitStatus);
            EXPECT_NE(lines.find("horavine: the program did not answer the quitting signal within 1 s; it ends "
                                 "without saving, and the store keeps its last save\n"),
                      std::string::npos)
                << lines;
        }
        EXPECT_EQ(testsupport::readFile(storePath()), saved);
        EXPECT_TRUE(model::PersistenceController::recoveryFiles().empty());
    }
}

TEST_F(StoreSaveFailureTest, ARemovedStoreFileIsWrittenAnewAndTheUserIsTold)
{
    open();
    addProjects(2);
    ui::ModalTestHook hook;
    auto monitor = startMonitor();
    std::filesystem::remove(storePath());
    addProjects(1);
    QCoreApplication::processEvents();
    auto alerts = windowModalAlerts(hook);
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0]->alert.alertStyle, ui::AlertStyle::informational);
    EXPECT_TRUE(alerts[0]->alert.informativeText.contains("removed"));
    EXPECT_EQ(projectNamesIn(storePath()), projectNamesInMemory());
    EXPECT_EQ(projectNamesInMemory().size(), 3u);
}
