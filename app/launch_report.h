// Optional timing lines on stderr for the end-to-end check and the start-up benchmark:
// HORAVINE_REPORT_STARTUP=1 prints the time from process start to the main window's first paint
// and to the store being in the main window (which may come later: the store loads while the window
// shows), and a line when another launch has the main window raised;
// HORAVINE_LOG_REFRESH=1 prints one line per refresh notice. Both are off unless set.
#pragma once

#include "foundation/notification_center.h"

#include <QObject>
#include <QPointer>

class QWidget;

namespace app {

class LaunchReport : public QObject {
    Q_OBJECT
public:
    // Reads the environment; does nothing when neither variable is set.
    LaunchReport();

    // Reports the first paint of `mainWindow`, when asked to.
    void watchMainWindow(QWidget& mainWindow);

    // Reports the first paint of `content`, the window's content made over the loaded store, when
    // asked to.
    void watchStoreInWindow(QWidget& content);
    // Reports that another launch had the main window raised, when asked to.
    void reportReopen() const;

    // Seconds since the kernel started this process.
    static double secondsSinceProcessStart();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool reportStartup_ = false;
    QPointer<QWidget> mainWindow_;
    QPointer<QWidget> content_;
    foundation::ObserverToken refreshToken_;
};

} // namespace app
