#include "WaveformSections.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <system_error>
#include <thread>

#include "ThreadPriority.h"

namespace {

constexpr size_t kFeedBytes = AudioStreamSource::AUDIO_BUFFER_SIZE;
constexpr int64_t kNoPlace = AudioStreamSource::kUnknownPlace;

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

// The frames' channels mixed by their mean.
void Mix(const uint8_t* data, size_t frames, const AudioFormat& format, std::vector<float>& mixed) {
    mixed.resize(frames);
    if (format.wFormatTag == AudioFormat::kPcm && format.wBitsPerSample == 16) {
        // The common case, without a switch a sample: the sum of 16-bit samples is exact in
        // float, so this is the same mean as the general way gives.
        const int channels = format.nChannels;
        const float divisor = 32768.0f * static_cast<float>(channels);
        if (channels == 2) {
            // Stereo, the common case, in a loop the compiler vectorises; 1/65536 is exact,
            // so multiplying gives the same floats as dividing.
            for (size_t i = 0; i < frames; ++i) {
                int16_t left;
                int16_t right;
                std::memcpy(&left, data + 4 * i, sizeof left);
                std::memcpy(&right, data + 4 * i + 2, sizeof right);
                mixed[i] = static_cast<float>(left + right) * (1.0f / 65536.0f);
            }
            return;
        }
        if (channels == 1) {
            // Mono likewise: 1/32768 is exact too.
            for (size_t i = 0; i < frames; ++i) {
                int16_t v;
                std::memcpy(&v, data + 2 * i, sizeof v);
                mixed[i] = static_cast<float>(v) * (1.0f / 32768.0f);
            }
            return;
        }
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
        return;
    }
    const size_t sampleBytes = format.wBitsPerSample / 8;
    for (size_t i = 0; i < frames; ++i) {
        const uint8_t* frame = data + i * format.nBlockAlign;
        float sum = 0;
        for (int c = 0; c < format.nChannels; ++c) {
            sum += SampleValue(frame + c * sampleBytes, format);
        }
        mixed[i] = sum / static_cast<float>(format.nChannels);
    }
}

}  // namespace

struct WaveformSections::Section {
    size_t index = 0;
    int id = 0;          // the pyramid's
    int64_t first = 0;   // the output frame it starts at
    int64_t rtSeek = 0;  // where its source seeks to
    AudioStreamSource* source = nullptr;
    std::unique_ptr<AudioStreamSource> own;
    std::thread thread;
    std::atomic<bool> stop{false};
    // Bytes read past its range that it goes on with when it takes over the next range.
    std::vector<uint8_t> pending;
    size_t pendingPos = 0;
    // Under m_mutex.
    bool headDone = false;
    bool finished = false;
    bool failed = false;
    bool dropped = false;
    std::vector<uint8_t> head;
    int64_t headPlace = kNoPlace;
};

WaveformSections::WaveformSections(AudioStreamSource& first, const AudioFormat& format,
                                   WaveformPyramid& pyramid, Plan plan,
                                   const std::atomic<bool>& cancelled)
    : m_first(first),
      m_format(format),
      m_pyramid(pyramid),
      m_plan(std::move(plan)),
      m_cancelled(cancelled),
      m_timeline(first.Timeline()) {
    m_nBlock = std::max<int64_t>(format.nBlockAlign, 1);
    const uint32_t rate = format.nSamplesPerSec;
    auto zero = std::make_unique<Section>();
    zero->source = &m_first;
    m_sections.push_back(std::move(zero));
    const auto total =
        static_cast<int64_t>(static_cast<__int128>(first.StreamDuration()) * rate / 10'000'000);
    m_nOrigin = first.FrameAt(0, rate);
    // The first columns of a view of the whole track (a wide one has 800 to 2000).
    m_nUrgent = total / 800;
    const int64_t origin = m_nOrigin;
    for (int k = 1; k < m_plan.sections && total > 0; ++k) {
        const int64_t start =
            total * k / m_plan.sections / WaveformPyramid::kCoarse * WaveformPyramid::kCoarse;
        if (start <= m_sections.back()->first) {
            continue;
        }
        auto s = std::make_unique<Section>();
        s->index = m_sections.size();
        s->first = start;
        s->id = m_pyramid.AddSection(start);
        // The first time whose nearest frame is the section's first.
        const int64_t target = origin + start;
        int64_t lo = start * 10'000'000 / rate - 10'000'000;
        int64_t hi = lo + 20'000'000;
        while (lo < hi) {
            const int64_t mid = lo + (hi - lo) / 2;
            if (first.FrameAt(mid, rate) < target) {
                lo = mid + 1;
            } else {
                hi = mid;
            }
        }
        s->rtSeek = lo;
        m_sections.push_back(std::move(s));
    }
}

