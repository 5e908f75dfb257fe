// The save-failure warning, the "Not saved" mark and the retry timer.
#include "app/store_save_monitor.h"

#include "model/persistence_controller.h"
#include "ui/alerts.h"

#include <QWidget>

namespace app {

StoreSaveMonitor::StoreSaveMonitor(model::PersistenceController& persistenceController, QWidget* window,
                                   MarkSetter setMark, QObject* parent)
    : QObject(parent), persistenceController_(persistenceController), window_(window), setMark_(std::move(setMark))
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
    const auto recovered = model::PersistenceController::recoveryFiles();
    if (!recovered.empty() && window_) {
        QStringList names;
        for (const auto& file : recovered)
            names << QString::fromStdString(file.string());
        ui::Alert{ui::AlertStyle::informational,
                  recovered.size() == 1 ? tr("A recovery file exists") : tr("Recovery files exist"),
                  tr("%1\n\nIt holds the projects and timers of an earlier run that could not be saved to the "
                     "store. It opens like any store: to use it, quit Horavine and put it in place of %2. "
                     "Horavine tells you of it at every launch until you move or delete it.")
                      .arg(names.join(QStringLiteral("\n")),
                           QString::fromStdString(persistenceController_.storePath().string())),
                  {}}
            .beginSheetModal(*window_, [this](ui::ModalResponse) { saveStatusDidChange(); });
        return; // the state of the store follows once the notice is read
    }
    saveStatusDidChange();
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
