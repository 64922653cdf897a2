#pragma once

// Helpers for the tests that run against a real PulseAudio daemon: a tone
// player, tone measurement, pactl, and a private daemon a test may kill.

#include "AudioTestSupport.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

constexpr double kPi = 3.14159265358979323846;

// Plays a stereo tone, left and right at their own frequency and amplitude,
// into the default sink through pacat, for up to `seconds` or until destroyed.
class TonePlayer {
public:
    TonePlayer(const std::string& server, double leftHz, float leftAmp, double rightHz,
               float rightAmp, int seconds = 10)
    {
        std::vector<float> samples(static_cast<size_t>(2 * kRate * seconds));
        for (size_t i = 0; i < samples.size() / 2; ++i) {
            const double t = static_cast<double>(i) / kRate;
            samples[2 * i] = leftAmp * static_cast<float>(std::sin(2 * kPi * leftHz * t));
            samples[2 * i + 1] = rightAmp * static_cast<float>(std::sin(2 * kPi * rightHz * t));
        }
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert("PULSE_SERVER", QString::fromStdString(server));
        m_process.setProcessEnvironment(env);
        m_process.start("pacat", {"--playback", "--raw", "--format=float32le", "--channels=2",
                                  QString("--rate=%1").arg(kRate), "--latency-msec=50"});
        // Written from the event loop as pacat reads; the tests keep it running.
        if (m_process.waitForStarted(5000))
            m_process.write(reinterpret_cast<const char*>(samples.data()),
                            static_cast<qint64>(samples.size() * sizeof(float)));
    }
    ~TonePlayer()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    bool ok() const { return m_process.state() == QProcess::Running; }

    static constexpr int kRate = 48000;

private:
    QProcess m_process;
};

struct ToneStats {
    double frequency = 0;  // Hz, from rising zero crossings
    double rms = 0;
};

inline ToneStats measureTone(const std::vector<float>& x, double rate)
{
    ToneStats stats;
    double first = -1, last = -1;
    int crossings = 0;
    double sum = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        sum += static_cast<double>(x[i]) * x[i];
        if (i > 0 && x[i - 1] < 0 && x[i] >= 0) {
            const double t = static_cast<double>(i - 1) + x[i - 1] / (x[i - 1] - x[i]);
            if (first < 0)
                first = t;
            last = t;
            ++crossings;
        }
    }
    if (crossings >= 2)
        stats.frequency = (crossings - 1) * rate / (last - first);
    if (!x.empty())
        stats.rms = std::sqrt(sum / static_cast<double>(x.size()));
    return stats;
}

// Drains `ring` with the event loop running until `frames` frames have been
// gathered from the first one louder than `threshold` on (plus `skip` frames
// after that), or until `timeoutMs` passes.
inline std::optional<StereoFrames> collectSignal(RingBuffer& ring, int64_t frames, int timeoutMs,
                                                 int64_t skip = 2048, float threshold = 0.05f)
{
    StereoFrames kept;
    bool onset = false;
    int64_t toSkip = skip;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        const StereoFrames got = drain(ring);
        for (size_t i = 0; i < got.left.size(); ++i) {
            if (!onset && std::fabs(got.left[i]) < threshold && std::fabs(got.right[i]) < threshold)
                continue;
            onset = true;
            if (toSkip > 0) {
                --toSkip;
                continue;
            }
            kept.left.push_back(got.left[i]);
            kept.right.push_back(got.right[i]);
        }
        if (static_cast<int64_t>(kept.left.size()) >= frames)
            return kept;
        QTest::qWait(10);
    }
    return std::nullopt;
}

// Runs pactl against `server`; its standard output, or none when it failed.
inline std::optional<std::string> pactl(const std::string& server, const QStringList& args)
{
    QProcess p;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("PULSE_SERVER", QString::fromStdString(server));
    p.setProcessEnvironment(env);
    p.start("pactl", args);
    if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return std::nullopt;
    return p.readAllStandardOutput().trimmed().toStdString();
}

inline std::string sharedServer()
{
    const char* s = std::getenv("PULSE_SERVER");
    return s ? s : "";
}

// A PulseAudio daemon of the test's own (the recipe of scripts/test-env.sh):
// a 48 kHz stereo null sink "private_sink" as default, and a real-time input
// "private_input" on its monitor. Killed and restarted at will.
class PrivateDaemon {
public:
    PrivateDaemon()
    {
        const QString d = m_dir.path();
        QDir().mkpath(d + "/home");
        QDir().mkpath(d + "/runtime/pulse");
        QFile::setPermissions(d + "/runtime", QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ExeOwner);
        QFile pa(d + "/default.pa");
        pa.open(QIODevice::WriteOnly);
        pa.write(QString("load-module module-native-protocol-unix auth-anonymous=1 socket=%1\n"
                         "load-module module-null-sink sink_name=private_sink rate=48000 channels=2\n"
                         "load-module module-remap-source master=private_sink.monitor source_name=private_input\n"
                         "set-default-sink private_sink\n")
                     .arg(socketPath())
                     .toUtf8());
        pa.close();
        QFile conf(d + "/client.conf");
        conf.open(QIODevice::WriteOnly);
        conf.write("autospawn = no\n");
    }

    ~PrivateDaemon() { kill(); }

    std::string server() const { return ("unix:" + socketPath()).toStdString(); }

    // Starts the daemon and waits until it answers.
    bool start()
    {
        const QString d = m_dir.path();
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", d + "/home");
        env.insert("XDG_RUNTIME_DIR", d + "/runtime");
        env.insert("PULSE_CLIENTCONFIG", d + "/client.conf");
        m_process.setProcessEnvironment(env);
        m_process.setStandardOutputFile(d + "/pulse.log", QIODevice::Append);
        m_process.setStandardErrorFile(d + "/pulse.log", QIODevice::Append);
        m_process.start("pulseaudio", {"-n", "-F", d + "/default.pa", "--daemonize=no",
                                       "--exit-idle-time=-1", "--use-pid-file=no", "--disallow-exit"});
        if (!m_process.waitForStarted(5000))
            return false;
        for (int i = 0; i < 100; ++i) {
            if (pactl(server(), {"info"}))
                return true;
            QTest::qWait(100);
        }
        return false;
    }

    // Dies at once, as a crashing server would.
    void kill()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    bool isValid() const { return m_dir.isValid(); }

private:
    QString socketPath() const { return m_dir.path() + "/runtime/pulse/native"; }

    QTemporaryDir m_dir;
    QProcess m_process;
};
