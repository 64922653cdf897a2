#include "audio/MainThreadWakeup.h"

#include <QSocketNotifier>
#include <QTimer>

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

MainThreadWakeup::MainThreadWakeup(QObject* parent) : QObject(parent)
{
    m_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_fd >= 0) {
        auto* notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, &MainThreadWakeup::drain);
    } else {
        // Out of file descriptors: look every 50 ms instead; the listeners
        // only read state, so a wake without news is harmless.
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, &MainThreadWakeup::woken);
        timer->start(50);
    }
}

MainThreadWakeup::~MainThreadWakeup()
{
    qDeleteAll(findChildren<QSocketNotifier*>());  // before the descriptor goes
    if (m_fd >= 0)
        ::close(m_fd);
}

void MainThreadWakeup::poke() noexcept
{
    if (m_fd < 0)
        return;
    const uint64_t one = 1;
    // A full counter (EAGAIN) already means "wake up"; nothing is lost.
    [[maybe_unused]] const ssize_t written = ::write(m_fd, &one, sizeof one);
}

void MainThreadWakeup::drain()
{
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = ::read(m_fd, &count, sizeof count);
    emit woken();
}
