// Every container and codec the documentation names, made on the spot: the engine's
// samples, from the start and from two cut points, against ffmpeg's own decode of the
// same file. Integer PCM and lossless codecs must match exactly; floating-point decoders
// may differ by one step where the two round differently.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "FfmpegAudioSource.h"
#include "TestMedia.h"

namespace {

// Samples as signed integers, whatever their width on the wire.
std::vector<int32_t> Samples(const std::string& bytes, int bits) {
    const size_t width = static_cast<size_t>(bits / 8);
    std::vector<int32_t> s(bytes.size() / width);
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    for (size_t i = 0; i < s.size(); ++i, p += width) {
        switch (bits) {
            case 8:
                s[i] = p[0] - 128;
                break;
            case 16:
                s[i] = static_cast<int16_t>(p[0] | p[1] << 8);
                break;
            case 24:
                s[i] = static_cast<int32_t>(
                           static_cast<uint32_t>(p[0] << 8 | p[1] << 16 | p[2] << 24)) >>
                       8;
                break;
            default:
                s[i] = static_cast<int32_t>(static_cast<uint32_t>(p[0]) | p[1] << 8 | p[2] << 16 |
                                            static_cast<uint32_t>(p[3]) << 24);
        }
    }
    return s;
}

// The engine's whole output from rtStart on.
std::string EngineDecode(const std::string& path, int64_t rtStart, AudioFormat& format) {
    FfmpegAudioSource source;
    std::string bytes;
    EXPECT_EQ(source.OpenAudioStream(path), 0) << source.LastError();
    EXPECT_EQ(source.PrepareAudioSample(format), 0) << source.LastError();
    source.Seek(rtStart);
    uint8_t buffer[AudioStreamSource::AUDIO_BUFFER_SIZE];
    for (long n; (n = source.FillAudioBuffer(buffer)) != AudioStreamSource::kEndOfStream;) {
        bytes.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
    }
    return bytes;
}

// ffmpeg's own decode of the whole file, in the engine's output depth.
std::string FfmpegDecode(const std::string& path, int bits) {
    const char* format = bits == 8 ? "u8" : bits == 16 ? "s16le" : bits == 24 ? "s24le" : "s32le";
    std::string raw;
    EXPECT_EQ(RunCommand("ffmpeg -nostdin -loglevel error -i " + ShellQuote(path) + " -vn -f " +
                             format + " -c:a pcm_" + format + " -",
                         &raw),
              0);
    return raw;
}

// When the first decoded sample is, by the file's own timestamps, in seconds from the
// container's start: 0 for most files; later where the encoder's delay is stamped in.
double FirstSampleTime(const std::string& path) {
    std::string out;
    EXPECT_EQ(RunCommand("ffprobe -v error -select_streams a:0 -read_intervals %+#4 "
                         "-show_entries frame=pts_time:format=start_time -of default=nw=1 " +
                             ShellQuote(path),
                         &out),
              0);
    const size_t pts = out.find("pts_time=");
    const size_t start = out.find("start_time=");
    if (pts == std::string::npos || start == std::string::npos) {
        ADD_FAILURE() << out;
        return 0;
    }
    return std::atof(out.c_str() + pts + 9) - std::atof(out.c_str() + start + 11);
}

}  // namespace

