// Saves that cannot reach the file: nothing is lost, the failure is reported once per episode and
// retried with back-off, a read-only store is connected anew when it becomes writable, a reader
// does not make a save fail, and a store file removed or replaced behind the program's back is
// noticed before it is written.
#include "model/data_model.h"
#include "model/fetch_helpers.h"
#include "model/pause_entry.h"
#include "model/persistence_controller.h"
#include "model/project.h"
#include "model/timer.h"

#include "foundation/user_dirs.h"

#include "support/damaged_store.h"
#include "support/faulty_vfs.h"
#include "support/scoped_environment.h"
#include "support/scoped_file_limits.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <iterator>
#include <sqlite3.h>
#include <thread>

using namespace model;
using foundation::NotificationCenter;
using Problem = PersistenceController::SaveProblem;
using std::chrono::milliseconds;

namespace {

class StoreFailureTest : public ::testing::Test {
protected:
    StoreFailureTest() : vfs_(testsupport::FaultyVfs::install()) { vfs_.setTarget(store()); }
    ~StoreFailureTest() override { vfs_.reset(); }

    std::filesystem::path store() const { return folder_.path() / "Documents" / "Projects.horavine"; }

    // Counts the controller's status notices.
    foundation::ObserverToken countNotices(NotificationCenter& center, const PersistenceController& controller,
                                           const char* name, int& count)
    {
        return center.addObserver(name, &controller, [&count](const foundation::Notification&) { ++count; });
    }

    testsupport::TempFolder folder_{"horavine-store-failure"};
    testsupport::ScopedEnvironment environment_{{"XDG_DATA_HOME", (folder_.path() / "data").string()}};
    testsupport::FaultyVfs& vfs_;
};

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every live object of `expected` is in `actual` under the same key, with equal values and the same
// to-one targets, and `actual` has nothing else.
void expectSameObjects(data::ObjectContext& expected, data::ObjectContext& actual)
{
    for (const auto& entity : expected.model().entities()) {
        const auto& mine = expected.objects(entity);
        ASSERT_EQ(actual.objects(entity).size(), mine.size()) << entity.name();
        for (const data::Object* object : mine) {
            const data::Object* other = actual.objectWithPrimaryKey(entity, object->primaryKey());
            ASSERT_NE(other, nullptr) << entity.name() << " " << object->primaryKey();
            for (std::size_t a = 0; a < entity.attributes().size(); ++a)
                EXPECT_EQ(data::compareValues(object->value(static_cast<int>(a)), other->value(static_cast<int>(a))), 0)
                    << entity.name() << "." << entity.attributes()[a].name;
            for (std::size_t r = 0; r < entity.relationships().size(); ++r) {
                if (entity.relationships()[r].toMany)
                    continue;
                const data::Object* target = object->toOne(static_cast<int>(r));
                const data::Object* otherTarget = other->toOne(static_cast<int>(r));
                ASSERT_EQ(target == nullptr, otherTarget == nullptr) << entity.name();
                if (target) {
                    EXPECT_EQ(target->primaryKey(), otherTarget->primaryKey());
                }
            }
        }
    }
}

// Opens a copy of `file` (the original stays locked by its owner) in a second controller and
// compares it with `context`; also checks that it carries the same store identifier.
void expectFileHolds(const std::filesystem::path& file, data::ObjectContext& context)
{
    testsupport::TempFolder copyFolder("horavine-readback");
    const auto copy = copyFolder.path() / "copy.horavine";
    ASSERT_TRUE(std::filesystem::copy_file(file, copy));
    NotificationCenter center;
    PersistenceController reader(copy, center);
    ASSERT_TRUE(reader.storeIsOpen()) << reader.statusMessage();
    EXPECT_FALSE(reader.damage().has_value()) << reader.statusMessage();
    EXPECT_EQ(reader.managedObjectContext().storeIdentifier(), context.storeIdentifier());
    expectSameObjects(context, reader.managedObjectContext());
}

void addProjectWithTimer(data::ObjectContext& context, const std::string& name)
{
    Project* project = initInContext<Project>(context);
    project->setName(name);
    Timer* timer = initInContext<Timer>(context);
    timer->setProject(project);
    timer->setNotes(std::string("notes of ") + name);
    initInContext<PauseEntry>(context)->setTimer(timer);
}

} // namespace