WaveformSections::~WaveformSections() {
    for (auto& s : m_sections) {
        s->stop.store(true);
    }
    for (auto& s : m_sections) {
        if (s->thread.joinable()) {
            s->thread.join();
        }
    }
}

bool WaveformSections::Run() {
    for (size_t k = 1; k < m_sections.size(); ++k) {
        Section& s = *m_sections[k];
        try {
            s.thread = std::thread(&WaveformSections::Decode, this, std::ref(s));
        } catch (const std::system_error&) {
            s.failed = s.headDone = s.finished = true;
        }
    }
    Decode(*m_sections[0]);
    for (auto& s : m_sections) {
        if (s->thread.joinable()) {
            s->thread.join();
        }
    }
    return !m_cancelled.load();
}

int WaveformSections::SectionsKept() const {
    const std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(std::count_if(m_sections.begin(), m_sections.end(),
                                          [](const auto& s) { return !s->dropped && !s->failed; }));
}

bool WaveformSections::Stopped(const Section& s) const {
    return m_cancelled.load() || s.stop.load() || m_nFirstGap.load() < s.index;
}

size_t WaveformSections::Feed(Section& s, std::vector<uint8_t>& buffer, size_t at) {
    if (s.pendingPos < s.pending.size()) {
        const size_t n = std::min(kFeedBytes, s.pending.size() - s.pendingPos);
        std::memcpy(buffer.data() + at, s.pending.data() + s.pendingPos, n);
        s.pendingPos += n;
        return n;
    }
    const long n = s.source->FillAudioBuffer(buffer.data() + at);
    return n > 0 ? static_cast<size_t>(n) : 0;
}