TEST(FormatSweep, EveryNamedFormatDecodesAndCutsAsFfmpegDoes) {
    struct Row {
        const char* file;
        const char* args;  // after the sound source
        int rate;
        int channels;
        int bits;
        int tolerance;      // steps
        bool msTimestamps;  // the container counts milliseconds: a cut may be up to one off
        // Sample frames the file's timestamps put before its first decoded sample.
        int stamped;
        // Sample frames by which the decoded sound lags its timestamps (the codec's delay,
        // which the file does not record and the engine takes off).
        int lead;
    };
    const std::string video = " -f lavfi -i testsrc=d=5:s=160x120:r=25 -c:v mpeg1video";
    const Row rows[] = {
        {"u8.wav", "-c:a pcm_u8", 44100, 2, 8, 0, false, 0, 0},
        {"s16.wav", "-c:a pcm_s16le", 44100, 2, 16, 0, false, 0, 0},
        {"s24.wav", "-c:a pcm_s24le", 48000, 2, 24, 0, false, 0, 0},
        {"s32.wav", "-c:a pcm_s32le", 48000, 2, 32, 0, false, 0, 0},
        {"pcm.aiff", "-c:a pcm_s16be", 44100, 2, 16, 0, false, 0, 0},
        {"hires.flac", "-c:a flac -sample_fmt s32 -ar 96000", 96000, 2, 24, 0, false, 0, 0},
        // MPEG audio's analysis and synthesis filters: 512 - 32 + 1 samples, which
        // FFmpeg's muxer puts in the timestamps where there is a picture to start with.
        {"program.mpg", "-c:a mp2 -b:a 192k -f mpeg", 44100, 2, 16, 1, false, 0, 0},
        {"transport.ts", "-c:a mp2 -b:a 192k -f mpegts", 48000, 2, 16, 1, false, 0, 0},
        // The encoder's delay is in the LAME tag, which the demuxer honours.
        {"song.mp3", "-c:a libmp3lame -b:a 192k", 44100, 2, 16, 1, false, 0, 0},
        // One AC-3 transform block.
        {"stereo.ac3", "-c:a ac3", 48000, 2, 16, 1, false, 0, 256},
        {"surround.ac3", "-c:a ac3 -ac 6", 48000, 6, 16, 1, false, 0, 256},
        {"aac.mp4", "-c:a aac -b:a 160k", 48000, 2, 16, 1, false, 0, 0},
        {"voice.opus", "-c:a libopus -b:a 128k", 48000, 2, 16, 1, false, 0, 0},
        {"vorbis.ogg", "-c:a libvorbis", 44100, 2, 16, 1, false, 0, 0},
        // FFmpeg's WMA encoder stamps its first decoded frame two frames (4096 samples) in,
        // and its sound lags that by one frame.
        {"windows.wma", "-c:a wmav2 -b:a 128k", 44100, 2, 16, 1, true, 4096, 2048},
        {"pcm.mov", "-c:a pcm_s16le -f mov", 48000, 2, 16, 0, false, 0, 0},
        {"pcm.mkv", "-c:a pcm_s16le", 48000, 2, 16, 0, true, 0, 0},
    };
    TestMedia media;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        // Program and transport streams get a picture.
        const bool withVideo = std::strstr(row.args, "-f mpeg") != nullptr;
        // Faded in and out: the decoders that fill silence and noise from a random
        // generator (AC-3 dither, AAC noise substitution) then have nothing to fill.
        const std::string path =
            media.Make(row.file, TestMedia::Tones(5, row.rate) + (withVideo ? video : "") +
                                     " -ar " + std::to_string(row.rate) +
                                     " -af afade=t=in:d=0.2,afade=t=out:st=4.5:d=0.5 " + row.args);
        // Milliseconds round the stamp.
        EXPECT_NEAR(FirstSampleTime(path), static_cast<double>(row.stamped) / row.rate, 0.001);
        const std::vector<int32_t> reference = Samples(FfmpegDecode(path, row.bits), row.bits);
        ASSERT_GT(reference.size(), static_cast<size_t>(4 * row.rate * row.channels));
        for (const double seconds : {0.0, 1.25, 3.5}) {
            SCOPED_TRACE(seconds);
            AudioFormat format;
            const std::vector<int32_t> ours =
                Samples(EngineDecode(path, std::llround(seconds * 10'000'000), format), row.bits);
            ASSERT_EQ(format.nSamplesPerSec, static_cast<uint32_t>(row.rate));
            ASSERT_EQ(format.nChannels, row.channels);
            ASSERT_EQ(format.wBitsPerSample, row.bits);
            // The first sample written is the one that was encoded at the mark, and
            // everything after it follows: in ffmpeg's decode, past the codec's delay.
            const int64_t mark =
                std::max<int64_t>(0, std::llround(seconds * row.rate) - row.stamped + row.lead);
            const int64_t slack = row.msTimestamps && seconds > 0 ? row.rate / 1000 : 0;
            // The cut runs to the end of the stream, so where it starts in the whole
            // decode follows from its length.
            const int64_t first = static_cast<int64_t>(reference.size() / row.channels) -
                                  static_cast<int64_t>(ours.size() / row.channels);
            EXPECT_LE(std::llabs(first - mark), slack)
                << "the cut starts " << first - mark << " sample frames from the mark";
            ASSERT_EQ(ours.size() % row.channels, 0u);
            ASSERT_GE(first, 0);
            int worst = 0;
            size_t at = 0;
            for (size_t i = 0; i < ours.size(); ++i) {
                const int d =
                    std::abs(ours[i] - reference[static_cast<size_t>(first) * row.channels + i]);
                if (d > worst) {
                    worst = d;
                    at = i;
                }
            }
            EXPECT_LE(worst, row.tolerance) << "at sample frame " << at / row.channels;
        }
    }
}
