#pragma once

#include "audio/AudioBackend.h"
#include "audio/AudioDeviceInfo.h"

#include <QList>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Turns the sound server's source list into the selectable sources. Stateless.
// Called on the main thread.
class AudioDeviceManager {
public:
    AudioDeviceManager() = delete;

    // "System Audio" first whenever the server answered, then every source
    // that is not a monitor, in the server's order. No server, no list.
    static QList<AudioDeviceInfo> listInputDevices(const ServerState& server);

    // `rate` when it is a positive, finite number.
    static std::optional<double> usableSampleRate(double rate);

    // The listed (non-monitor) source that carries `id`, if any.
    static std::optional<SourceInfo> findInputSource(const ServerState& server, uint32_t id);

    using NameHash = uint32_t (*)(std::string_view);

    // 32-bit FNV-1a of the name's bytes.
    static uint32_t fnv1a(std::string_view name);

    // Ids for `names`, index for index. Each id comes from the name alone, so
    // a source keeps it across refreshes and re-plugging; the reserved 0 and
    // 4294967295 are never given. Colliding names are served in byte order of
    // their names, the later ones taking the next free value, so the outcome
    // does not depend on the server's order.
    static std::vector<uint32_t> assignDeviceIDs(const std::vector<std::string>& names,
                                                 NameHash hash = fnv1a);
};
