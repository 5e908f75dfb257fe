// The save-failure warning, the "Not saved" mark, the retry timer and the notices at launch.
#include "app/store_save_monitor.h"

#include "model/persistence_controller.h"
#include "ui/alerts.h"
#include "ui/desktop_services.h"

#include <QCoreApplication>
#include <QWidget>

namespace app {

StoreSaveMonitor::StoreSaveMonitor(model::PersistenceController& persistenceController, QWidget* window,
                                   MarkSetter setMark, QObject* parent)
    : QObject(parent), persistenceController_(persistenceController), window_(window), setMark_(std::move(setMark)),
      quit_([] { QCoreApplication::quit(); }), reveal_([](const QUrl& file) { ui::revealInFileManager(file); })
{
    retryTimer_.setSingleShot(true);
    connect(&retryTimer_, &QTimer::timeout, this, [this] { persistenceController_.save(); });
}

QString StoreSaveMonitor::notSavedMark()
{
    return tr("Not saved");
}

void StoreSaveMonitor::start()
{
    auto& center = persistenceController_.managedObjectContext().notificationCenter();
    statusToken_ =
        center.addObserver(model::PersistenceController::SaveStatusDidChangeNotification, &persistenceController_,
                           [this](const foundation::Notification&) { saveStatusDidChange(); });
    recreatedToken_ = center.addObserver(model::PersistenceController::StoreFileRecreatedNotification,
                                         &persistenceController_, [this](const foundation::Notification& notice) {
                                             const std::string* message = notice.info<std::string>("message");
                                             if (window_ && message)
                                                 ui::Alert{ui::AlertStyle::informational,
                                                           tr("Horavine wrote its store file anew"),
                                                           QString::fromStdString(*message),
                                                           {}}
                                                     .beginSheetModal(*window_, [](ui::ModalResponse) {});
                                         });
    if (persistenceController_.awaitsDamageDecision() && window_)
        askAboutDamage();
    else
        tellOfRecoveryFiles();
}

void StoreSaveMonitor::askAboutDamage()
{
    const model::PersistenceController::StoreDamage& damage = *persistenceController_.damage();
    const QString store = QString::fromStdString(persistenceController_.storePath().string());
    QStringList found;
    if (!damage.integrityProblem.empty())
        found << tr("Its structure check failed: %1.").arg(QString::fromStdString(damage.integrityProblem));
    if (damage.unreadableValues > 0)
        found << (damage.unreadableValues == 1
                      ? tr("1 stored value could not be read and shows as empty.")
                      : tr("%1 stored values could not be read and show as empty.").arg(damage.unreadableValues));
    if (damage.danglingReferences > 0)
        found << (damage.danglingReferences == 1
                      ? tr("1 reference to a missing project, client or timer was left empty.")
                      : tr("%1 references to missing projects, clients or timers were left empty.")
                            .arg(damage.danglingReferences));
    found
        << (damage.keptCopy.empty()
                ? tr("No copy of the damaged file could be kept (%1).").arg(QString::fromStdString(damage.copyProblem))
                : tr("A copy of the file as it is now is kept at %1.")
                      .arg(QString::fromStdString(damage.keptCopy.string())));
    ui::Alert{ui::AlertStyle::critical,
              tr("The projects file %1 is damaged").arg(store),
              tr("%1\n\nHoravine shows what it could read, and has written nothing to the file. Continue writes "
                 "what you see to a new file in its place; Quit leaves the file as it is.")
                  .arg(found.join(QStringLiteral("\n"))),
              {tr("Continue"), tr("Quit")}}
        .beginSheetModal(*window_, [this](ui::ModalResponse response) {
            if (response == ui::alertFirstButtonReturn) {
                persistenceController_.continueWithDamagedStore();
                tellOfRecoveryFiles();
            } else if (response == ui::alertSecondButtonReturn) {
                quit_();
            }
            // Closed without an answer (its window went away): nothing is written until a quit.
        });
}

void StoreSaveMonitor::tellOfRecoveryFiles()
{
    const auto recovered = persistenceController_.recoveryFilesOfThisStore();
    if (recovered.empty() || !window_) {
        saveStatusDidChange();
        return;
    }
    QStringList names;
    for (const auto& file : recovered)
        names << QString::fromStdString(file.string());
    ui::Alert{
        ui::AlertStyle::informational,
        recovered.size() == 1 ? tr("A recovery file exists") : tr("Recovery files exist"),
        tr("%1\n\nIt holds the projects and timers of an earlier run that could not be saved to the "
           "store. It opens like any store: to use it, quit Horavine and put it in place of %2. "
           "Horavine tells you of it at every launch until you move or delete it.")
            .arg(names.join(QStringLiteral("\n")), QString::fromStdString(persistenceController_.storePath().string())),
        {tr("OK"), tr("Show in File Manager")}}
        .beginSheetModal(*window_, [this, recovered](ui::ModalResponse response) {
            if (response == ui::alertSecondButtonReturn)
                for (const auto& file : recovered)
                    reveal_(QUrl::fromLocalFile(QString::fromStdString(file.string())));
            saveStatusDidChange(); // the state of the store follows once the notice is read
        });
}

void StoreSaveMonitor::saveStatusDidChange()
{
    if (persistenceController_.status() != model::PersistenceController::Status::saveFailed) {
        retryTimer_.stop();
        setMark_(QString());
        return;
    }
    setMark_(notSavedMark());
    retryTimer_.start(persistenceController_.retryDelay());
    if (warnedEpisode_ != persistenceController_.failureEpisode())
        warn();
}

void StoreSaveMonitor::warn()
{
    warnedEpisode_ = persistenceController_.failureEpisode();
    if (!window_)
        return;
    ui::Alert{ui::AlertStyle::warning,
              tr("Your changes are not saved"),
              QString::fromStdString(persistenceController_.statusMessage()),
              {}}
        .beginSheetModal(*window_, [](ui::ModalResponse) {});
}

} // namespace app
