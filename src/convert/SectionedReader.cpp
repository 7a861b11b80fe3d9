#include "SectionedReader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include <unistd.h>

namespace {

constexpr size_t kBuffer = AudioStreamSource::AUDIO_BUFFER_SIZE;
constexpr size_t kBatch = 64 * kBuffer;
constexpr int64_t kUnknown = AudioStreamSource::kUnknownPlace;

bool SameFormat(const AudioFormat& a, const AudioFormat& b) {
    return a.wFormatTag == b.wFormatTag && a.nChannels == b.nChannels &&
           a.nSamplesPerSec == b.nSamplesPerSec && a.nBlockAlign == b.nBlockAlign &&
           a.wBitsPerSample == b.wBitsPerSample && a.channelMask == b.channelMask;
}

// The place of the first of the last `count` bytes a source gave.
int64_t PlaceBefore(const AudioStreamSource& source, int64_t count) {
    const int64_t place = source.StreamPlace();
    return place == kUnknown ? kUnknown : place - count;
}

// Moves all count bytes with pread or pwrite, on through short counts and interruptions.
template <typename Byte, typename Call>
bool Whole(Call call, int fd, Byte* data, size_t count, int64_t offset) {
    while (count > 0) {
        const ssize_t n = call(fd, data, count, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        count -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}

bool WriteAll(int fd, const uint8_t* data, size_t count, int64_t offset) {
    return Whole(pwrite, fd, data, count, offset);
}

bool ReadAll(int fd, uint8_t* data, size_t count, int64_t offset) {
    return Whole(pread, fd, data, count, offset);
}

}  // namespace

struct SectionedReader::Section {
    size_t index = 0;
    int64_t rtSeek = 0;
    int64_t firstFrame = 0;
    int64_t regionBytes = 0;  // what it gives before the next section starts
    int64_t fileOffset = 0;   // where its region lies in the output file
    std::unique_ptr<AudioStreamSource> source;
    std::thread thread;
    // Shared with its thread, under m_mutex.
    int64_t written = 0;
    bool headDone = false;
    bool done = false;    // its thread has let go of the source
    bool ended = false;   // the stream ended after `written` bytes of the region
    bool failed = false;  // after `written`, the source (if any) goes on with `tail`
    std::vector<uint8_t> head;
    int64_t headPlace = kUnknown;
    // The bytes read past the region (or not written when a write failed), and the place
    // of their first byte.
    std::vector<uint8_t> tail;
    int64_t tailPlace = kUnknown;
};

SectionedReader::SectionedReader(AudioStreamSource& first, Plan plan)
    : m_first(first), m_plan(std::move(plan)), m_timeline(first.Timeline()) {
    m_nBlock = std::max<int64_t>(m_plan.format.nBlockAlign, 1);
    const uint32_t rate = m_plan.format.nSamplesPerSec;
    const int count = std::max(m_plan.sections, 1);
    const int64_t span = m_plan.rtPlanEnd - m_plan.rtStart;
    for (int k = 0; k < count; ++k) {
        auto s = std::make_unique<Section>();
        s->index = static_cast<size_t>(k);
        s->rtSeek = m_plan.rtStart + static_cast<int64_t>(static_cast<__int128>(span) * k / count);
        s->firstFrame = m_first.FrameAt(s->rtSeek, rate);
        m_sections.push_back(std::move(s));
    }
    const int64_t planEnd = m_first.FrameAt(m_plan.rtPlanEnd, rate);
    const int64_t slack = static_cast<int64_t>(kBuffer) / m_nBlock + 1;
    bool ordered = true;
    for (int k = 0; k < count; ++k) {
        Section& s = *m_sections[k];
        const int64_t next = k + 1 < count ? m_sections[k + 1]->firstFrame : planEnd + slack;
        ordered = ordered && next > s.firstFrame;
        s.regionBytes = (next - s.firstFrame) * m_nBlock;
        s.fileOffset = m_plan.dataOffset + (s.firstFrame - m_sections[0]->firstFrame) * m_nBlock;
    }
    if (!ordered || count == 1 || m_plan.fd < 0 || m_plan.readFd < 0) {
        m_sections.resize(1);
        m_sections[0]->regionBytes = INT64_MAX;
    }
    m_direct = &m_first;
    m_nDirectLeft = m_sections[0]->regionBytes;
    for (size_t k = 1; k < m_sections.size(); ++k) {
        Section& s = *m_sections[k];
        try {
            s.thread = std::thread(&SectionedReader::Decode, this, std::ref(s));
        } catch (const std::system_error&) {
            s.failed = s.done = s.headDone = true;
        }
    }
}

SectionedReader::~SectionedReader() {
    StopAll();
    if (m_plan.readFd >= 0) {
        close(m_plan.readFd);
    }
}

void SectionedReader::StopAll() {
    m_stop.store(true);
    for (auto& s : m_sections) {
        if (s->thread.joinable()) {
            s->thread.join();
        }
    }
}

void SectionedReader::NoteGap(size_t section) {
    size_t first = m_nFirstGap.load();
    while (section < first && !m_nFirstGap.compare_exchange_weak(first, section)) {
    }
}

int64_t SectionedReader::Stop() {
    StopAll();
    int64_t clipped = m_first.ClippedSamples();
    for (int k = 1; k <= m_nCurrent; ++k) {
        clipped += m_sections[k]->source->ClippedSamples();
    }
    return clipped;
}

void SectionedReader::ReadOverlap(AudioStreamSource& source, std::vector<uint8_t>& tail,
                                  const std::atomic<bool>& stop, int64_t want) {
    std::vector<uint8_t> buffer(kBuffer);
    while (static_cast<int64_t>(tail.size()) < want && !stop.load()) {
        const long n = source.FillAudioBuffer(buffer.data());
        if (n <= 0) {
            return;
        }
        tail.insert(tail.end(), buffer.begin(), buffer.begin() + n);
    }
}

void SectionedReader::Decode(Section& s) {
    const auto finish = [this, &s](bool failed, bool ended) {
        const std::lock_guard<std::mutex> lock(m_mutex);
        s.failed = failed;
        s.ended = ended;
        s.headDone = s.done = true;
        m_cv.notify_all();
    };
    std::unique_ptr<AudioStreamSource> source = m_plan.factory();
    source->ReuseTimeline(m_timeline);
    AudioFormat format;
    if (source->OpenAudioStream(m_plan.mediaPath, m_plan.track) != 0 ||
        source->PrepareAudioSample(format, m_plan.sampleFormat) != 0 ||
        !SameFormat(format, m_plan.format)) {
        return finish(true, false);
    }
    source->Seek(s.rtSeek);
    if (m_plan.rtExactEnd != INT64_MAX) {
        source->SetEnd(m_plan.rtExactEnd);
    }
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        s.source = std::move(source);
    }
    AudioStreamSource& src = *s.source;
    const int64_t want = kOverlapFrames * m_nBlock;
    std::vector<uint8_t> buffer(kBuffer);
    std::vector<uint8_t> head;
    int64_t headPlace = kUnknown;
    // Written in batches, and told in batches: a system call and a wake-up per buffer
    // would cost more than the decode.
    std::vector<uint8_t> batch;
    batch.reserve(kBatch);
    int64_t written = 0;
    const auto publishHead = [&] {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (!s.headDone) {
            s.head = head;
            s.headPlace = headPlace;
            s.headDone = true;
            m_cv.notify_all();
        }
    };
    // On a failed write the source goes on after the bytes not written.
    const auto flush = [&](const uint8_t* rest, size_t restCount) {
        if (WriteAll(m_plan.fd, batch.data(), batch.size(), s.fileOffset + written)) {
            written += static_cast<int64_t>(batch.size());
            batch.clear();
            return true;
        }
        publishHead();
        const std::lock_guard<std::mutex> lock(m_mutex);
        s.tail = std::move(batch);
        s.tail.insert(s.tail.end(), rest, rest + restCount);
        s.failed = s.done = true;
        m_cv.notify_all();
        return false;
    };
    int64_t given = 0;
    while (!m_stop.load() && m_nFirstGap.load() >= s.index) {
        const long n = src.FillAudioBuffer(buffer.data());
        if (n <= 0) {
            if (!flush(nullptr, 0)) {
                return;
            }
            publishHead();
            {
                const std::lock_guard<std::mutex> lock(m_mutex);
                s.written = written;
            }
            return finish(false, true);
        }
        if (written == 0 && batch.empty()) {
            headPlace = PlaceBefore(src, n);
        }
        given += n;
        if (headPlace == kUnknown || src.StreamPlace() != headPlace + given) {
            NoteGap(s.index);
        }
        const auto headTake = std::min<int64_t>(n, want - static_cast<int64_t>(head.size()));
        if (headTake > 0) {
            head.insert(head.end(), buffer.begin(), buffer.begin() + headTake);
            if (static_cast<int64_t>(head.size()) == want) {
                publishHead();
            }
        }
        const auto pending = static_cast<int64_t>(batch.size());
        const int64_t take = std::min<int64_t>(n, s.regionBytes - written - pending);
        batch.insert(batch.end(), buffer.begin(), buffer.begin() + take);
        const bool regionDone = written + static_cast<int64_t>(batch.size()) == s.regionBytes;
        if (batch.size() < kBatch && !regionDone) {
            continue;
        }
        if (!flush(buffer.data() + take, static_cast<size_t>(n - take))) {
            return;
        }
        std::vector<uint8_t> tail;
        int64_t tailPlace = kUnknown;
        if (regionDone) {
            publishHead();
            tail.assign(buffer.begin() + take, buffer.begin() + n);
            tailPlace = PlaceBefore(src, n - take);
            ReadOverlap(src, tail, m_stop, want);
        }
        const std::lock_guard<std::mutex> lock(m_mutex);
        s.written = written;
        if (regionDone) {
            s.tail = std::move(tail);
            s.tailPlace = tailPlace;
            s.done = true;
        }
        m_cv.notify_all();
        if (regionDone) {
            return;
        }
    }
    // Stopped: nothing waits for it any more.
    finish(true, false);
}

long SectionedReader::Fill(uint8_t* buffer) {
    m_bInPlace = m_nReadyPos >= m_ready.size() && !m_bEnded && m_direct == nullptr && TakeInPlace();
    if (m_bInPlace) {
        return static_cast<long>(kBuffer);
    }
    size_t count = 0;
    while (count < kBuffer) {
        if (m_nReadyPos < m_ready.size()) {
            const size_t n = std::min(kBuffer - count, m_ready.size() - m_nReadyPos);
            std::memcpy(buffer + count, m_ready.data() + m_nReadyPos, n);
            m_nReadyPos += n;
            count += n;
            continue;
        }
        m_ready.clear();
        m_nReadyPos = 0;
        if (m_bEnded || !(m_direct != nullptr ? ReadDirect() : ReadFile(kBuffer - count))) {
            m_bEnded = true;
            break;
        }
    }
    if (count == 0 && m_bEnded) {
        return AudioStreamSource::kEndOfStream;
    }
    return static_cast<long>(count);
}

bool SectionedReader::ReadDirect() {
    m_scratch.resize(kBuffer);
    const long n = m_direct->FillAudioBuffer(m_scratch.data());
    if (n <= 0) {
        return false;
    }
    if (m_nDirectLeft != INT64_MAX) {
        // Until the first section's end its bytes must lie where the times put them, or
        // the later sections' places in the file are wrong: then one pass from here.
        m_nDelivered += n;
        const int64_t expected = (m_sections[0]->firstFrame * m_nBlock) + m_nDelivered;
        if (m_nCurrent == 0 && m_first.StreamPlace() != expected) {
            NoteGap(0);
            StopAll();
            m_nDirectLeft = INT64_MAX;
        }
    }
    if (m_nDirectLeft == INT64_MAX || n < m_nDirectLeft) {
        m_ready.assign(m_scratch.begin(), m_scratch.begin() + n);
        if (m_nDirectLeft != INT64_MAX) {
            m_nDirectLeft -= n;
        }
        return true;
    }
    // The first section's region ends in this buffer.
    const auto take = static_cast<size_t>(m_nDirectLeft);
    m_ready.assign(m_scratch.begin(), m_scratch.begin() + static_cast<ptrdiff_t>(take));
    Section& s = *m_sections[static_cast<size_t>(m_nCurrent)];
    s.tail.assign(m_scratch.begin() + static_cast<ptrdiff_t>(take), m_scratch.begin() + n);
    s.tailPlace = PlaceBefore(*m_direct, n - static_cast<int64_t>(take));
    const std::atomic<bool> never{false};
    ReadOverlap(*m_direct, s.tail, never, kOverlapFrames * m_nBlock);
    m_nDirectLeft = 0;
    Meet();
    return true;
}

bool SectionedReader::TakeInPlace() {
    Section& s = *m_sections[static_cast<size_t>(m_nCurrent)];
    const auto whole = static_cast<int64_t>(kBuffer);
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cv.wait(lock, [&] { return s.written - m_nFileRead >= whole || s.done; });
    if (s.written - m_nFileRead < whole) {
        return false;
    }
    m_nFileRead += whole;
    return true;
}

bool SectionedReader::ReadFile(size_t want) {
    Section& s = *m_sections[static_cast<size_t>(m_nCurrent)];
    int64_t available = 0;
    bool done = false;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait(lock, [&] { return s.written > m_nFileRead || s.done; });
        available = s.written - m_nFileRead;
        done = s.done;
    }
    if (available > 0) {
        const auto n = static_cast<size_t>(std::min<int64_t>(available, want));
        m_ready.resize(n);
        if (!ReadAll(m_plan.readFd, m_ready.data(), n, s.fileOffset + m_nFileRead)) {
            m_ready.clear();
            m_bReadBackFailed = true;
            return false;
        }
        m_nFileRead += static_cast<int64_t>(n);
        return true;
    }
    if (done && s.failed) {
        // Where its file writes stopped, its decoder goes on as one pass.
        StopAll();
        m_direct = s.source.get();
        m_nDirectLeft = INT64_MAX;
        m_ready = s.tail;
        return m_direct != nullptr;
    }
    if (done && s.ended) {
        return false;
    }
    Meet();
    return true;
}

void SectionedReader::Meet() {
    const size_t k = static_cast<size_t>(m_nCurrent);
    Section& cur = *m_sections[k];
    if (k + 1 < m_sections.size()) {
        Section& next = *m_sections[k + 1];
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait(lock, [&] { return next.headDone; });
        const int64_t meeting = next.firstFrame * m_nBlock;
        const size_t overlap =
            std::min(cur.tail.size(), static_cast<size_t>(kOverlapFrames * m_nBlock));
        const bool agree = !next.failed && cur.tailPlace == meeting && next.headPlace == meeting &&
                           next.head.size() == overlap &&
                           std::equal(next.head.begin(), next.head.end(), cur.tail.begin());
        if (agree) {
            m_direct = nullptr;
            m_nCurrent += 1;
            m_nFileRead = 0;
            return;
        }
    }
    // The sections do not meet (or this was the last): one pass from here.
    StopAll();
    m_direct = k == 0 ? &m_first : cur.source.get();
    m_nDirectLeft = INT64_MAX;
    m_ready.insert(m_ready.end(), cur.tail.begin(), cur.tail.end());
}
