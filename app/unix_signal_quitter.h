// Turns SIGTERM, SIGINT and SIGHUP into a normal quit of the event loop, so that the store is saved
// as at any other quit. The signal handler only writes to a pipe; the event loop does the rest.
#pragma once

#include <QObject>

#include <initializer_list>
#include <memory>

class QSocketNotifier;

namespace app {

class UnixSignalQuitter : public QObject {
    Q_OBJECT
public:
    explicit UnixSignalQuitter(std::initializer_list<int> signalNumbers, QObject* parent = nullptr);
    ~UnixSignalQuitter() override;

signals:
    void signalReceived(int signalNumber);

private:
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace app
