// Opening the store, saving on every change notice, and the look-ups the views use.
#include "model/persistence_controller.h"

#include "model/data_model.h"
#include "model/pasteboard_types.h"

#include "foundation/diagnostics.h"
#include "foundation/user_dirs.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <stop_token>
#include <system_error>
#include <thread>

namespace model {

namespace {

constexpr std::chrono::milliseconds firstRetryDelay{2000};
constexpr std::chrono::milliseconds longestRetryDelay{60000};

const char* describe(PersistenceController::SaveProblem problem)
{
    using Problem = PersistenceController::SaveProblem;
    switch (problem) {
    case Problem::none: return "no problem";
    case Problem::diskFull: return "the disk is full";
    case Problem::readOnly: return "the file is read-only";
    case Problem::inUse: return "another program is using the file";
    case Problem::removed: return "the file was removed";
    case Problem::replaced: return "the file was replaced by another file";
    case Problem::ioError: return "the disk reported an input/output error";
    }
    return "an unknown problem";
}

PersistenceController::SaveProblem problemOf(data::SqliteStore::WriteProblem problem)
{
    using Write = data::SqliteStore::WriteProblem;
    using Problem = PersistenceController::SaveProblem;
    switch (problem) {
    case Write::diskFull: return Problem::diskFull;
    case Write::readOnly: return Problem::readOnly;
    case Write::busy: return Problem::inUse;
    case Write::none:
    case Write::ioError: break;
    }
    return Problem::ioError;
}

std::string utcNameStamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H.%M.%S UTC", &utc);
    return text;
}

// Copies the damaged store file, as it is, to "<name> (damaged <UTC date and time>)<extension>" beside
// it; never over an existing file.
void keepCopyOfDamagedStore(const std::filesystem::path& storePath, PersistenceController::StoreDamage& damage)
{
    const std::string stem = storePath.stem().string() + " (damaged " + utcNameStamp() + ")";
    const std::string extension = storePath.extension().string();
    std::filesystem::path copy = storePath.parent_path() / (stem + extension);
    std::error_code ec;
    for (int n = 2; std::filesystem::exists(copy, ec); ++n)
        copy = storePath.parent_path() / (stem + " " + std::to_string(n) + extension);
    if (std::filesystem::copy_file(storePath, copy, std::filesystem::copy_options::none, ec)) {
        damage.keptCopy = copy;
        return;
    }
    damage.copyProblem = ec.message();
    // A copy cut short (a full disk) would pass for the kept original: none is left.
    if (ec != std::errc::file_exists) {
        std::error_code ignored;
        std::filesystem::remove(copy, ignored);
    }
}

std::string describeDamage(const std::filesystem::path& storePath, const PersistenceController::StoreDamage& damage)
{
    std::string text = "the store " + storePath.string() + " is damaged:";
    if (!damage.integrityProblem.empty())
        text += " its structure check failed (" + damage.integrityProblem + ");";
    if (damage.unreadableValues > 0)
        text += " " + std::to_string(damage.unreadableValues) + " stored values could not be read;";
    if (damage.danglingReferences > 0)
        text += " " + std::to_string(damage.danglingReferences) + " references point to missing objects;";
    text.back() = '.';
    text += damage.keptCopy.empty() ? " No copy of it could be kept (" + damage.copyProblem + ")."
                                    : " A copy of it as it was is kept at " + damage.keptCopy.string() + ".";
    return text + " Nothing is written to it until you choose to go on.";
}

} // namespace

std::filesystem::path PersistenceController::defaultStorePath()
{
    return foundation::documentsFolder() / "Projects.horavine";
}

std::filesystem::path PersistenceController::recoveryFolder()
{
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/')
        return std::filesystem::path(data) / "horavine";
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::filesystem::path(home) / ".local" / "share" / "horavine";
    return std::filesystem::current_path() / "horavine";
}

