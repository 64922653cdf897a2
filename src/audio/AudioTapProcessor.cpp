#include "audio/AudioTapProcessor.h"

AudioTapProcessor::AudioTapProcessor(std::shared_ptr<RingBuffer> ringBuffer,
                                     std::function<void()> statusChanged)
    : m_ringBuffer(std::move(ringBuffer)), m_status(std::move(statusChanged))
{
}

void AudioTapProcessor::process(const AudioBlock& block) noexcept
{
    if (m_stopped.load(std::memory_order_acquire))
        return;
    m_writer.write(block, *m_ringBuffer);
}
