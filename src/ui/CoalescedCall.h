#pragma once

#include <QObject>

#include <functional>
#include <utility>

// A call made once, queued on the owner's thread, for any number of requests
// before the event loop gets to it: a burst of notifications in one turn (a
// preset sets 18 values) makes one update, which reads the stored values.
// Main thread (the owner's) only; a call still queued dies with the owner.
class CoalescedCall {
public:
    CoalescedCall(QObject* owner, std::function<void()> call) : m_owner(owner), m_call(std::move(call)) {}
    CoalescedCall(const CoalescedCall&) = delete;
    CoalescedCall& operator=(const CoalescedCall&) = delete;

    void request()
    {
        if (m_pending)
            return;
        m_pending = true;
        QMetaObject::invokeMethod(m_owner, [this] {
            m_pending = false;
            m_call();
        }, Qt::QueuedConnection);
    }

private:
    QObject* m_owner;
    std::function<void()> m_call;
    bool m_pending = false;
};
