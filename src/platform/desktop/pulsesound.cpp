// Sound through the PulseAudio simple API, which PipeWire desktops serve as well; the
// file is decoded by libsndfile as it plays.

#include "platform/desktop/instancelink.h"
#include "platform/desktop/soundoutput.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <pulse/simple.h>
#include <sndfile.h>

#include <algorithm>
#include <vector>

namespace {

struct SoundFileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
using SoundFile = std::unique_ptr<SNDFILE, SoundFileCloser>;

struct StreamCloser {
    void operator()(pa_simple* stream) const { pa_simple_free(stream); }
};
using Stream = std::unique_ptr<pa_simple, StreamCloser>;

constexpr sf_count_t kFramesPerWrite = 4096;

SoundFile openPlayable(const QString& path, SF_INFO& info) {
    // Only an ordinary file: a pipe or a device in its place could block for ever.
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return nullptr;
    info = {};
    SoundFile file(sf_open(QFile::encodeName(path).constData(), SFM_READ, &info));
    if (file && (info.channels < 1 || info.channels > static_cast<int>(PA_CHANNELS_MAX) ||
                 info.samplerate <= 0))
        return nullptr;
    return file;
}

// The freedesktop sound theme's bell stands for the desktop's default sound.
QString defaultSoundPath() {
    return QStandardPaths::locate(QStandardPaths::GenericDataLocation,
                                  QStringLiteral("sounds/freedesktop/stereo/bell.oga"));
}

// The sound library looks for the user's sound cookie and, where there is none, writes
// one into the home folder. Where there is none, it is handed a cookie of zeros that
// nothing is written for; the sound server on the user's own socket knows the user by
// the socket anyway.
class NoCookieWritten {
public:
    NoCookieWritten() {
        if (qEnvironmentVariableIsSet(kVariable) || userHasCookie())
            return;
        qputenv(kVariable, QByteArrayLiteral("/dev/zero"));
        set_ = true;
    }
    ~NoCookieWritten() {
        if (set_)
            qunsetenv(kVariable);
    }
    NoCookieWritten(const NoCookieWritten&) = delete;
    NoCookieWritten& operator=(const NoCookieWritten&) = delete;

private:
    static constexpr const char* kVariable = "PULSE_COOKIE";

    static bool userHasCookie() {
        const QString home = QDir::homePath();
        QStringList places{QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                               QStringLiteral("/pulse/cookie"),
                           home + QStringLiteral("/.pulse/cookie"),
                           home + QStringLiteral("/.pulse-cookie")};
        if (qEnvironmentVariableIsSet("PULSE_CONFIG_PATH"))
            places << qEnvironmentVariable("PULSE_CONFIG_PATH") + QStringLiteral("/cookie");
        return std::any_of(places.begin(), places.end(),
                           [](const QString& place) { return QFileInfo::exists(place); });
    }

    bool set_ = false;
};

void playToEnd(SNDFILE* file, const SF_INFO& info) {
    const pa_sample_spec format{PA_SAMPLE_S16NE, static_cast<uint32_t>(info.samplerate),
                                static_cast<uint8_t>(info.channels)};
    const QByteArray client = applicationTitle().toUtf8();
    int error = 0;
    Stream stream;
    {
        const NoCookieWritten noCookieWritten;
        // Fails at once where no sound server runs; then there is nothing to wait for.
        stream.reset(pa_simple_new(nullptr, client.constData(), PA_STREAM_PLAYBACK, nullptr,
                                   "sound", &format, nullptr, nullptr, &error));
    }
    if (!stream)
        return;
    std::vector<short> samples(static_cast<size_t>(kFramesPerWrite * info.channels));
    sf_count_t frames = 0;
    while ((frames = sf_readf_short(file, samples.data(), kFramesPerWrite)) > 0) {
        const size_t bytes = static_cast<size_t>(frames * info.channels) * sizeof(short);
        if (pa_simple_write(stream.get(), samples.data(), bytes, &error) < 0)
            return;
    }
    pa_simple_drain(stream.get(), &error);
}

class PulseSound final : public SoundOutput {
public:
    void sndPlaySound(const QString& wavePath) override {
        SF_INFO info{};
        SoundFile file = openPlayable(wavePath, info);
        if (!file)
            file = openPlayable(defaultSoundPath(), info);
        if (file)
            playToEnd(file.get(), info);
    }
};

} // namespace

std::unique_ptr<SoundOutput> createSoundOutput() {
    return std::make_unique<PulseSound>();
}
