#include "SegmentExport.h"

#include <algorithm>
#include <cstdio>

#include "ConversionJob.h"
#include "FfmpegAudioSource.h"
#include "WavChunks.h"
#include "WavWriter.h"

// The file being written and where its segments begin in it.
struct SegmentExport::Writing {
    std::string path;
    std::unique_ptr<WavWriter> writer;
    std::vector<WavChunks::CuePoint> cues;
};

SegmentExport::SegmentExport(AudioSourceFactory sources, Hooks hooks, int64_t maxDataBytes)
    : m_sources(std::move(sources)), m_hooks(std::move(hooks)), m_nMaxDataBytes(maxDataBytes) {}

bool SegmentExport::Open(const SegmentRequest& request, JobOutcome& outcome) {
    m_source = m_sources();
    m_bUsed = false;
    if (!ConversionJob::OpenSource(*m_source, request.mediaPath, request.track, outcome)) {
        return false;
    }
    if (m_source->PrepareAudioSample(m_format, request.sampleFormat) != 0) {
        outcome.status = JobOutcome::Status::PrepareFailed;
        outcome.reason = m_source->LastError();
        return false;
    }
    outcome.format = m_format;
    return true;
}

bool SegmentExport::Cut(const Segment& segment, Writing& into, JobOutcome& outcome) {
    m_bUsed = true;
    m_source->Seek(segment.start);
    const bool exact = m_source->SetEnd(segment.end);
    const int64_t budget =
        exact ? INT64_MAX : ConversionJob::ExactBudget(segment.start, segment.end, m_format);
    const int64_t block = std::max<int64_t>(m_format.nBlockAlign, 1);
    std::vector<uint8_t> buffer(AudioStreamSource::AUDIO_BUFFER_SIZE);
    int64_t written = 0;
    for (;;) {
        const long count = m_source->FillAudioBuffer(buffer.data());
        if (count == AudioStreamSource::kEndOfStream || count < 0 || written >= budget) {
            return true;
        }
        const bool stop = m_hooks.stopAsked && m_hooks.stopAsked();
        // A buffer may end inside a sample frame: the next one carries on with it.
        const auto n = static_cast<size_t>(std::min<int64_t>(count, budget - written));
        const WavWriter::Result w =
            into.writer->WriteWavData(buffer.data(), n, m_format.nBlockAlign);
        if (w == WavWriter::Result::WriteFailed) {
            m_hooks.notice(JobNotice::Kind::CannotWrite, into.path);
            outcome.status = JobOutcome::Status::WriteFailed;
            return false;
        }
        written += static_cast<int64_t>(n);
        m_nDoneBytes += static_cast<int64_t>(n);
        if (w == WavWriter::Result::SizeLimit) {
            m_hooks.notice(JobNotice::Kind::SizeLimit, into.path);
            outcome.status = JobOutcome::Status::SizeLimit;
            return false;
        }
        if (stop) {
            outcome.status = JobOutcome::Status::Stopped;
            return false;
        }
        if (m_nTotalFrames > 0 && m_hooks.progress) {
            const int position =
                ConversionJob::ProgressPosition(m_nDoneBytes / block, m_nTotalFrames);
            if (position != m_nLastPosition) {
                m_nLastPosition = position;
                m_hooks.progress(position);
            }
        }
    }
}

bool SegmentExport::Finish(Writing& file, const std::vector<uint8_t>& trailing,
                           JobOutcome& outcome) {
    outcome.dataBytes += file.writer->DataBytes();
    if (file.writer->FinishWavFile(m_format, trailing) != WavWriter::Result::Ok) {
        m_hooks.notice(JobNotice::Kind::CannotWrite, file.path);
        outcome.status = JobOutcome::Status::WriteFailed;
        return false;
    }
    ++outcome.filesWritten;
    return true;
}

JobOutcome SegmentExport::Run(const SegmentRequest& request) {
    JobOutcome outcome;
    if (!Open(request, outcome)) {
        return outcome;
    }
    const uint32_t rate = m_format.nSamplesPerSec;
    const bool joined = !request.joinedOutput.empty();
    // Where each segment's sound lies in the source, in sample frames from its start.
    const auto reference = [this, rate](const Segment& s) {
        return static_cast<uint64_t>(
            std::max<int64_t>(m_source->AudioStreamSource::FrameAt(s.start, rate), 0));
    };
    std::vector<size_t> order;
    for (size_t i = 0; i < request.segments.size(); ++i) {
        if (joined || (i < request.outputs.size() && !request.outputs[i].empty())) {
            order.push_back(i);
            m_nTotalFrames +=
                std::max<int64_t>(m_source->FrameAt(request.segments[i].end, rate) -
                                      m_source->FrameAt(request.segments[i].start, rate),
                                  0);
        }
    }
    // Cut in time order: each seek goes forward, as far as the list allows.
    std::stable_sort(order.begin(), order.end(), [&request](size_t a, size_t b) {
        return request.segments[a].start < request.segments[b].start;
    });
    const auto begin = [&](Writing& file, const std::string& path) {
        if (request.replaceExisting) {
            std::remove(path.c_str());
        }
        file.path = path;
        file.writer = std::make_unique<WavWriter>(m_nMaxDataBytes);
        const WavWriter::Result r = file.writer->BeginWavFile(path, request.header, m_format);
        if (r != WavWriter::Result::Ok) {
            m_hooks.notice(r == WavWriter::Result::OpenFailed ? JobNotice::Kind::CannotOpenOutput
                                                              : JobNotice::Kind::CannotWrite,
                           path);
            outcome.status = JobOutcome::Status::OutputFailed;
            return false;
        }
        return true;
    };
    const int count = static_cast<int>(order.size());
    Writing joinedFile;
    if (joined && !begin(joinedFile, request.joinedOutput)) {
        return outcome;
    }
    for (int k = 0; k < count; ++k) {
        const size_t i = order[static_cast<size_t>(k)];
        const Segment& segment = request.segments[i];
        if (m_hooks.segment) {
            m_hooks.segment(k + 1, count);
        }
        // A fresh source decodes a mark near the start from the start, as a single cut
        // does; one that has been read from is opened again for it.
        if (m_bUsed && segment.start <= 2 * FfmpegAudioSource::kSeekPreroll &&
            !Open(request, outcome)) {
            return outcome;
        }
        Writing single;
        Writing& file = joined ? joinedFile : single;
        if (!joined && !begin(file, request.outputs[i])) {
            return outcome;
        }
        if (joined) {
            file.cues.push_back({static_cast<uint32_t>(file.writer->DataBytes() /
                                                       std::max<int>(m_format.nBlockAlign, 1)),
                                 segment.name});
        }
        const bool more = Cut(segment, file, outcome);
        if (!joined) {
            const std::vector<uint8_t> trailing =
                request.bext ? WavChunks::Bext(segment.name, reference(segment))
                             : std::vector<uint8_t>{};
            if (!Finish(file, trailing, outcome) || !more) {
                return outcome;
            }
        } else if (!more) {
            break;
        }
    }
    if (joined) {
        std::vector<uint8_t> trailing = WavChunks::Cues(joinedFile.cues);
        if (request.bext && !request.segments.empty()) {
            const std::vector<uint8_t> bext = WavChunks::Bext(
                request.segments[order.front()].name, reference(request.segments[order.front()]));
            trailing.insert(trailing.begin(), bext.begin(), bext.end());
        }
        Finish(joinedFile, trailing, outcome);
    }
    return outcome;
}
