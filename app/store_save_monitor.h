// Carries the store's save failures to the user: one window-modal warning per failure episode with
// the cause in plain words, the "Not saved" mark while the episode lasts, the retries on its own with
// back-off (besides the save at every change), the notice that a removed store file was written anew,
// and at launch the question what to do with a store found damaged and the notice of recovery files
// an earlier run left of this store.
#pragma once

#include "foundation/notification_center.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <functional>

class QWidget;

namespace model {
class PersistenceController;
}

namespace app {

class StoreSaveMonitor : public QObject {
    Q_OBJECT
public:
    // Receives the mark to show, or an empty text when everything is saved.
    using MarkSetter = std::function<void(const QString& mark)>;

    // `window` (borrowed) carries the alerts; a window closed meanwhile means no alert, the mark stays.
    StoreSaveMonitor(model::PersistenceController& persistenceController, QWidget* window, MarkSetter setMark,
                     QObject* parent = nullptr);

    // Quit chosen over a damaged store (default: QCoreApplication::quit()).
    void setQuit(std::function<void()> quit) { quit_ = std::move(quit); }
    // Shows a file selected in the file manager (default: ui::revealInFileManager).
    void setReveal(std::function<void(const QUrl& file)> reveal) { reveal_ = std::move(reveal); }

    // After the main window is up: asks what to do with a store found damaged (Continue writes it
    // anew from what was read, Quit quits; nothing is written before the answer), tells of this
    // store's recovery files of earlier runs, then of a store that opened read-only, then follows
    // every save.
    void start();

    static QString notSavedMark();
    const QTimer& retryTimer() const { return retryTimer_; }
    // The episode the user was last warned of (0: none yet).
    int warnedEpisode() const { return warnedEpisode_; }

private:
    void askAboutDamage();
    void tellOfRecoveryFiles();
    void saveStatusDidChange();
    void warn();

    model::PersistenceController& persistenceController_;
    QPointer<QWidget> window_;
    MarkSetter setMark_;
    std::function<void()> quit_;
    std::function<void(const QUrl& file)> reveal_;
    QTimer retryTimer_;
    int warnedEpisode_ = 0;
    foundation::ObserverToken statusToken_;
    foundation::ObserverToken recreatedToken_;
};

} // namespace app
