// The files the soak opens, made with the ffmpeg command, and what ffprobe tells of them;
// the outputs its steps type and choose.
#include <QStandardPaths>

#include <cmath>
#include <cstdlib>

#include "SoakRig.h"
#include "TestMedia.h"

using namespace soak;

namespace {

// Seconds as ffprobe prints them, in media time; "N/A" is 0.
int64_t Seconds(const std::string& text) {
    return std::llround(std::strtod(text.c_str(), nullptr) * kSecond);
}

// What ffprobe tells of a file: the container's length, and where its first picture is.
void Probe(SoakFile& file, const std::string& path) {
    std::string format;
    std::string video;
    const std::string ask = "ffprobe -v error -of csv=p=0 ";
    if (RunCommand(ask + "-show_entries format=start_time,duration " + ShellQuote(path), &format) ==
            0 &&
        RunCommand(ask + "-select_streams v:0 -show_entries stream=start_time " + ShellQuote(path),
                   &video) == 0) {
        const size_t comma = format.find(',');
        file.duration = Seconds(format.substr(comma + 1));
        file.firstPicture = file.fps > 0 ? Seconds(video) - Seconds(format.substr(0, comma)) : 0;
    }
}

}  // namespace

const std::vector<SoakFile>& SoakRig::Files() {
    static TestMedia media;
    static const std::vector<SoakFile> files = [] {
        const auto path = [](const char* name) { return QString::fromStdString(media.Path(name)); };
        const auto make = [](const char* name, const std::string& args) {
            return QString::fromStdString(media.Make(name, args));
        };
        // A tone of `seconds` on one or two channels, under a test picture of `size` at `fps`
        // (none at 0).
        const auto clip = [&](const char* key, const char* name, double seconds, const char* size,
                              int fps, int tone, int rate, int channels, int bits,
                              const std::string& codecs) {
            const std::string d = Str(QString::number(seconds));
            std::string args = fps > 0 ? "-f lavfi -i testsrc=d=" + d + ":s=" + size +
                                             ":r=" + std::to_string(fps) + " "
                                       : "";
            args += "-f lavfi -i sine=f=" + std::to_string(tone) + ":r=" + std::to_string(rate) +
                    ":d=" + d + (channels == 2 ? " -ac 2 " : " ") + codecs;
            const int ms = static_cast<int>(seconds * 1000);
            return SoakFile{key, make(name, args), true, channels, rate, bits, fps, 0, 0, ms};
        };
        std::vector<SoakFile> f = {
            clip("mpg", "Clip.mpg", 6.5, "160x120", 25, 440, 44100, 2, 16,
                 "-c:v mpeg1video -c:a mp2"),
            clip("mp4", "clip.mp4", 5.5, "160x120", 25, 660, 48000, 2, 16, "-c:v mpeg4 -c:a aac"),
            clip("mkv", "Matroska clip.mkv", 4.5, "96x72", 15, 330, 22050, 1, 16,
                 "-c:v mpeg4 -c:a libmp3lame"),
            clip("wav", "tone24.wav", 4.5, "", 0, 550, 48000, 2, 24, "-c:a pcm_s24le"),
            clip("mp3", "tone.mp3", 7.5, "", 0, 770, 44100, 1, 16, "-c:a libmp3lame"),
            // Long enough that a conversion is still running when the next step comes.
            clip("long", "long.mpg", 40.5, "64x48", 25, 440, 48000, 2, 16,
                 "-c:v mpeg1video -c:a mp2"),
            {"noaudio", make("silent.mp4", "-f lavfi -i testsrc=d=3.5:s=96x72:r=15 -c:v mpeg4"),
             true, 0, 0, 0, 15},
        };
        // A copy of the first that a step deletes, open or not.
        f.push_back(f[0]);
        f.back().key = "doomed";
        f.back().path = path("doomed.mpg");
        // Bytes that are no media, and an MP4 cut before its index.
        QByteArray noise(65536, '\0');
        uint32_t x = 12345;
        for (char& c : noise) {
            x = x * 1103515245u + 12345u;
            c = static_cast<char>(x >> 24);
        }
        Write(path("broken.mpg"), noise);
        Write(path("cut.mp4"), Bytes(f[1].path).left(40000));
        f.push_back({"corrupt", path("broken.mpg"), false});
        f.push_back({"truncated", path("cut.mp4"), false});
        f.push_back({"missing", path("gone.mpg"), false});
        f.push_back({"cancel", QString(), false});
        // Two tracks of different shapes: the one chosen decides the WAV's.
        f.push_back({"tracks",
                     make("Two tracks.mka",
                          "-f lavfi -i 'aevalsrc=0.3*sin(440*2*PI*t)|0.3*sin(660*2*PI*t):s=48000:"
                          "d=5' -f lavfi -i sine=f=880:r=22050:d=5 -map 0 -map 1 -c:a pcm_s16le"),
                     true, 2, 48000, 16, 0, 1, 22050, 5000});
        for (SoakFile& file : f) {
            if (file.opens) {
                Probe(file, Str(file.key == "doomed" ? f[0].path : file.path));
            }
        }
        return f;
    }();
    return files;
}

QString SoakRig::OutputPath(int index) {
    static const char* const kNames[] = {"/out.wav", "/Out Two.wav", "/precious.wav",
                                         "/no such folder/x.wav"};
    return index < 4 ? OutputDir() + kNames[index] : DefaultOutput();
}

QString SoakRig::DefaultOutput() {
    return QStandardPaths::writableLocation(QStandardPaths::MusicLocation) + "/output.wav";
}
