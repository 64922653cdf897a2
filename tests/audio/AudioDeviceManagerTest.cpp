#include "audio/AudioDeviceManager.h"

#include "FakeAudioBackend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <set>
#include <string>

namespace {

SourceInfo input(std::string name, std::string description, int channels, double rate = 48000)
{
    return {std::move(name), std::move(description), channels, rate, false};
}

SourceInfo monitor(std::string name)
{
    return {std::move(name), "Monitor of " + name, 2, 48000, true};
}

std::map<QString, uint32_t> idsByName(const QList<AudioDeviceInfo>& devices)
{
    std::map<QString, uint32_t> ids;
    for (const auto& d : devices)
        ids[d.name] = d.id;
    return ids;
}

}  // namespace

TEST(AudioDeviceManager, NoServerMeansNoSourcesAtAll)
{
    FakeAudioBackend backend;
    backend.reachable = false;
    backend.sources = {input("mic", "Mic", 1)};
    EXPECT_TRUE(AudioDeviceManager::listInputDevices(backend).isEmpty());
    EXPECT_FALSE(AudioDeviceManager::defaultOutputSampleRate(backend).has_value());
    EXPECT_FALSE(AudioDeviceManager::findInputSource(backend, 1234).has_value());
}

TEST(AudioDeviceManager, SystemAudioComesFirstThenInputsInServerOrderWithoutMonitors)
{
    FakeAudioBackend backend;
    EXPECT_EQ(AudioDeviceManager::listInputDevices(backend),
              (QList<AudioDeviceInfo>{{AudioDeviceInfo::kSystemAudioID, "System Audio", 2, true}}));

    backend.sources = {monitor("speakers.monitor"), input("usb", "USB Interface", 6),
                       input("nameless", "", 2), input("dead", "Zero Channels", 0),
                       input("mic", "Built-in Mic", 1), monitor("hdmi.monitor")};
    const auto devices = AudioDeviceManager::listInputDevices(backend);
    ASSERT_EQ(devices.size(), 4);
    EXPECT_TRUE(devices[0].isSystemAudio);
    EXPECT_EQ(devices[0].name, "System Audio");
    EXPECT_EQ(devices[1].name, "USB Interface");
    EXPECT_EQ(devices[1].inputChannelCount, 6);
    EXPECT_EQ(devices[2].name, "Unknown Device");
    EXPECT_EQ(devices[3].name, "Built-in Mic");
    EXPECT_EQ(devices[3].inputChannelCount, 1);
    for (qsizetype i = 1; i < devices.size(); ++i) {
        EXPECT_FALSE(devices[i].isSystemAudio);
        EXPECT_NE(devices[i].id, AudioDeviceInfo::kNoDeviceID);
        EXPECT_NE(devices[i].id, AudioDeviceInfo::kSystemAudioID);
    }
}

TEST(AudioDeviceManager, IdsSurviveRefreshReorderingAndReplugging)
{
    FakeAudioBackend backend;
    backend.sources = {input("alsa_input.usb", "USB", 2), input("alsa_input.pci", "Built-in", 2),
                       input("bluez_source.headset", "Headset", 1)};
    const auto before = idsByName(AudioDeviceManager::listInputDevices(backend));

    // Unplug the headset, plug it back in last, add a new device in front.
    backend.sources = {input("new_device", "New", 2), input("alsa_input.pci", "Built-in", 2),
                       input("alsa_input.usb", "USB", 2)};
    auto after = idsByName(AudioDeviceManager::listInputDevices(backend));
    EXPECT_EQ(after["USB"], before.at("USB"));
    EXPECT_EQ(after["Built-in"], before.at("Built-in"));
    backend.sources.push_back(input("bluez_source.headset", "Headset", 1));
    after = idsByName(AudioDeviceManager::listInputDevices(backend));
    EXPECT_EQ(after["Headset"], before.at("Headset"));
    EXPECT_EQ(std::set<uint32_t>({after["New"], after["USB"], after["Built-in"], after["Headset"]}).size(), 4u);

    const auto found = AudioDeviceManager::findInputSource(backend, before.at("Headset"));
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->name, "bluez_source.headset");
}

TEST(AudioDeviceManager, ReservedIdsAreNeverGivenAndCollisionsDoNotDependOnOrder)
{
    const auto zero = [](std::string_view) { return 0u; };
    const auto allOnes = [](std::string_view) { return 0xFFFFFFFFu; };
    EXPECT_EQ(AudioDeviceManager::assignDeviceIDs({"a"}, zero), (std::vector<uint32_t>{1}));
    // All bits set wraps past the reserved 0 as well.
    EXPECT_EQ(AudioDeviceManager::assignDeviceIDs({"a"}, allOnes), (std::vector<uint32_t>{1}));

    const auto same = [](std::string_view) { return 7u; };
    const auto forward = AudioDeviceManager::assignDeviceIDs({"b", "a", "c"}, same);
    const auto backward = AudioDeviceManager::assignDeviceIDs({"c", "a", "b"}, same);
    EXPECT_EQ(forward, (std::vector<uint32_t>{8, 7, 9}));
    EXPECT_EQ(backward, (std::vector<uint32_t>{9, 7, 8}));
}

TEST(AudioDeviceManager, RealHashCollisionsGetDistinctStableIds)
{
    // Two names whose FNV-1a hashes collide (found by a birthday search).
    const std::string a = "alsa_input.usb-564493";
    const std::string b = "alsa_input.usb-1321260";
    ASSERT_EQ(AudioDeviceManager::fnv1a(a), AudioDeviceManager::fnv1a(b));
    FakeAudioBackend backend;
    backend.sources = {input(b, "B", 2), input(a, "A", 2)};
    const auto first = idsByName(AudioDeviceManager::listInputDevices(backend));
    std::reverse(backend.sources.begin(), backend.sources.end());
    const auto second = idsByName(AudioDeviceManager::listInputDevices(backend));
    EXPECT_NE(first.at("A"), first.at("B"));
    EXPECT_EQ(first, second);
}

TEST(AudioDeviceManager, DefaultOutputRateMustBeAPositiveNumber)
{
    FakeAudioBackend backend;
    backend.outputRate = 44100.0;
    EXPECT_EQ(AudioDeviceManager::defaultOutputSampleRate(backend), 44100.0);
    for (const double bad : {0.0, -48000.0, std::numeric_limits<double>::quiet_NaN(),
                             std::numeric_limits<double>::infinity()}) {
        backend.outputRate = bad;
        EXPECT_FALSE(AudioDeviceManager::defaultOutputSampleRate(backend).has_value()) << bad;
    }
    backend.outputRate.reset();
    EXPECT_FALSE(AudioDeviceManager::defaultOutputSampleRate(backend).has_value());
}

TEST(AudioDeviceInfo, EqualityComparesEveryFieldAndEqualRecordsHashAlike)
{
    const AudioDeviceInfo a{42, "Mic", 2, false};
    AudioDeviceInfo b = a;
    EXPECT_EQ(a, b);
    EXPECT_EQ(qHash(a), qHash(b));
    EXPECT_EQ(std::hash<AudioDeviceInfo>{}(a), std::hash<AudioDeviceInfo>{}(b));
    b.name = "Mic 2";
    EXPECT_NE(a, b);
    b = a;
    b.inputChannelCount = 1;
    EXPECT_NE(a, b);
    b = a;
    b.isSystemAudio = true;
    EXPECT_NE(a, b);
}
