// Sample formats, headers and whole sample frames, with ffmpeg's own conversion as
// the reference.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <future>
#include <iterator>

#include "ConversionJob.h"
#include "FfmpegAudioSource.h"
#include "ScriptedSource.h"
#include "TestMedia.h"
#include "WavFile.h"

namespace {

class OutcomeObserver : public JobObserver {
  public:
    void OnJobRunning() override {}
    void OnJobProgress(int) override {}
    void OnJobNotice(const JobNotice&) override {}
    void OnJobFinished(const JobOutcome& o) override { m_done.set_value(o); }
    JobOutcome Wait() { return m_done.get_future().get(); }

  private:
    std::promise<JobOutcome> m_done;
};

JobOutcome Convert(
    const ConversionRequest& request,
    ConversionJob::SourceFactory factory = [] { return std::make_unique<FfmpegAudioSource>(); }) {
    OutcomeObserver observer;
    ConversionJob job(std::move(factory), observer);
    EXPECT_TRUE(job.Start(request));
    const JobOutcome outcome = observer.Wait();
    job.Join();
    return outcome;
}

ConversionRequest Whole(const std::string& in, const std::string& out, SampleFormat format,
                        WavHeaderKind header) {
    ConversionRequest r;
    r.mediaPath = in;
    r.outputPath = out;
    r.rtEnd = ConversionRequest::kToEndOfStream;
    r.sampleFormat = format;
    r.header = header;
    return r;
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The bytes of a WAV file's data chunk, found by walking its chunks.
std::vector<uint8_t> DataChunk(const std::vector<uint8_t>& file) {
    size_t at = 12;
    while (at + 8 <= file.size()) {
        uint32_t size = 0;
        std::memcpy(&size, file.data() + at + 4, 4);
        if (std::memcmp(file.data() + at, "data", 4) == 0) {
            const size_t end = std::min(file.size(), at + 8 + static_cast<size_t>(size));
            return {file.begin() + static_cast<long>(at + 8),
                    file.begin() + static_cast<long>(end)};
        }
        at += 8 + size + (size & 1);
    }
    return {};
}

// ffmpeg's conversion of the same file to a PCM codec, with the header options that
// the modern header copies; no tags, so that no LIST chunk comes between.
std::string FfmpegWav(const TestMedia& media, const std::string& in, const std::string& codec,
                      const std::string& name) {
    return media.Make(name, "-i " + ShellQuote(in) + " -vn -map_metadata -1 -c:a " + codec +
                                " -rf64 auto -fflags +bitexact");
}

}  // namespace

TEST(OutputFormat, EveryFormatAndHeaderIsWhatFfmpegWrites) {
    TestMedia media;
    const std::string tones = TestMedia::Tones(1.3, 48000);
    // Streams that need no delay taken off, so whole files compare from the first sample.
    const std::string aac = media.Make("aac.m4a", tones + " -c:a aac -b:a 160k");
    const std::string flac96 =
        media.Make("deep.flac", TestMedia::Tones(0.7, 96000) +
                                    " -c:a flac -sample_fmt s32 -bits_per_raw_sample 24");
    const std::string surround =
        media.Make("surround.wav",
                   tones + " -af \"pan=5.1|c0=c0|c1=c1|c2=c0|c3=c1|c4=c0|c5=c1\" -c:a pcm_s16le");
    const std::string cd = media.Make("cd.wav", TestMedia::Tones(0.5, 44100) + " -c:a pcm_s16le");
    // An odd count of one-byte frames: the data chunk needs a pad byte.
    const std::string odd = media.Make(
        "odd.wav", "-f lavfi -i \"sine=f=300:r=8000:d=0.2\" -af atrim=end_sample=1599 -c:a pcm_u8");
    struct Case {
        std::string in;
        SampleFormat format;
        const char* codec;  // the ffmpeg encoder that writes the same samples
    };
    const Case cases[] = {
        {aac, SampleFormat::S16, "pcm_s16le"},       {aac, SampleFormat::S24, "pcm_s24le"},
        {aac, SampleFormat::S32, "pcm_s32le"},       {aac, SampleFormat::F32, "pcm_f32le"},
        {aac, SampleFormat::Auto, "pcm_s16le"},      {flac96, SampleFormat::Auto, "pcm_s24le"},
        {flac96, SampleFormat::S16, "pcm_s16le"},    {flac96, SampleFormat::F32, "pcm_f32le"},
        {surround, SampleFormat::Auto, "pcm_s16le"}, {surround, SampleFormat::S24, "pcm_s24le"},
        {cd, SampleFormat::Auto, "pcm_s16le"},       {cd, SampleFormat::F32, "pcm_f32le"},
        {odd, SampleFormat::Auto, "pcm_u8"},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string label = c.in + " as " + SampleFormats::Name(c.format);
        SCOPED_TRACE(label);
        const std::string theirs =
            FfmpegWav(media, c.in, c.codec, "ref" + std::to_string(n) + ".wav");
        const std::string modern = media.Path("modern" + std::to_string(n) + ".wav");
        const std::string classic = media.Path("classic" + std::to_string(n) + ".wav");
        ++n;
        EXPECT_EQ(Convert(Whole(c.in, modern, c.format, WavHeaderKind::Modern)).status,
                  JobOutcome::Status::Completed);
        EXPECT_EQ(Convert(Whole(c.in, classic, c.format, WavHeaderKind::Classic)).status,
                  JobOutcome::Status::Completed);
        const std::vector<uint8_t> reference = ReadBytes(theirs);
        const std::vector<uint8_t> ours = ReadBytes(modern);
        ASSERT_GT(reference.size(), 100u);
        // Header and samples, byte for byte.
        EXPECT_EQ(ours.size(), reference.size());
        EXPECT_TRUE(ours == reference)
            << "first difference at byte "
            << std::distance(ours.begin(), std::mismatch(ours.begin(), ours.end(),
                                                         reference.begin(), reference.end())
                                               .first);
        // The classic file: the same samples behind the 44-byte header.
        const WavFile wav = WavFile::Read(classic);
        ASSERT_TRUE(wav.ok);
        EXPECT_EQ(wav.fmtSize, 16u);
        EXPECT_EQ(wav.formatTag, c.format == SampleFormat::F32 ? 3 : 1);
        EXPECT_EQ(wav.dataSize, wav.DataBytes());
        const std::vector<uint8_t> samples = DataChunk(reference);
        EXPECT_TRUE(
            std::equal(wav.Data(), wav.Data() + wav.DataBytes(), samples.begin(), samples.end()));
    }
}

TEST(OutputFormat, IntegerOutputCountsTheSamplesItClipsAndFloatKeepsThem) {
    TestMedia media;
    // A float stream half again as loud as full scale: 1 s at 8 kHz, one channel.
    const std::string loud = media.Make(
        "loud.wav", "-f lavfi -i \"aevalsrc=1.5*sin(2*PI*50*t):s=8000:d=1\" -c:a pcm_f32le");
    const std::vector<uint8_t> data = DataChunk(ReadBytes(loud));
    std::vector<float> source(data.size() / 4);
    std::memcpy(source.data(), data.data(), source.size() * 4);
    // Counted by hand: what rounds beyond the 16-bit range.
    int64_t over = 0;
    for (float x : source) {
        const double scaled = std::nearbyint(static_cast<double>(x) * 32768.0);
        over += (scaled > 32767 || scaled < -32768) ? 1 : 0;
    }
    ASSERT_GT(over, 2000);

    const JobOutcome s16 =
        Convert(Whole(loud, media.Path("s16.wav"), SampleFormat::Auto, WavHeaderKind::Classic));
    EXPECT_EQ(s16.clippedSamples, over);
    const JobOutcome f32 =
        Convert(Whole(loud, media.Path("f32.wav"), SampleFormat::F32, WavHeaderKind::Modern));
    EXPECT_EQ(f32.clippedSamples, 0);
    EXPECT_EQ(DataChunk(ReadBytes(media.Path("f32.wav"))), data);  // bit for bit
    // Integer input never clips.
    const std::string quiet = media.Make("quiet.wav", TestMedia::Tones(0.3, 8000));
    EXPECT_EQ(Convert(Whole(quiet, media.Path("q.wav"), SampleFormat::S16, WavHeaderKind::Classic))
                  .clippedSamples,
              0);
}

TEST(OutputFormat, TheDataChunkHoldsWholeSampleFrames) {
    // 5000-byte buffers split 6-byte (24-bit stereo) and 12-byte (16-bit 5.1) frames:
    // whether the budget or a stop ends the data, it ends on a whole frame.
    struct Case {
        uint16_t channels;
        uint16_t bits;
        bool stop;
    };
    for (const Case& c : {Case{2, 24, false}, Case{2, 24, true}, Case{6, 16, false},
                          Case{6, 16, true}, Case{1, 24, false}}) {
        SCOPED_TRACE(std::to_string(c.channels) + "x" + std::to_string(c.bits) +
                     (c.stop ? " stopped" : ""));
        TestMedia media;
        ScriptedSource scripted;
        scripted.format.nChannels = c.channels;
        scripted.format.wBitsPerSample = c.bits;
        scripted.format.nSamplesPerSec = 48000;
        scripted.format.nBlockAlign = static_cast<uint16_t>(c.channels * c.bits / 8);
        scripted.format.nAvgBytesPerSec = 48000u * scripted.format.nBlockAlign;
        scripted.fills = {ScriptedSource::kForever};
        ConversionJob* running = nullptr;
        scripted.onFill = [&](int index) {
            if (c.stop && index == 7) {
                running->RequestStop();
            }
        };
        OutcomeObserver observer;
        ConversionJob job([&] { return std::make_unique<BorrowedSource>(scripted); }, observer);
        running = &job;
        ConversionRequest request;
        request.mediaPath = "in";
        request.outputPath = media.Path("out.wav");
        request.rtEnd = 10'000'000 / 3;  // a third of a second: no whole number of buffers
        ASSERT_TRUE(job.Start(request));
        const JobOutcome outcome = observer.Wait();
        job.Join();
        EXPECT_EQ(outcome.status,
                  c.stop ? JobOutcome::Status::Stopped : JobOutcome::Status::Completed);
        const WavFile wav = WavFile::Read(request.outputPath);
        ASSERT_TRUE(wav.Valid());
        EXPECT_EQ(wav.DataBytes() % scripted.format.nBlockAlign, 0u);
        // All but the last partial frame of the buffers read.
        const size_t read = 5000u * (c.stop ? 8 : (wav.DataBytes() + 4999) / 5000);
        EXPECT_EQ(wav.DataBytes(), read - read % scripted.format.nBlockAlign);
    }
}
