#include "device_watcher.h"

#include <QSocketNotifier>

DeviceWatcher::DeviceWatcher(Options options, QObject* parent)
    : QObject(parent), watch_(std::move(options)) {
    watch_.SetSink([this](const DeviceEvent& e) {
        if (e.arrived) {
            emit DeviceArrived(QString::fromStdString(e.name));
        } else {
            emit DeviceRemoved(QString::fromStdString(e.name));
        }
    });
    connect(&timer_, &QTimer::timeout, this, [this] { watch_.Rescan(); });
}

DeviceWatcher::~DeviceWatcher() {
    Stop();
}

void DeviceWatcher::Stop() {
    timer_.stop();
    // The notifier goes before the monitor whose socket it watches.
    notifier_.reset();
    watch_.Stop();
}

DeviceWatcher::Mode DeviceWatcher::Start() {
    Stop();
    const Mode mode = watch_.Start();
    if (mode == Mode::Udev) {
        notifier_ = std::make_unique<QSocketNotifier>(watch_.PollFd(), QSocketNotifier::Read);
        connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { watch_.Poll(); });
    } else if (mode == Mode::Polling) {
        timer_.start(watch_.options().interval);
    }
    return mode;
}
