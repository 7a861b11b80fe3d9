#include "SilenceFinder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "WaveformPyramid.h"

namespace {

constexpr int64_t kBucket = WaveformPyramid::kFine;

int64_t ToFrames(int64_t rt, int rate) {
    return static_cast<int64_t>((static_cast<__int128>(rt) * rate + 5'000'000) / 10'000'000);
}

int64_t ToTime(int64_t frames, int rate) {
    return static_cast<int64_t>((static_cast<__int128>(frames) * 10'000'000 + rate / 2) / rate);
}

// A sample of the output format as -1..1.
float SampleAt(const uint8_t* p, const AudioFormat& f) {
    switch (f.wBitsPerSample) {
        case 8:
            return (static_cast<int>(p[0]) - 128) / 128.0f;
        case 16: {
            int16_t v;
            std::memcpy(&v, p, 2);
            return v / 32768.0f;
        }
        case 24: {
            const int32_t v = static_cast<int32_t>((uint32_t{p[0]} << 8) | (uint32_t{p[1]} << 16) |
                                                   (uint32_t{p[2]} << 24));
            return static_cast<float>(v / 2147483648.0);
        }
        default: {
            if (f.wFormatTag == AudioFormat::kIeeeFloat) {
                float v;
                std::memcpy(&v, p, 4);
                return v;
            }
            int32_t v;
            std::memcpy(&v, p, 4);
            return static_cast<float>(v / 2147483648.0);
        }
    }
}

// The channels' mean of the frames [first, first + count) of the source.
std::vector<float> MixedFrames(AudioStreamSource& source, const AudioFormat& f, int64_t first,
                               int64_t count) {
    const int rate = static_cast<int>(f.nSamplesPerSec);
    source.Seek(ToTime(first, rate));
    source.SetEnd(ToTime(first + count, rate));
    std::vector<float> mixed;
    std::vector<uint8_t> bytes;
    uint8_t buffer[AudioStreamSource::AUDIO_BUFFER_SIZE];
    for (;;) {
        const long n = source.FillAudioBuffer(buffer);
        if (n == AudioStreamSource::kEndOfStream || n < 0) {
            break;
        }
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    const size_t sampleBytes = f.wBitsPerSample / 8;
    for (size_t at = 0;
         at + f.nBlockAlign <= bytes.size() && static_cast<int64_t>(mixed.size()) < count;
         at += f.nBlockAlign) {
        float sum = 0;
        for (int c = 0; c < f.nChannels; ++c) {
            sum += SampleAt(bytes.data() + at + c * sampleBytes, f);
        }
        mixed.push_back(sum / static_cast<float>(f.nChannels));
    }
    return mixed;
}

}  // namespace

std::vector<SilenceFinder::Silence> SilenceFinder::Find(const WaveformPyramid& waveform,
                                                        const Settings& settings) {
    const int rate = waveform.SampleRate();
    const int64_t frames = waveform.Frames();
    std::vector<Silence> silences;
    if (rate <= 0 || frames <= 0) {
        return silences;
    }
    const float threshold = static_cast<float>(std::pow(10.0, settings.thresholdDb / 20.0));
    const int buckets = static_cast<int>((frames + kBucket - 1) / kBucket);
    const std::vector<WaveformPyramid::Column> columns =
        waveform.Columns(0, static_cast<double>(kBucket), buckets);
    const int64_t minimum = ToFrames(settings.minimumLength, rate);
    int64_t runStart = -1;
    for (int b = 0; b <= buckets; ++b) {
        const bool quiet = b < buckets && columns[static_cast<size_t>(b)].known &&
                           std::max(-columns[static_cast<size_t>(b)].min,
                                    columns[static_cast<size_t>(b)].max) < threshold;
        if (quiet && runStart < 0) {
            runStart = b * kBucket;
        } else if (!quiet && runStart >= 0) {
            const int64_t end = std::min<int64_t>(b * kBucket, frames);
            if (end - runStart >= minimum) {
                silences.push_back({runStart, end});
            }
            runStart = -1;
        }
    }
    return silences;
}

std::vector<Segment> SilenceFinder::Between(const std::vector<Silence>& silences,
                                            const Settings& settings, int rate, int64_t frames,
                                            int64_t duration) {
    std::vector<Segment> sounds;
    const int64_t margin = ToFrames(settings.margin, rate);
    int64_t from = 0;
    const auto add = [&](int64_t first, int64_t end) {
        if (end > first) {
            Segment s;
            s.start = ToTime(std::max<int64_t>(first - margin, 0), rate);
            s.end = std::min(ToTime(std::min(end + margin, frames), rate), duration);
            sounds.push_back(s);
        }
    };
    for (const Silence& silence : silences) {
        add(from, silence.first);
        from = silence.end;
    }
    add(from, frames);
    return sounds;
}

std::vector<Segment> SilenceFinder::Sounds(const WaveformPyramid& waveform,
                                           const Settings& settings, int64_t duration) {
    return Between(Find(waveform, settings), settings, waveform.SampleRate(), waveform.Frames(),
                   duration);
}

std::vector<Segment> SilenceFinder::Sounds(const WaveformPyramid& waveform,
                                           const Settings& settings, int64_t duration,
                                           AudioStreamSource& source, const AudioFormat& format,
                                           const std::atomic<bool>* stop) {
    std::vector<Silence> silences = Find(waveform, settings);
    const float threshold = static_cast<float>(std::pow(10.0, settings.thresholdDb / 20.0));
    const int64_t frames = waveform.Frames();
    for (Silence& silence : silences) {
        if (stop != nullptr && stop->load()) {
            break;
        }
        // The last loud frame lies in the bucket before the silence, the first after it in
        // the bucket that ends it.
        if (silence.first > 0) {
            const int64_t from = silence.first - kBucket;
            const std::vector<float> before = MixedFrames(source, format, from, kBucket);
            for (int64_t i = static_cast<int64_t>(before.size()) - 1; i >= 0; --i) {
                if (std::fabs(before[static_cast<size_t>(i)]) >= threshold) {
                    silence.first = from + i + 1;
                    break;
                }
            }
        }
        if (silence.end < frames) {
            const std::vector<float> after = MixedFrames(source, format, silence.end, kBucket);
            for (size_t i = 0; i < after.size(); ++i) {
                if (std::fabs(after[i]) >= threshold) {
                    silence.end += static_cast<int64_t>(i);
                    break;
                }
            }
        }
    }
    return Between(silences, settings, waveform.SampleRate(), frames, duration);
}