TEST_F(StoreFailureTest, AFailedSaveKeepsEveryChangeAndTheFirstGoodRetryWritesThemAll)
{
    NotificationCenter center;
    PersistenceController controller(store(), center);
    ASSERT_EQ(controller.status(), PersistenceController::Status::ok) << controller.statusMessage();
    int notices = 0;
    auto token = countNotices(center, controller, PersistenceController::SaveStatusDidChangeNotification, notices);
    auto& context = controller.managedObjectContext();
    addProjectWithTimer(context, "Saved");
    context.processPendingChanges();
    ASSERT_FALSE(controller.hasUnsavedChanges());

    vfs_.failWrites(SQLITE_FULL);
    addProjectWithTimer(context, "First while full");
    context.processPendingChanges();
    EXPECT_GT(vfs_.faultsInjected(), 0);
    EXPECT_EQ(controller.status(), PersistenceController::Status::saveFailed);
    EXPECT_EQ(controller.saveProblem(), Problem::diskFull);
    EXPECT_NE(controller.statusMessage().find("the disk is full"), std::string::npos) << controller.statusMessage();
    EXPECT_EQ(controller.failureEpisode(), 1);
    EXPECT_EQ(controller.retryDelay(), milliseconds(2000));
    EXPECT_TRUE(controller.hasUnsavedChanges());
    EXPECT_EQ(notices, 1);

    // Further changes and retries of the same episode back off and stay one episode.
    std::vector<milliseconds> delays;
    for (int i = 0; i < 6; ++i) {
        Project* project = fetchAll<Project>(context).front();
        project->setName("Renamed " + std::to_string(i));
        context.processPendingChanges();
        EXPECT_FALSE(controller.save()); // a retry of its own
        delays.push_back(controller.retryDelay());
    }
    EXPECT_EQ(delays, (std::vector<milliseconds>{milliseconds(8000), milliseconds(32000), milliseconds(60000),
                                                 milliseconds(60000), milliseconds(60000), milliseconds(60000)}));
    EXPECT_EQ(controller.failureEpisode(), 1);

    vfs_.failWrites(SQLITE_OK);
    EXPECT_TRUE(controller.save());
    EXPECT_EQ(controller.status(), PersistenceController::Status::ok);
    EXPECT_EQ(controller.saveProblem(), Problem::none);
    EXPECT_TRUE(controller.statusMessage().empty());
    EXPECT_FALSE(controller.hasUnsavedChanges());
    EXPECT_EQ(notices, 14); // every failed attempt and the success
    expectFileHolds(store(), context);

    // A failing sync is another episode, told as an input/output error; the delay starts again.
    vfs_.failSyncs(SQLITE_IOERR_FSYNC);
    addProjectWithTimer(context, "Second episode");
    context.processPendingChanges();
    EXPECT_EQ(controller.failureEpisode(), 2);
    EXPECT_EQ(controller.saveProblem(), Problem::ioError);
    EXPECT_EQ(controller.retryDelay(), milliseconds(2000));
    vfs_.failSyncs(SQLITE_OK);
    EXPECT_TRUE(controller.save());
    expectFileHolds(store(), context);
}

TEST_F(StoreFailureTest, ACopyWrittenWhileTheStoreFailsOpensWithEveryObject)
{
    NotificationCenter center;
    PersistenceController controller(store(), center);
    auto& context = controller.managedObjectContext();
    addProjectWithTimer(context, "Before");
    context.processPendingChanges();
    vfs_.failWrites(SQLITE_IOERR_WRITE);
    addProjectWithTimer(context, "Unsaved");
    fetchAll<Project>(context).front()->setName(std::string("Renamed, unsaved"));
    context.deleteObject(fetch<PauseEntry>(context).front());
    context.processPendingChanges();
    ASSERT_EQ(controller.saveProblem(), Problem::ioError);

    const auto copy = folder_.path() / "elsewhere" / "Copy.horavine";
    const foundation::Status first = controller.writeCopy(copy);
    ASSERT_TRUE(first.isOk()) << first.message();
    expectFileHolds(copy, context);
    // Written again over the first copy, it holds the later state.
    addProjectWithTimer(context, "After the copy");
    context.processPendingChanges();
    const foundation::Status second = controller.writeCopy(copy);
    ASSERT_TRUE(second.isOk()) << second.message();
    expectFileHolds(copy, context);
    for (const auto& entry : std::filesystem::directory_iterator(copy.parent_path()))
        EXPECT_EQ(entry.path(), copy) << "a temporary file was left behind";

    const auto recovery = controller.writeRecoveryFile();
    ASSERT_TRUE(recovery.hasValue()) << recovery.status().message();
    EXPECT_EQ(recovery->parent_path(), folder_.path() / "data" / "horavine");
    EXPECT_EQ(recovery->filename().string().rfind("Recovered ", 0), 0u) << *recovery;
    EXPECT_EQ(PersistenceController::recoveryFiles(), std::vector<std::filesystem::path>{*recovery});
    expectFileHolds(*recovery, context);

    // Both hold all of the user's data: only their owner may read them.
    constexpr auto ownerOnly = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;
    EXPECT_EQ(std::filesystem::status(copy).permissions(), ownerOnly);
    EXPECT_EQ(std::filesystem::status(*recovery).permissions(), ownerOnly);
    // A recovery file records its store: another store's, beside it, is not this one's.
    NotificationCenter otherCenter;
    PersistenceController other(folder_.path() / "Other" / "Projects.horavine", otherCenter);
    addProjectWithTimer(other.managedObjectContext(), "Other");
    const auto othersRecovery = other.writeRecoveryFile();
    ASSERT_TRUE(othersRecovery.hasValue()) << othersRecovery.status().message();
    EXPECT_EQ(controller.recoveryFilesOfThisStore(), std::vector<std::filesystem::path>{*recovery});
    EXPECT_EQ(other.recoveryFilesOfThisStore(), std::vector<std::filesystem::path>{*othersRecovery});
}

