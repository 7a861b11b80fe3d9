#include "SilenceSearch.h"
#include "WakeUp.h"
#include "WaveformPyramid.h"

SilenceSearch::SilenceSearch(AudioSourceFactory sources, QObject* parent)
    : QObject(parent), m_sources(std::move(sources)), m_wake(new WakeUp(this)) {
    connect(m_wake, &WakeUp::woken, this, &SilenceSearch::Deliver);
}

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
    // The thread ends before this object does (its end joins it).
    m_thread = std::thread([this, generation, stop = m_stop, sources = m_sources, path, track,
                            waveform = std::move(waveform), settings, duration] {
        auto answer = std::make_unique<Answer>();
        answer->generation = generation;
        std::unique_ptr<AudioStreamSource> source = sources();
        AudioFormat format;
        if (source->OpenAudioStream(path, track) != 0 || source->PrepareAudioSample(format) != 0) {
            answer->why = QString::fromStdString(source->LastError());
        } else {
            answer->sounds =
                SilenceFinder::Sounds(*waveform, settings, duration, *source, format, stop.get());
        }
        if (stop->load()) {
            return;
        }
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_answer = std::move(answer);
        }
        m_wake->Wake();
    });
}

void SilenceSearch::Deliver() {
    std::unique_ptr<Answer> answer;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        answer = std::move(m_answer);
    }
    if (!answer || answer->generation != m_generation || !m_busy) {
        return;
    }
    Join();
    m_busy = false;
    if (answer->why.isEmpty()) {
        emit found(answer->sounds);
    } else {
        emit failed(answer->why);
    }
}
