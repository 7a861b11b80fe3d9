#include "WaveformBuilder.h"

#include <algorithm>
#include <thread>

#include "WaveformSections.h"

WaveformBuilder::WaveformBuilder(AudioSourceFactory factory, size_t keep, int threads,
                                 int64_t sectionsFrom)
    : m_factory(std::move(factory)),
      m_keep(keep),
      m_nThreads(threads > 0 ? threads : static_cast<int>(std::thread::hardware_concurrency())),
      m_rtSectionsFrom(sectionsFrom) {}

WaveformBuilder::~WaveformBuilder() {
    for (const auto& job : m_jobs) {
        job->cancelled.store(true);
    }
    for (const auto& job : m_jobs) {
        job->thread.join();
    }
}

std::shared_ptr<const WaveformPyramid> WaveformBuilder::Start(
    const std::string& path, int track, const std::optional<MediaTimeline>& timeline) {
    JoinFinished();
    // A timeline not given is the one the file has; a file without restarts has one
    // waveform whether its timeline was scanned or not.
    const size_t restarts = timeline ? timeline->Segments().size() : 0;
    if (m_current && !m_current->finished.load() && m_current->path == path &&
        m_current->track == track && m_current->restarts == restarts) {
        return m_current->pyramid;
    }
    Cancel();
    for (auto it = m_kept.begin(); it != m_kept.end(); ++it) {
        if (it->path == path && it->track == track && it->restarts == restarts) {
            m_kept.splice(m_kept.begin(), m_kept, it);
            return it->pyramid;
        }
    }
    auto job = std::make_shared<Job>();
    job->path = path;
    job->track = track;
    job->timeline = timeline;
    job->restarts = restarts;
    // The rate is known once the source is open; until then an empty waveform stands.
    job->pyramid = std::make_shared<WaveformPyramid>();
    Job* raw = job.get();
    job->thread = std::thread([this, raw] { Run(*raw); });
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
    m_kept.push_front({job.path, job.track, job.restarts, job.pyramid});
    while (m_kept.size() > m_keep) {
        m_kept.pop_back();
    }
}

void WaveformBuilder::Run(Job& job) const {
    // The sections lower their own priority (WaveformSections).
    std::unique_ptr<AudioStreamSource> source = m_factory();
    source->SetInterrupt(&job.cancelled);
    if (job.timeline) {
        source->ReuseTimeline(*job.timeline);
    }
    AudioFormat format;
    if (source->OpenAudioStream(job.path, job.track) == 0 &&
        source->PrepareAudioSample(format) == 0 && format.nBlockAlign > 0) {
        job.pyramid->SetSampleRate(static_cast<int>(format.nSamplesPerSec));
        WaveformSections::Plan plan;
        plan.factory = m_factory;
        plan.path = job.path;
        plan.track = job.track;
        // Sections only where they pay and give the very samples one pass gives.
        const bool sectioned = m_nThreads > 1 && source->DecodesAlike() &&
                               job.path != AudioStreamSource::kStandardInput &&
                               source->StreamDuration() >= m_rtSectionsFrom;
        plan.sections = sectioned ? m_nThreads : 1;
        // A cancelled read ends the stream too, but the waveform is not whole.
        if (WaveformSections(*source, format, *job.pyramid, plan, job.cancelled).Run()) {
            job.pyramid->Finish();
        }
    } else if (!job.cancelled.load()) {
        job.pyramid->Finish();  // nothing to show, and nothing more will come
    }
    job.finished.store(true);
}
