#pragma once

#include <QHashFunctions>
#include <QMetaType>
#include <QString>

#include <cstdint>
#include <functional>

// One selectable audio source: an input device, or the synthetic whole-system
// entry. Identity in lists is `id`; equality compares every field.
struct AudioDeviceInfo {
    // 0 never names a device: the engine uses it for "nothing selected".
    static constexpr uint32_t kNoDeviceID = 0;
    static constexpr uint32_t kSystemAudioID = 0xFFFFFFFFu;
    // The file the engine was last asked to play; never in the device list.
    static constexpr uint32_t kFileID = 0xFFFFFFFEu;

    uint32_t id = kNoDeviceID;
    QString name;
    int inputChannelCount = 0;
    bool isSystemAudio = false;

    friend bool operator==(const AudioDeviceInfo&, const AudioDeviceInfo&) = default;
};

inline size_t qHash(const AudioDeviceInfo& d, size_t seed = 0) noexcept
{
    return qHashMulti(seed, d.id, d.name, d.inputChannelCount, d.isSystemAudio);
}

template <>
struct std::hash<AudioDeviceInfo> {
    size_t operator()(const AudioDeviceInfo& d) const noexcept { return qHash(d); }
};

Q_DECLARE_METATYPE(AudioDeviceInfo)