TEST_F(StoreFailureTest, ADamagedStoreIsKeptAsItWasAndWrittenAnewOnlyOnceTheUserGoesOn)
{
    {
        NotificationCenter center;
        PersistenceController controller(store(), center);
        for (const char* name : {"One", "Two", "Three", "Four"})
            addProjectWithTimer(controller.managedObjectContext(), name);
        controller.managedObjectContext().processPendingChanges();
    }
    ASSERT_TRUE(testsupport::flipKeyBitOfSecondRow(store(), "Project"));
    constexpr auto permissions =
        std::filesystem::perms::owner_read | std::filesystem::perms::owner_write | std::filesystem::perms::group_read;
    std::filesystem::permissions(store(), permissions);
    const std::string damaged = readFile(store());

    NotificationCenter center;
    PersistenceController controller(store(), center);
    ASSERT_TRUE(controller.damage().has_value());
    const PersistenceController::StoreDamage damage = *controller.damage();
    EXPECT_NE(damage.integrityProblem.find("out of order"), std::string::npos) << damage.integrityProblem;
    EXPECT_EQ(damage.danglingReferences, 1u) << "the timer of the project whose key changed";
    ASSERT_FALSE(damage.keptCopy.empty()) << damage.copyProblem;
    EXPECT_EQ(damage.keptCopy.parent_path(), store().parent_path());
    EXPECT_EQ(readFile(damage.keptCopy), damaged);
    EXPECT_TRUE(controller.awaitsDamageDecision());

    // Changes before the answer are kept, and nothing reaches the file.
    auto& context = controller.managedObjectContext();
    addProjectWithTimer(context, "Five");
    context.processPendingChanges();
    EXPECT_FALSE(controller.save());
    EXPECT_TRUE(controller.hasUnsavedChanges());
    EXPECT_EQ(readFile(store()), damaged);

    // Going on writes what was read, and those changes, to a sound file with the old permissions.
    ASSERT_TRUE(controller.continueWithDamagedStore()) << controller.statusMessage();
    EXPECT_FALSE(controller.awaitsDamageDecision());
    EXPECT_FALSE(controller.hasUnsavedChanges());
    EXPECT_EQ(controller.status(), PersistenceController::Status::ok);
    EXPECT_EQ(std::filesystem::status(store()).permissions(), permissions);
    expectFileHolds(store(), context);
    fetchAll<Project>(context).front()->setName(std::string("Renamed after"));
    context.processPendingChanges();
    EXPECT_FALSE(controller.hasUnsavedChanges());
    expectFileHolds(store(), context);
    EXPECT_EQ(readFile(damage.keptCopy), damaged);
}

