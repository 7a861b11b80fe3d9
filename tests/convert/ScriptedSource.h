#pragma once

#include <functional>
#include <vector>

#include "AudioStreamSource.h"

// A source whose every answer is set by the test: fills follow the script of
// counts (bytes numbered so that the data can be checked), then the end.
class ScriptedSource : public AudioStreamSource {
  public:
    static constexpr long kForever = -100;  // a script entry: full buffers without end

    int openResult = 0;
    int prepareResult = 0;
    AudioFormat format;
    std::vector<long> fills;  // counts in order; kEndOfStream or any negative ends
    std::function<void(int fillIndex)> onFill;
    int64_t duration = 0;
    bool soundBetweenMarks = false;  // what HasSoundBetween says

    int seeks = 0;
    int64_t seekTarget = -1;
    int fillCalls = 0;
    bool released = false;
    uint8_t nextByte = 0;

    int OpenAudioStream(const std::string&, int) override { return openResult; }
    int PrepareAudioSample(AudioFormat& f, SampleFormat) override {
        f = format;
        return prepareResult;
    }
    int Seek(int64_t rt) override {
        ++seeks;
        seekTarget = rt;
        return 0;
    }
    long FillAudioBuffer(uint8_t* buffer) override {
        const int index = fillCalls++;
        if (onFill) {
            onFill(index);
        }
        long count = kEndOfStream;
        if (!fills.empty() && fills.back() == kForever &&
            index >= static_cast<int>(fills.size()) - 1) {
            count = static_cast<long>(AUDIO_BUFFER_SIZE);
        } else if (index < static_cast<int>(fills.size())) {
            count = fills[index];
        }
        for (long i = 0; i < count; ++i) {
            buffer[i] = nextByte++;
        }
        return count;
    }
    void Release() override { released = true; }
    int64_t StreamDuration() const override { return duration; }
    bool HasSoundBetween(int64_t, int64_t) const override { return soundBetweenMarks; }
    bool GetMediaDuration(const std::string&, int64_t& d) override {
        d = duration;
        return true;
    }
    std::string LastError() const override { return openResult ? "scripted failure" : ""; }
};

// Hands a test-owned source to a job, which destroys only this wrapper, so the
// test can still read what the job did to the source.
class BorrowedSource : public AudioStreamSource {
  public:
    explicit BorrowedSource(AudioStreamSource& source) : m_source(source) {}
    int OpenAudioStream(const std::string& path, int track) override {
        return m_source.OpenAudioStream(path, track);
    }
    int PrepareAudioSample(AudioFormat& f, SampleFormat sampleFormat) override {
        return m_source.PrepareAudioSample(f, sampleFormat);
    }
    int Seek(int64_t rt) override { return m_source.Seek(rt); }
    bool SetEnd(int64_t rt) override { return m_source.SetEnd(rt); }
    bool HasSoundBetween(int64_t from, int64_t to) const override {
        return m_source.HasSoundBetween(from, to);
    }
    long FillAudioBuffer(uint8_t* buffer) override { return m_source.FillAudioBuffer(buffer); }
    void Release() override { m_source.Release(); }
    int64_t StreamDuration() const override { return m_source.StreamDuration(); }
    bool GetMediaDuration(const std::string& path, int64_t& d) override {
        return m_source.GetMediaDuration(path, d);
    }
    std::string LastError() const override { return m_source.LastError(); }

  private:
    AudioStreamSource& m_source;
};