void WaveformSections::Decode(Section& s) {
    const auto finish = [this, &s](bool failed) {
        const std::lock_guard<std::mutex> lock(m_mutex);
        s.failed = s.failed || failed;
        s.headDone = s.finished = true;
        m_cv.notify_all();
    };
    if (s.source == nullptr) {
        s.own = m_plan.factory();
        s.own->SetInterrupt(&m_cancelled);
        s.own->ReuseTimeline(m_timeline);
        AudioFormat format;
        if (s.own->OpenAudioStream(m_plan.path, m_plan.track) != 0 ||
            s.own->PrepareAudioSample(format) != 0 || format.nBlockAlign != m_format.nBlockAlign ||
            format.nSamplesPerSec != m_format.nSamplesPerSec) {
            return finish(true);
        }
        s.source = s.own.get();
        s.source->Seek(s.rtSeek);
    } else {
        s.source->Seek(0);
    }
    const auto want = static_cast<size_t>(kOverlapFrames * m_nBlock);
    const auto nextStart = [this](int64_t from) {
        const std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& other : m_sections) {
            if (other->first >= from && other->first > 0 && !other->dropped) {
                return other->first;
            }
        }
        return INT64_MAX;
    };
    int64_t pos = s.first;
    int64_t end = nextStart(pos + 1);
    // The user waits for the first columns; the rest is background work, below the dialog.
    bool lowered = s.index > 0 || m_nUrgent <= 0;
    if (lowered) {
        ThreadPriority::LowerForBackgroundWork();
    }
    std::vector<uint8_t> buffer(kFeedBytes + m_nBlock);
    std::vector<float> mixed;
    size_t held = 0;  // bytes of a frame split between two fills
    bool firstFill = true;
    // Until its first meeting a section checks that its frames lie where the times put them.
    bool checking = true;
    int64_t base = kNoPlace;
    int64_t given = 0;
    while (!Stopped(s)) {
        if (!lowered && pos >= m_nUrgent) {
            ThreadPriority::LowerForBackgroundWork();
            lowered = true;
        }
        const size_t n = Feed(s, buffer, held);
        if (n == 0) {
            return finish(false);  // the end of the stream
        }
        if (s.index > 0 && firstFill) {
            const int64_t place = s.source->StreamPlace();
            const std::lock_guard<std::mutex> lock(m_mutex);
            s.headPlace = place == kNoPlace ? kNoPlace : place - static_cast<int64_t>(n);
        }
        if (firstFill) {
            base = s.index == 0 ? m_nOrigin * m_nBlock : s.headPlace;
        }
        firstFill = false;
        given += static_cast<int64_t>(n);
        if (checking && (base == kNoPlace || s.source->StreamPlace() != base + given)) {
            size_t gap = m_nFirstGap.load();
            while (s.index < gap && !m_nFirstGap.compare_exchange_weak(gap, s.index)) {
            }
            checking = false;
        }
        bool headNow = false;
        if (s.index > 0 && s.head.size() < want) {
            const std::lock_guard<std::mutex> lock(m_mutex);
            const size_t take = std::min(n, want - s.head.size());
            s.head.insert(s.head.end(), buffer.begin() + static_cast<ptrdiff_t>(held),
                          buffer.begin() + static_cast<ptrdiff_t>(held + take));
            headNow = s.head.size() == want;
            s.headDone = s.headDone || headNow;
        }
        if (headNow) {
            m_cv.notify_all();
        }
        const size_t bytes = held + n;
        const auto frames = static_cast<int64_t>(bytes / m_nBlock);
        const int64_t take = std::min(frames, end - pos);
        Mix(buffer.data(), static_cast<size_t>(take), m_format, mixed);
        m_pyramid.AppendAt(s.id, mixed.data(), mixed.size());
        pos += take;
        const size_t used = static_cast<size_t>(take * m_nBlock);
        if (pos < end) {
            held = bytes - used;
            std::memmove(buffer.data(), buffer.data() + used, held);
            continue;
        }
        // The range ends here: the bytes past it, their place, and the overlap.
        std::vector<uint8_t> tail(buffer.begin() + static_cast<ptrdiff_t>(used),
                                  buffer.begin() + static_cast<ptrdiff_t>(bytes));
        const int64_t unfed = static_cast<int64_t>(tail.size() + s.pending.size() - s.pendingPos);
        const int64_t place = s.source->StreamPlace();
        const int64_t tailPlace = place == kNoPlace ? kNoPlace : place - unfed;
        while (tail.size() < want && !Stopped(s)) {
            const size_t more = Feed(s, buffer, 0);
            if (more == 0) {
                break;
            }
            tail.insert(tail.end(), buffer.begin(), buffer.begin() + static_cast<ptrdiff_t>(more));
        }
        if (Meet(s, tail, tailPlace)) {
            return finish(false);
        }
        // The next range is this section's now: it goes on from the bytes past its end.
        tail.insert(tail.end(), s.pending.begin() + static_cast<ptrdiff_t>(s.pendingPos),
                    s.pending.end());
        s.pending = std::move(tail);
        s.pendingPos = 0;
        held = 0;
        checking = false;
        end = nextStart(pos + 1);
    }
    finish(false);
}

bool WaveformSections::Meet(Section& s, std::vector<uint8_t>& tail, int64_t tailPlace) {
    Section* next = nullptr;
    std::unique_lock<std::mutex> lock(m_mutex);
    for (size_t k = s.index + 1; k < m_sections.size() && next == nullptr; ++k) {
        if (!m_sections[k]->dropped) {
            next = m_sections[k].get();
        }
    }
    if (next == nullptr) {
        return false;
    }
    while (!next->headDone && !Stopped(s)) {
        m_cv.wait_for(lock, std::chrono::milliseconds(50));
    }
    if (Stopped(s)) {
        return true;  // being dropped itself: the one before meets the next
    }
    const int64_t meeting = (m_nOrigin + next->first) * m_nBlock;
    const size_t overlap = std::min(tail.size(), static_cast<size_t>(kOverlapFrames * m_nBlock));
    if (!next->failed && !next->stop.load() && m_nFirstGap.load() >= next->index &&
        tailPlace == meeting && next->headPlace == meeting && next->head.size() == overlap &&
        std::equal(next->head.begin(), next->head.end(), tail.begin())) {
        return true;
    }
    // Not the same samples: the next section is stopped and forgotten.
    next->stop.store(true);
    m_cv.notify_all();
    while (!next->finished) {
        m_cv.wait_for(lock, std::chrono::milliseconds(50));
    }
    next->dropped = true;
    lock.unlock();
    m_pyramid.DropSection(next->id);
    return false;
}
