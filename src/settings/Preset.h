#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

// A named snapshot of the persisted settings. Enumerated settings are kept as
// raw-value strings, so that a stored record never fails to read because of a
// case this build does not know; they are checked when the preset is applied.
struct Preset {
    QString name;
    QString displayMode;
    int64_t frameRate = 0;
    int64_t audioBufferSize = 0;
    float decay = 0.0f;
    float intensity = 0.0f;
    float beamWidth = 0.0f;
    float speedSensitivity = 0.0f;
    QString xyRotation;
    QString beamColorMode;
    float xyGain = 0.0f;
    float timePerDivision = 0.0f;
    float triggerLevel = 0.0f;
    bool triggerEnabled = false;
    int64_t triggerChannel = 0;
    float waveformGain = 0.0f;
    QString kxScaleMode;
    std::optional<QString> displayFilterType;
    std::optional<float> displayFilterFrequency;
    std::optional<int64_t> upsampling;
    std::optional<float> glow;
    std::optional<QString> zInput;

    friend bool operator==(const Preset&, const Preset&) = default;
};

// Preset names are the same when they are canonically equivalent Unicode
// (precomposed "é" equals "e" + combining acute); otherwise exact and
// case-sensitive.
bool samePresetName(const QString& a, const QString& b);

// JSON form of one record: an object whose keys are the field names, the
// optional fields left out when empty. Every Float is written so that it
// reads back bit for bit. Fails (nothing) when a Float is not finite: JSON
// has no such number, and a null in its place would make the whole stored
// list unreadable.
std::optional<QJsonObject> presetToJson(const Preset& preset);

// Reads one record. Nothing when a required key is missing or of the wrong
// type, or a number does not fit its field (a fraction or out-of-range value
// for an Int, a magnitude beyond the 32-bit range for a Float). An optional
// key that is absent or null gives no value; unknown keys are ignored.
std::optional<Preset> presetFromJson(const QJsonValue& value);

// UTF-8 JSON bytes of one record / of a list of records, and back. Decoding
// fails as a whole when any part fails.
std::optional<QByteArray> encodePreset(const Preset& preset);
std::optional<Preset> decodePreset(const QByteArray& bytes);
std::optional<QByteArray> encodePresetList(const QList<Preset>& presets);
std::optional<QList<Preset>> decodePresetList(const QByteArray& bytes);
