#include "WaveformBuilder.h"

#include <algorithm>
#include <cstring>

namespace {

// A little-endian PCM sample of the output format as -1..1.
float SampleValue(const uint8_t* p, const AudioFormat& f) {
    switch (f.wBitsPerSample) {
        case 8:
            return (static_cast<float>(p[0]) - 128.0f) / 128.0f;
        case 16:
            return static_cast<float>(static_cast<int16_t>(p[0] | p[1] << 8)) / 32768.0f;
        case 24: {
            const auto v = static_cast<int32_t>(static_cast<uint32_t>(p[0]) << 8 |
                                                static_cast<uint32_t>(p[1]) << 16 |
                                                static_cast<uint32_t>(p[2]) << 24) >>
                           8;
            return static_cast<float>(v) / 8388608.0f;
        }
        default: {
            uint32_t bits = 0;
            std::memcpy(&bits, p, 4);
            if (f.wFormatTag == AudioFormat::kIeeeFloat) {
                float x;
                std::memcpy(&x, &bits, 4);
                return x;
            }
            return static_cast<float>(static_cast<int32_t>(bits)) / 2147483648.0f;
        }
    }
}

}  // namespace

WaveformBuilder::WaveformBuilder(AudioSourceFactory factory, size_t keep)
    : m_factory(std::move(factory)), m_keep(keep) {}

WaveformBuilder::~WaveformBuilder() {
    for (const auto& job : m_jobs) {
        job->cancelled.store(true);
    }
    for (const auto& job : m_jobs) {
        job->thread.join();
    }
}

std::shared_ptr<const WaveformPyramid> WaveformBuilder::Start(const std::string& path, int track) {
    JoinFinished();
    if (m_current && !m_current->finished.load() && m_current->path == path &&
        m_current->track == track) {
        return m_current->pyramid;
    }
    Cancel();
    for (auto it = m_kept.begin(); it != m_kept.end(); ++it) {
        if (it->path == path && it->track == track) {
            m_kept.splice(m_kept.begin(), m_kept, it);
            return it->pyramid;
        }
    }
    auto job = std::make_shared<Job>();
    job->path = path;
    job->track = track;
    // The rate is known once the source is open; until then an empty waveform stands.
    job->pyramid = std::make_shared<WaveformPyramid>();
    Job* raw = job.get();
    job->thread = std::thread([raw, factory = m_factory] { Run(*raw, factory); });
    m_current = job;
    m_jobs.push_back(job);
    return job->pyramid;
}

void WaveformBuilder::Cancel() {
    if (m_current) {
        m_current->cancelled.store(true);
        m_current.reset();
    }
}

bool WaveformBuilder::Busy() {
    JoinFinished();
    return !m_jobs.empty();
}

void WaveformBuilder::JoinFinished() {
    auto end = std::remove_if(m_jobs.begin(), m_jobs.end(), [this](const std::shared_ptr<Job>& j) {
        if (!j->finished.load()) {
            return false;
        }
        // It has finished its work and is about to return: the join is short.
        j->thread.join();
        Collect(*j);
        return true;
    });
    m_jobs.erase(end, m_jobs.end());
}

void WaveformBuilder::Collect(Job& job) {
    if (job.cancelled.load() || !job.pyramid->Complete()) {
        return;
    }
    m_kept.push_front({job.path, job.track, job.pyramid});
    while (m_kept.size() > m_keep) {
        m_kept.pop_back();
    }
}

void WaveformBuilder::Run(Job& job, const AudioSourceFactory& factory) {
    std::unique_ptr<AudioStreamSource> source = factory();
    source->SetInterrupt(&job.cancelled);
    AudioFormat format;
    if (source->OpenAudioStream(job.path, job.track) == 0 &&
        source->PrepareAudioSample(format) == 0 && format.nBlockAlign > 0) {
        job.pyramid->SetSampleRate(static_cast<int>(format.nSamplesPerSec));
        const size_t sampleBytes = format.wBitsPerSample / 8;
        std::vector<uint8_t> buffer(AudioStreamSource::AUDIO_BUFFER_SIZE + format.nBlockAlign);
        std::vector<float> mixed;
        size_t held = 0;  // bytes of a frame split between two fills
        source->Seek(0);
        while (!job.cancelled.load()) {
            const long n = source->FillAudioBuffer(buffer.data() + held);
            if (n == AudioStreamSource::kEndOfStream || n < 0) {
                // A cancelled read ends the stream too, but the waveform is not whole.
                if (!job.cancelled.load()) {
                    job.pyramid->Finish();
                }
                break;
            }
            const size_t bytes = held + static_cast<size_t>(n);
            const size_t frames = bytes / format.nBlockAlign;
            mixed.resize(frames);
            if (format.wFormatTag == AudioFormat::kPcm && format.wBitsPerSample == 16) {
                // The common case, without a switch a sample: the sum of 16-bit samples is
                // exact in float, so this is the same mean as the general way gives.
                const int channels = format.nChannels;
                const float divisor = 32768.0f * static_cast<float>(channels);
                const uint8_t* data = buffer.data();
                if (channels == 2) {
                    // Stereo, the common case, in a loop the compiler vectorises; 1/65536 is
                    // exact, so multiplying gives the same floats as dividing.
                    for (size_t i = 0; i < frames; ++i) {
                        int16_t left;
                        int16_t right;
                        std::memcpy(&left, data + 4 * i, sizeof left);
                        std::memcpy(&right, data + 4 * i + 2, sizeof right);
                        mixed[i] = static_cast<float>(left + right) * (1.0f / 65536.0f);
                    }
                } else {
                    for (size_t i = 0; i < frames; ++i) {
                        const uint8_t* frame = data + i * format.nBlockAlign;
                        int sum = 0;
                        for (int c = 0; c < channels; ++c) {
                            int16_t v;
                            std::memcpy(&v, frame + 2 * c, sizeof v);
                            sum += v;
                        }
                        mixed[i] = static_cast<float>(sum) / divisor;
                    }
                }
            } else {
                for (size_t i = 0; i < frames; ++i) {
                    const uint8_t* frame = buffer.data() + i * format.nBlockAlign;
                    float sum = 0;
                    for (int c = 0; c < format.nChannels; ++c) {
                        sum += SampleValue(frame + c * sampleBytes, format);
                    }
                    mixed[i] = sum / static_cast<float>(format.nChannels);
                }
            }
            job.pyramid->Append(mixed.data(), frames);
            held = bytes - frames * format.nBlockAlign;
            std::memmove(buffer.data(), buffer.data() + frames * format.nBlockAlign, held);
        }
    } else if (!job.cancelled.load()) {
        job.pyramid->Finish();  // nothing to show, and nothing more will come
    }
    job.finished.store(true);
}