std::vector<std::filesystem::path> PersistenceController::recoveryFiles()
{
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (std::filesystem::directory_iterator entry(recoveryFolder(), ec), end; !ec && entry != end;
         entry.increment(ec)) {
        const std::string name = entry->path().filename().string();
        if (name.rfind("Recovered ", 0) == 0 && entry->path().extension() == ".horavine")
            files.push_back(entry->path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

PersistenceController::OpenedStore PersistenceController::openStore(std::filesystem::path storePath)
{
    OpenedStore opened{std::move(storePath), nullptr, Status::ok, {}};
    data::StoreError error{};
    opened.store = data::SqliteStore::open(opened.storePath, managedObjectModel(), storeOptions(), &error);
    if (!opened.store) {
        opened.status = error.code == data::StoreError::Code::locked ? Status::storeInUse : Status::cannotOpen;
        opened.message = error.message;
    }
    return opened;
}

PersistenceController::LoadedStore PersistenceController::loadStore(OpenedStore opened,
                                                                    foundation::NotificationCenter& center)
{
    LoadedStore loaded{std::move(opened.storePath), std::make_unique<data::ObjectContext>(managedObjectModel(), center),
                       opened.status, std::move(opened.message), std::nullopt};
    if (!opened.store)
        return loaded;
    // The check reads the whole file; it runs beside the load, on a connection of its own, and on
    // the store's connection after the load where no thread or connection was to be had.
    std::optional<std::string> integrityProblem;
    bool checked = false;
    const std::stop_token stop = opened.store->stopToken();
    std::thread checker;
    try {
        checker = std::thread([&integrityProblem, &checked, path = opened.store->path(),
                               busyTimeout = opened.store->options().busyTimeoutMilliseconds, stop] {
            checked = data::SqliteStore::quickCheckOnOwnConnection(path, busyTimeout, integrityProblem, stop);
        });
    } catch (const std::system_error&) {
        // No thread to be had: checked after the load.
    }
    struct Joiner {
        std::thread& thread;
        ~Joiner()
        {
            if (thread.joinable())
                thread.join();
        }
    } joiner{checker}; // also when the load fails or throws
    // A stopped load failed for no fault of the file: nothing is checked further or called damaged.
    const auto stopped = [&] {
        if (!stop.stop_requested())
            return false;
        loaded.status = Status::cannotOpen;
        loaded.message = "The load of the store " + loaded.storePath.string() + " was stopped before it ended.";
        return true;
    };
    if (!loaded.context->attachStore(std::move(opened.store), loaded.message)) {
        stopped();
        loaded.status = Status::cannotOpen;
        return loaded;
    }
    if (checker.joinable())
        checker.join();
    if (stopped())
        return loaded;
    if (!checked)
        integrityProblem = loaded.context->store()->quickCheck();
    if (stopped())
        return loaded;
    const data::ObjectContext::LoadReport& report = loaded.context->loadReport();
    if (integrityProblem || report.unreadableValues > 0 || report.danglingReferences > 0) {
        StoreDamage damage{integrityProblem.value_or(""), report.unreadableValues, report.danglingReferences, {}, {}};
        keepCopyOfDamagedStore(loaded.storePath, damage);
        foundation::diagnostic(describeDamage(loaded.storePath, damage));
        loaded.damage = std::move(damage);
    }
    return loaded;
}

PersistenceController::PersistenceController(std::filesystem::path storePath, foundation::NotificationCenter& center)
    : PersistenceController(loadStore(openStore(std::move(storePath)), center))
{}

PersistenceController::PersistenceController(LoadedStore loaded)
    : storePath_(std::move(loaded.storePath)), center_(loaded.context->notificationCenter()),
      context_(std::move(loaded.context)), damage_(std::move(loaded.damage))
{
    if (damage_ && loaded.status == Status::ok) {
        damageState_ = DamageState::awaitingDecision;
        statusMessage_ = describeDamage(storePath_, *damage_);
    }
    if (loaded.status != Status::ok) {
        reportFailure(loaded.status, loaded.message);
    } else if (context_->store()->isReadOnly()) {
        failSave(SaveProblem::readOnly, "The store " + storePath_.string()
                                            + " can only be read: the file is read-only. Changes are kept and saved "
                                              "as soon as the file can be written.");
    }
    changeToken_ = center_.addObserver(data::ObjectsDidChangeNotification, context_.get(),
                                       [this](const foundation::Notification&) {
                                           changedSinceRecoveryFile_ = true;
                                           save();
                                       });
}

PersistenceController::~PersistenceController() = default;

void PersistenceController::setSaveHooks(std::function<void()> beforeSave, std::function<void()> afterSave)
{
    beforeSave_ = std::move(beforeSave);
    afterSave_ = std::move(afterSave);
}

std::chrono::milliseconds PersistenceController::retryDelay() const
{
    const int doublings = std::clamp(failuresInEpisode_ - 1, 0, 6);
    return std::min(firstRetryDelay * (1 << doublings), longestRetryDelay);
}

bool PersistenceController::save()
{
    return save(false);
}

bool PersistenceController::saveWithEditInProgress()
{
    return save(true);
}

bool PersistenceController::save(bool editInProgressCounts)
{
    if (!storeIsOpen() || damageState_ == DamageState::awaitingDecision)
        return !context_
                    ->hasUnsavedChanges(); // nothing may be written over that file (the failure or the damage was told)
    const bool committedFirst = editInProgressCounts && beforeSave_;
    if (committedFirst)
        beforeSave_();
    const bool changes = context_->hasUnsavedChanges();
    // Without changes only a removed file (the next launch would find no store), or one to write anew,
    // needs writing.
    if (!changes && status_ != Status::saveFailed && damageState_ == DamageState::none
        && context_->store()->fileState() != data::SqliteStore::FileState::removed) {
        if (committedFirst && afterSave_)
            afterSave_();
        return true;
    }
    if (beforeSave_ && !committedFirst)
        beforeSave_();
    const bool saved = saveToStore();
    if (afterSave_)
        afterSave_();
    return saved;
}

bool PersistenceController::saveToStore()
{
    data::SqliteStore& store = *context_->store();
    switch (store.fileState()) {
    case data::SqliteStore::FileState::removed: damageState_ = DamageState::none; return recreateRemovedStore();
    case data::SqliteStore::FileState::replaced: return keepChangesOfReplacedStore();
    case data::SqliteStore::FileState::same: break;
    }
    if (store.isReadOnly()) {
        if (std::string why; !store.reopen(why))
            return failSave(SaveProblem::readOnly, couldNotSave(SaveProblem::readOnly, why));
    }
    if (damageState_ == DamageState::rewritePending)
        return rewriteDamagedStore();
    if (const foundation::Status saved = context_->save(); !saved.isOk()) {
        const SaveProblem problem = problemOf(store.lastWriteProblem());
        return failSave(problem, couldNotSave(problem, saved.message()));
    }
    saveSucceeded();
    return true;
}

std::string PersistenceController::couldNotSave(SaveProblem problem, const std::string& detail) const
{
    return "Your changes could not be saved to " + storePath_.string() + ": " + describe(problem) + " (" + detail
           + "). They are kept and saved as soon as the store can be written again.";
}

void PersistenceController::beginFailureEpisode()
{
    if (inFailureEpisode_)
        return;
    inFailureEpisode_ = true;
    ++failureEpisode_;
    failuresInEpisode_ = 0;
    recoveryFile_.reset();
}

bool PersistenceController::failSave(SaveProblem problem, const std::string& message)
{
    beginFailureEpisode();
    ++failuresInEpisode_;
    saveProblem_ = problem;
    reportFailure(Status::saveFailed, message);
    center_.post(SaveStatusDidChangeNotification, this);
    return false;
}

void PersistenceController::saveSucceeded()
{
    if (!inFailureEpisode_)
        return;
    inFailureEpisode_ = false;
    status_ = Status::ok;
    statusMessage_.clear();
    saveProblem_ = SaveProblem::none;
    failuresInEpisode_ = 0;
    recoveryFile_.reset();
    foundation::diagnostic("the store " + storePath_.string() + " is saved again");
    center_.post(SaveStatusDidChangeNotification, this);
}

bool PersistenceController::recreateRemovedStore()
{
    if (const foundation::Status recreated = context_->recreateStore(); !recreated.isOk())
        return failSave(SaveProblem::removed, couldNotSave(SaveProblem::removed, recreated.message()));
    saveSucceeded();
    const std::string message =
        "The store file " + storePath_.string()
        + " was removed while Horavine was running. Everything Horavine had open was written to it anew.";
    foundation::diagnostic(message);
    center_.post(StoreFileRecreatedNotification, this, {{"message", message}});
    return true;
}

bool PersistenceController::continueWithDamagedStore()
{
    if (damageState_ != DamageState::awaitingDecision)
        return damageState_ == DamageState::none;
    damageState_ = DamageState::rewritePending;
    if (status_ == Status::ok)
        statusMessage_.clear();
    return save();
}

bool PersistenceController::rewriteDamagedStore()
{
    // Writing into a damaged file may spread the damage: the file is made anew from what was read.
    if (const foundation::Status rewritten = context_->rewriteStore(); !rewritten.isOk())
        return failSave(SaveProblem::ioError, couldNotSave(SaveProblem::ioError, rewritten.message()));
    damageState_ = DamageState::none;
    foundation::diagnostic("the store " + storePath_.string() + " was written anew from what could be read of it");
    saveSucceeded();
    return true;
}

bool PersistenceController::keepChangesOfReplacedStore()
{
    beginFailureEpisode();
    std::string message =
        "The store file " + storePath_.string()
        + " was replaced by another file while Horavine was running; Horavine does not write over that file. ";
    foundation::Result<std::filesystem::path> written = recoveryFile_ && !changedSinceRecoveryFile_
                                                            ? foundation::Result<std::filesystem::path>(*recoveryFile_)
                                                            : writeRecoveryFile();
    if (written.hasValue())
        message += "Your projects and timers were written to " + written->string() + ".";
    else
        message +=
            "Writing them to a recovery file failed too (" + written.status().message() + "); they are kept in memory.";
    return failSave(SaveProblem::replaced, message);
}

namespace {

constexpr auto ownerOnly = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;

std::string canonicalText(const std::filesystem::path& path)
{
    std::error_code ec;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(path, ec);
    return (ec ? path : canonical).string();
}

} // namespace

foundation::Status PersistenceController::writeCopy(const std::filesystem::path& path) const
{
    return context_->writeCopy(path, {.replaceExisting = true, .permissions = ownerOnly, .metadata = {}});
}

std::vector<std::filesystem::path> PersistenceController::recoveryFilesOfThisStore() const
{
    const std::string storeText = canonicalText(storePath_);
    std::vector<std::filesystem::path> files;
    for (const std::filesystem::path& file : recoveryFiles()) {
        const auto metadata = data::SqliteStore::readMetadata(file);
        if (!metadata)
            continue;
        const auto valueOf = [&metadata](std::string_view key) -> std::optional<std::string> {
            for (const auto& [rowKey, value] : *metadata)
                if (rowKey == key)
                    return value;
            return std::nullopt;
        };
        const std::optional<std::string> recoveredFrom = valueOf(recoveredFromKey);
        if (recoveredFrom ? *recoveredFrom == storeText : valueOf("uuid") == context_->storeIdentifier())
            files.push_back(file);
    }
    return files;
}

foundation::Result<std::filesystem::path> PersistenceController::writeRecoveryFile()
{
    std::filesystem::path path;
    if (recoveryFile_) {
        path = *recoveryFile_;
    } else {
        const std::filesystem::path folder = recoveryFolder();
        const std::string stem = "Recovered " + utcNameStamp();
        path = folder / (stem + ".horavine");
        std::error_code ec;
        for (int n = 2; std::filesystem::exists(path, ec); ++n)
            path = folder / (stem + " " + std::to_string(n) + ".horavine");
    }
    const data::ObjectContext::CopyOptions options{.replaceExisting = true,
                                                   .permissions = ownerOnly,
                                                   .metadata = {{recoveredFromKey, canonicalText(storePath_)}}};
    if (foundation::Status written = context_->writeCopy(path, options); !written.isOk())
        return written;
    recoveryFile_ = path;
    changedSinceRecoveryFile_ = false;
    return path;
}

void PersistenceController::reportFailure(Status status, const std::string& message)
{
    // One line per distinct problem, not one per retry.
    if (status != status_ || message != statusMessage_)
        foundation::diagnostic(message);
    status_ = status;
    statusMessage_ = message;
}

std::vector<data::Object*> PersistenceController::fetch(const data::EntityDescription& entity,
                                                        const data::Predicate& predicate,
                                                        const std::vector<data::SortDescriptor>& sort)
{
    return context_->fetch(entity, predicate, sort);
}

void PersistenceController::deleteObjects(const std::vector<data::Object*>& objects)
{
    for (data::Object* object : objects)
        context_->deleteObject(object);
}

data::Object* PersistenceController::objectForURIRepresentation(std::string_view uri) const
{
    return context_->objectWithURI(uri);
}

data::Object* PersistenceController::draggedObject(
    const std::function<std::optional<std::string>(std::string_view type)>& pasteboard) const
{
    return model::draggedObject(*context_, pasteboard);
}

data::Object* draggedObject(const data::ObjectContext& context,
                            const std::function<std::optional<std::string>(std::string_view type)>& pasteboard)
{
    for (const char* type : {PasteboardTypes::project, PasteboardTypes::timer, PasteboardTypes::client}) {
        if (auto text = pasteboard(type))
            return context.objectWithURI(*text);
    }
    return nullptr;
}

} // namespace model