TEST_F(StoreFailureTest, AStoreOpenedReadOnlyIsConnectedAnewOnceItIsWritable)
{
    {
        NotificationCenter center;
        PersistenceController controller(store(), center);
        addProjectWithTimer(controller.managedObjectContext(), "Stored");
        controller.managedObjectContext().processPendingChanges();
    }
    vfs_.openReadOnly(true);
    {
        // Read-only at launch, and nothing changed: the retry alone clears the failure.
        NotificationCenter center;
        PersistenceController controller(store(), center);
        ASSERT_TRUE(controller.storeIsOpen());
        EXPECT_EQ(controller.status(), PersistenceController::Status::saveFailed);
        EXPECT_EQ(controller.saveProblem(), Problem::readOnly);
        EXPECT_EQ(controller.failureEpisode(), 1);
        EXPECT_NE(controller.statusMessage().find("read-only"), std::string::npos);
        EXPECT_FALSE(controller.save());
        vfs_.openReadOnly(false);
        EXPECT_TRUE(controller.save());
        EXPECT_EQ(controller.status(), PersistenceController::Status::ok);
    }
    vfs_.openReadOnly(true);
    NotificationCenter center;
    PersistenceController controller(store(), center);
    auto& context = controller.managedObjectContext();
    addProjectWithTimer(context, "Made while read-only");
    context.processPendingChanges();
    EXPECT_EQ(controller.saveProblem(), Problem::readOnly);
    EXPECT_EQ(controller.failureEpisode(), 1); // still the episode of the launch
    EXPECT_TRUE(controller.hasUnsavedChanges());
    vfs_.openReadOnly(false);
    EXPECT_TRUE(controller.save());
    EXPECT_FALSE(controller.hasUnsavedChanges());
    expectFileHolds(store(), context);
    // The new connection keeps saving.
    fetchAll<Project>(context).front()->setName(std::string("Later"));
    context.processPendingChanges();
    EXPECT_EQ(controller.status(), PersistenceController::Status::ok);
    expectFileHolds(store(), context);
}

TEST_F(StoreFailureTest, ASaveWaitsForAReaderInsteadOfFailing)
{
    NotificationCenter center;
    PersistenceController controller(store(), center);
    auto& context = controller.managedObjectContext();
    addProjectWithTimer(context, "Before the reader");
    context.processPendingChanges();

    std::promise<void> reading;
    std::thread reader([path = store(), &reading] {
        sqlite3* db = nullptr;
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_exec(db, "BEGIN; SELECT count(*) FROM Timer;", nullptr, nullptr, nullptr);
        reading.set_value();
        std::this_thread::sleep_for(std::chrono::seconds(1));
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    });
    reading.get_future().wait();
    addProjectWithTimer(context, "While it reads");
    context.processPendingChanges();
    reader.join();
    EXPECT_EQ(controller.status(), PersistenceController::Status::ok) << controller.statusMessage();
    EXPECT_FALSE(controller.hasUnsavedChanges());
    expectFileHolds(store(), context);
}

TEST_F(StoreFailureTest, ALaunchDuringAShortExclusiveLockWaitsForIt)
{
    {
        NotificationCenter center;
        PersistenceController controller(store(), center);
        addProjectWithTimer(controller.managedObjectContext(), "Stored");
        controller.managedObjectContext().processPendingChanges();
    }
    std::promise<void> locked;
    std::thread holder([path = store(), &locked] {
        sqlite3* db = nullptr;
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
        locked.set_value();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    });
    locked.get_future().wait();
    NotificationCenter center;
    PersistenceController controller(store(), center);
    holder.join();
    EXPECT_EQ(controller.status(), PersistenceController::Status::ok) << controller.statusMessage();
    EXPECT_EQ(fetchAll<Project>(controller.managedObjectContext()).size(), 1u);
}

TEST_F(StoreFailureTest, ARemovedStoreFileIsWrittenAnewUnderTheSameIdentifier)
{
    NotificationCenter center;
    PersistenceController controller(store(), center);
    auto& context = controller.managedObjectContext();
    addProjectWithTimer(context, "Kept in memory");
    context.processPendingChanges();
    const std::string uri = fetchAll<Project>(context).front()->uriRepresentation();
    std::vector<std::string> messages;
    auto token = center.addObserver(PersistenceController::StoreFileRecreatedNotification, &controller,
                                    [&messages](const foundation::Notification& notice) {
                                        if (const auto* text = notice.info<std::string>("message"))
                                            messages.push_back(*text);
                                    });

    std::filesystem::remove_all(store().parent_path());
    addProjectWithTimer(context, "After the removal");
    context.processPendingChanges();
    EXPECT_EQ(controller.status(), PersistenceController::Status::ok) << controller.statusMessage();
    EXPECT_FALSE(controller.hasUnsavedChanges());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("removed"), std::string::npos);
    expectFileHolds(store(), context);
    EXPECT_EQ(controller.objectForURIRepresentation(uri), fetchAll<Project>(context).front());

    // The new file is the store from now on: later changes go to it, with its own lock.
    fetchAll<Project>(context).back()->setName(std::string("Renamed later"));
    context.processPendingChanges();
    EXPECT_FALSE(controller.hasUnsavedChanges());
    expectFileHolds(store(), context);
    NotificationCenter otherCenter;
    PersistenceController second(store(), otherCenter);
    EXPECT_EQ(second.status(), PersistenceController::Status::storeInUse);
}

