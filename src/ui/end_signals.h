#pragma once
// The system asks the station to end (SIGTERM, SIGHUP when its terminal goes, SIGINT): the
// request reaches the window's event loop instead of ending the process on the spot, so that
// a run's jobs can go on record first. The handler only writes a byte to a pipe, which a socket
// notifier watches (end_signals_posix.cpp). One at a time.
#include <QObject>
#include <memory>

class QSocketNotifier;

class EndSignals : public QObject {
    Q_OBJECT

public:
    explicit EndSignals(QObject* parent = nullptr);
    // Puts the previous handlers back.
    ~EndSignals() override;

signals:
    // On the window's thread, once per burst of signals.
    void Received();

private:
    std::unique_ptr<QSocketNotifier> notifier_;
};
