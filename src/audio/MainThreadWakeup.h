#pragma once

#include <QObject>

// Lets an audio thread wake the main thread without a lock, an allocation or
// a Qt call: poke() bumps an eventfd counter, and the main thread's event loop
// emits woken() once for any number of pokes since the last wake.
class MainThreadWakeup : public QObject {
    Q_OBJECT

public:
    explicit MainThreadWakeup(QObject* parent = nullptr);
    ~MainThreadWakeup() override;

    // Any thread. Async-signal-safe.
    void poke() noexcept;

signals:
    void woken();

private:
    void drain();

    int m_fd = -1;
};
