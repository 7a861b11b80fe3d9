#include "SilenceSearch.h"

#include <QMetaObject>

#include "WaveformPyramid.h"

SilenceSearch::SilenceSearch(AudioSourceFactory sources, QObject* parent)
    : QObject(parent), m_sources(std::move(sources)) {}

SilenceSearch::~SilenceSearch() {
    Stop();
}

void SilenceSearch::Stop() {
    if (m_stop) {
        m_stop->store(true);
    }
    Join();
    m_busy = false;
}

void SilenceSearch::Join() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void SilenceSearch::Start(const std::string& path, int track,
                          std::shared_ptr<const WaveformPyramid> waveform,
                          const SilenceFinder::Settings& settings, int64_t duration) {
    Stop();
    m_stop = std::make_shared<std::atomic<bool>>(false);
    m_busy = true;
    const int generation = ++m_generation;
    m_thread = std::thread([this, generation, stop = m_stop, sources = m_sources, path, track,
                            waveform = std::move(waveform), settings, duration] {
        std::unique_ptr<AudioStreamSource> source = sources();
        AudioFormat format;
        std::vector<Segment> sounds;
        QString why;
        if (source->OpenAudioStream(path, track) != 0 || source->PrepareAudioSample(format) != 0) {
            why = QString::fromStdString(source->LastError());
        } else {
            sounds =
                SilenceFinder::Sounds(*waveform, settings, duration, *source, format, stop.get());
        }
        if (stop->load()) {
            return;
        }
        // This object outlives the thread (its end joins it); a call still queued when it
        // goes is dropped with it.
        QMetaObject::invokeMethod(
            this,
            [this, generation, sounds = std::move(sounds), why] {
                if (generation != m_generation || !m_busy) {
                    return;
                }
                Join();
                m_busy = false;
                if (why.isEmpty()) {
                    emit found(sounds);
                } else {
                    emit failed(why);
                }
            },
            Qt::QueuedConnection);
    });
}
