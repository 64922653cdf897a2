#include "audio/AudioDeviceManager.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <unordered_set>

namespace {

bool isReserved(uint32_t id)
{
    return id == AudioDeviceInfo::kNoDeviceID || id == AudioDeviceInfo::kSystemAudioID;
}

struct ListedSource {
    SourceInfo source;
    uint32_t id;
};

// The non-monitor sources with their ids, in the server's order.
std::vector<ListedSource> listedSources(const ServerState& server)
{
    std::vector<SourceInfo> inputs;
    for (const auto& s : server.sources) {
        if (!s.isMonitor && s.channels >= 1)
            inputs.push_back(s);
    }
    std::vector<std::string> names;
    names.reserve(inputs.size());
    for (const auto& s : inputs)
        names.push_back(s.name);
    const std::vector<uint32_t> ids = AudioDeviceManager::assignDeviceIDs(names);

    std::vector<ListedSource> out;
    out.reserve(inputs.size());
    for (size_t i = 0; i < inputs.size(); ++i)
        out.push_back({std::move(inputs[i]), ids[i]});
    return out;
}

}  // namespace

uint32_t AudioDeviceManager::fnv1a(std::string_view name)
{
    uint32_t h = 2166136261u;
    for (const char c : name) {
        h ^= static_cast<uint8_t>(c);
        h *= 16777619u;
    }
    return h;
}

std::vector<uint32_t> AudioDeviceManager::assignDeviceIDs(const std::vector<std::string>& names,
                                                          NameHash hash)
{
    std::vector<size_t> order(names.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return names[a] != names[b] ? names[a] < names[b] : a < b;
    });

    std::vector<uint32_t> ids(names.size(), AudioDeviceInfo::kNoDeviceID);
    std::unordered_set<uint32_t> taken;
    for (const size_t i : order) {
        uint32_t id = hash(names[i]);
        while (isReserved(id) || taken.count(id) != 0)
            ++id;  // wraps past 4294967295 to 0, which is skipped in turn
        taken.insert(id);
        ids[i] = id;
    }
    return ids;
}

QList<AudioDeviceInfo> AudioDeviceManager::listInputDevices(const ServerState& server)
{
    QList<AudioDeviceInfo> result;
    if (!server.reachable)
        return result;

    result.append({AudioDeviceInfo::kSystemAudioID, QStringLiteral("System Audio"), 2, true});
    for (const auto& [source, id] : listedSources(server)) {
        const QString name = source.description.empty()
                                 ? QStringLiteral("Unknown Device")
                                 : QString::fromStdString(source.description);
        result.append({id, name, source.channels, false});
    }
    return result;
}

std::optional<double> AudioDeviceManager::usableSampleRate(double rate)
{
    if (!std::isfinite(rate) || rate <= 0)
        return std::nullopt;
    return rate;
}

std::optional<SourceInfo> AudioDeviceManager::findInputSource(const ServerState& server, uint32_t id)
{
    if (!server.reachable)
        return std::nullopt;
    for (auto& listed : listedSources(server)) {
        if (listed.id == id)
            return std::move(listed.source);
    }
    return std::nullopt;
}
