#pragma once

#include <atomic>
#include <functional>

// How one capture stream is doing, as the audio thread found it; read on the
// main thread. Lock-free, so the audio thread can report without blocking.
class StreamStatus {
public:
    enum class State { starting, running, failed };

    // `changed` runs on the reporting thread after every change; it must not
    // block or allocate (the engine's wakes the main thread).
    explicit StreamStatus(std::function<void()> changed) : m_changed(std::move(changed)) {}

    // Audio thread (one at a time). Ignored unless still starting.
    void markRunning(double sampleRate) noexcept
    {
        if (m_state.load(std::memory_order_relaxed) != State::starting)
            return;
        m_sampleRate.store(sampleRate, std::memory_order_relaxed);
        State expected = State::starting;
        // Release: the rate is visible before the state that announces it.
        if (m_state.compare_exchange_strong(expected, State::running, std::memory_order_release))
            notify();
    }

    // Any thread. `reason` must be static text. The first failure wins.
    void markFailed(const char* reason) noexcept
    {
        const char* none = nullptr;
        if (!m_reason.compare_exchange_strong(none, reason, std::memory_order_relaxed))
            return;
        // Release: the reason is visible before the state that announces it.
        m_state.store(State::failed, std::memory_order_release);
        notify();
    }

    // Acquire: pairs with the release stores above.
    State state() const noexcept { return m_state.load(std::memory_order_acquire); }
    double sampleRate() const noexcept { return m_sampleRate.load(std::memory_order_relaxed); }
    const char* failureReason() const noexcept { return m_reason.load(std::memory_order_relaxed); }

private:
    void notify() noexcept
    {
        if (m_changed)
            m_changed();
    }

    std::atomic<State> m_state{State::starting};
    std::atomic<double> m_sampleRate{0.0};
    std::atomic<const char*> m_reason{nullptr};
    const std::function<void()> m_changed;
};