TEST_F(StoreFailureTest, AReplacedStoreFileIsNeverWrittenOverAndTheChangesGoToARecoveryFile)
{
    NotificationCenter center;
    PersistenceController controller(store(), center);
    auto& context = controller.managedObjectContext();
    addProjectWithTimer(context, "Mine");
    context.processPendingChanges();

    // What a sync tool does: a file of its own renamed over the store.
    const auto incoming = store().parent_path() / ".incoming";
    std::filesystem::copy_file(store(), incoming);
    std::filesystem::rename(incoming, store());
    const std::string theirs = readFile(store());
    addProjectWithTimer(context, "Made after the replacement");
    context.processPendingChanges();
    EXPECT_EQ(controller.status(), PersistenceController::Status::saveFailed);
    EXPECT_EQ(controller.saveProblem(), Problem::replaced);
    EXPECT_TRUE(controller.hasUnsavedChanges());
    EXPECT_EQ(readFile(store()), theirs);
    const auto recovered = PersistenceController::recoveryFiles();
    ASSERT_EQ(recovered.size(), 1u);
    EXPECT_NE(controller.statusMessage().find(recovered[0].string()), std::string::npos) << controller.statusMessage();
    expectFileHolds(recovered[0], context);

    // Later changes of the episode bring the same recovery file up to date; the store stays theirs.
    fetchAll<Project>(context).front()->setName(std::string("Renamed later"));
    context.processPendingChanges();
    EXPECT_FALSE(controller.save());
    EXPECT_EQ(PersistenceController::recoveryFiles(), recovered);
    expectFileHolds(recovered[0], context);
    EXPECT_EQ(readFile(store()), theirs);
    EXPECT_EQ(controller.failureEpisode(), 1);
}

TEST(UserDirs, TheEnvironmentThenUserDirsThenDocumentsInHome)
{
    testsupport::TempFolder home("horavine-userdirs");
    const auto config = home.path() / "config";
    std::filesystem::create_directories(config);
    testsupport::ScopedEnvironment environment{{"HOME", home.path().string()},
                                               {"XDG_CONFIG_HOME", config.string()},
                                               {"XDG_DOCUMENTS_DIR", std::nullopt}};
    EXPECT_EQ(foundation::documentsFolder(), home.path() / "Documents");
    std::ofstream(config / "user-dirs.dirs") << "# written by the desktop\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n";
    EXPECT_EQ(foundation::documentsFolder(), home.path() / "Dokumente");
    EXPECT_EQ(PersistenceController::defaultStorePath(), home.path() / "Dokumente" / "Projects.horavine");
    testsupport::ScopedEnvironment variable{{"XDG_DOCUMENTS_DIR", "/srv/documents"}};
    EXPECT_EQ(foundation::documentsFolder(), std::filesystem::path("/srv/documents"));
}

TEST_F(StoreFailureTest, ARemovedStoreFileIsWrittenAnewAtTheNextSaveEvenWithoutChanges)
{
    NotificationCenter center;
    PersistenceController controller(store(), center);
    auto& context = controller.managedObjectContext();
    addProjectWithTimer(context, "Only in memory once the file is gone");
    context.processPendingChanges();
    std::filesystem::remove(store());
    ASSERT_FALSE(controller.hasUnsavedChanges());
    EXPECT_TRUE(controller.save()); // as at quitting
    ASSERT_TRUE(std::filesystem::exists(store()));
    expectFileHolds(store(), context);
}

TEST_F(StoreFailureTest, ACopyOfADamagedStoreCutShortIsNotLeftToPassForTheOriginal)
{
    {
        NotificationCenter center;
        PersistenceController controller(store(), center);
        for (const char* name : {"One", "Two", "Three"})
            addProjectWithTimer(controller.managedObjectContext(), name);
        controller.managedObjectContext().processPendingChanges();
    }
    ASSERT_TRUE(testsupport::flipKeyBitOfSecondRow(store(), "Project"));
    ASSERT_GT(std::filesystem::file_size(store()), 4096u);
    NotificationCenter center;
    std::optional<PersistenceController::StoreDamage> damage;
    {
        const testsupport::ScopedFileSizeLimit fullDisk(4096); // the copy stops after its first page
        damage = PersistenceController(store(), center).damage();
    }
    ASSERT_TRUE(damage.has_value());
    EXPECT_TRUE(damage->keptCopy.empty());
    EXPECT_FALSE(damage->copyProblem.empty());
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(store().parent_path()))
        files.push_back(entry.path());
    EXPECT_EQ(files, std::vector<std::filesystem::path>{store()});
}
