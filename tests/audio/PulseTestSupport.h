#pragma once

// Against a real PulseAudio daemon: the shared one of scripts/test-env.sh (a
// 48 kHz stereo null sink "orvalen_test_sink" as the default sink, and a
// real-time input "orvalen_test_input" on its monitor), or a private one of
// the same recipe that a test crashes and restarts.

#include "AudioTestSupport.h"

#include <QProcess>
#include <QTemporaryFile>

#include <cmath>
#include <complex>
#include <future>
#include <optional>
#include <string>

// The backend's next answer, waited for.
inline ServerState askNow(AudioBackend& backend)
{
    std::promise<ServerState> answer;
    backend.query([&](ServerState state) { answer.set_value(std::move(state)); });
    return answer.get_future().get();
}

// The shared daemon; empty without the test environment.
inline std::string sharedServer() { return qEnvironmentVariable("PULSE_SERVER").toStdString(); }

inline void startOn(QProcess& process, const std::string& server, const QString& program, const QStringList& args)
{
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("PULSE_SERVER", QString::fromStdString(server));
    process.setProcessEnvironment(env);
    process.start(program, args);
}

// What pactl printed when it did what `args` ask (a loaded module's index).
inline std::optional<QString> pactl(const std::string& server, const QStringList& args)
{
    QProcess p;
    startOn(p, server, "pactl", args);
    if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return std::nullopt;
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

// Plays a 48 kHz tone into `sink`, each channel at its own frequency and
// amplitude, for up to `seconds` or until destroyed. From a file, with a
// buffer longer than a loaded machine's stalls: a player that runs dry gets
// silence played mid-tone, which the scope rightly shows.
class TonePlayer {
public:
    struct Tone {
        double hz;
        float amplitude;
    };
    TonePlayer(const std::string& server, const std::vector<Tone>& tones, const QString& sink = "@DEFAULT_SINK@",
               int seconds = 10)
    {
        const size_t n = 48000 * size_t(seconds), channels = tones.size();
        std::vector<float> samples(n * channels);
        for (size_t c = 0; c < channels; ++c) {
            const auto wave = test::sine(int64_t(n), 48000, tones[c].hz, tones[c].amplitude);
            for (size_t i = 0; i < n; ++i)
                samples[i * channels + c] = wave[i];
        }
        if (!m_file.open() || m_file.write(reinterpret_cast<const char*>(samples.data()), qint64(samples.size() * 4)) <= 0 || !m_file.flush())
            return;
        startOn(m_pacat, server, "pacat",
                {"--playback", "--raw", "--format=float32le", "--rate=48000", "--latency-msec=300",
                 QString("--channels=%1").arg(channels), "--channel-map=" + QString(channels == 2 ? "stereo" : "aux0,aux1,aux2,aux3"),
                 "--device=" + sink, m_file.fileName()});
        m_pacat.waitForStarted(5000);
    }
    ~TonePlayer()
    {
        m_pacat.kill();
        m_pacat.waitForFinished(5000);
    }
    bool ok() const { return m_pacat.state() == QProcess::Running; }

private:
    QTemporaryFile m_file;
    QProcess m_pacat;
};

// Half a second of what reaches `ring`, from 2048 frames after the first
// audible one; none when that does not come in time. A run of exact silence
// on both channels starts the window again: an earlier player's tail ends in
// one, and so does a cycle a starved server played silent (a whole quantum of
// zeros, seen under PipeWire on a loaded machine, with no hole or overflow in
// the stream). The capture itself never writes zeros it was not given.
inline std::optional<StereoFrames> listen(RingBuffer& ring, double rate, int timeoutMs = 6000)
{
    StereoFrames heard;
    size_t zeros = 0;
    const auto wanted = 2048 + static_cast<size_t>(rate / 2);
    const bool done = test::waitFor([&] {
        const StereoFrames got = drain(ring);
        for (size_t i = 0; i < got.left.size() && heard.left.size() < wanted; ++i) {
            zeros = got.left[i] == 0.0f && got.right[i] == 0.0f ? zeros + 1 : 0;
            if (zeros >= 64) {
                heard = {};
            } else if (!heard.left.empty() || std::fabs(got.left[i]) + std::fabs(got.right[i]) > 0.05f) {
                heard.left.push_back(got.left[i]);
                heard.right.push_back(got.right[i]);
                heard.z.push_back(got.z[i]);
            }
        }
        return heard.left.size() == wanted;
    }, timeoutMs);
    if (!done)
        return std::nullopt;
    return StereoFrames{{heard.left.begin() + 2048, heard.left.end()},
                        {heard.right.begin() + 2048, heard.right.end()},
                        {heard.z.begin() + 2048, heard.z.end()}};
}

// The amplitude of x's component at `hz` (one bin of a DFT). Over whole cycles
// of each tone in x, any other tone adds nothing to it.
inline double amplitudeAt(const std::vector<float>& x, double hz, double rate)
{
    std::complex<double> sum;
    for (size_t i = 0; i < x.size(); ++i)
        sum += double(x[i]) * std::polar(1.0, -2 * test::kPi * hz * double(i) / rate);
    return 2 * std::abs(sum) / double(x.size());
}

// A daemon of the test's own (orvalen_pulse_console of scripts/test-env.sh).
class PrivateDaemon {
public:
    explicit PrivateDaemon(const QString& repository)
    {
        m_shell.setProcessChannelMode(QProcess::ForwardedErrorChannel);  // its notes, in the test's log
        m_shell.start("bash", {"-c", R"(source "$1/scripts/test-env.sh" && orvalen_pulse_console)", "bash", repository});
        m_server = say("");
    }
    ~PrivateDaemon()
    {
        m_shell.closeWriteChannel();
        m_shell.waitForFinished(10000);
    }
    // Empty when it did not start.
    const std::string& server() const { return m_server; }
    bool kill() { return say("kill\n") == "ok"; }  // dies at once, as in a crash
    bool run() { return say("run\n") == "ok"; }    // again, on the same socket

private:
    std::string say(const char* command)
    {
        m_shell.write(command);
        while (!m_shell.canReadLine() && m_shell.waitForReadyRead(15000)) {
        }
        return m_shell.readLine().trimmed().toStdString();
    }

    QProcess m_shell;
    std::string m_server;
};
