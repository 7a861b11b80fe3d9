// The files the soak opens, made with the ffmpeg command, and what ffprobe tells of them;
// the outputs its steps type and choose.
#include <QStandardPaths>

#include <cctype>

#include "SoakCommon.h"
#include "TestMedia.h"

using namespace soak;

namespace {

// Seconds with up to 7 decimals, as ffprobe prints them, in media time; "N/A" is 0.
int64_t Seconds(const std::string& text) {
    int64_t whole = 0;
    int64_t fraction = 0;
    int digits = -1;  // of the fraction, once the point is passed
    for (char c : text) {
        if (c == '.') {
            digits = 0;
        } else if (std::isdigit(static_cast<unsigned char>(c)) == 0) {
            break;
        } else if (digits < 0) {
            whole = whole * 10 + (c - '0');
        } else if (digits < 7) {
            fraction = fraction * 10 + (c - '0');
            ++digits;
        }
    }
    for (; digits < 7; ++digits) {
        fraction *= 10;
    }
    return whole * kSecond + fraction;
}

// What ffprobe tells of a file: the container's length, and where its first picture is.
void Probe(SoakFile& file, const std::string& path) {
    std::string format;
    std::string video;
    const std::string ask = "ffprobe -v error -of csv=p=0 ";
    if (RunCommand(ask + "-show_entries format=start_time,duration " + ShellQuote(path), &format) !=
            0 ||
        RunCommand(ask + "-select_streams v:0 -show_entries stream=start_time " + ShellQuote(path),
                   &video) != 0) {
        return;
    }
    const size_t comma = format.find(',');
    file.duration = Seconds(format.substr(comma + 1));
    if (file.video) {
        file.firstPicture = Seconds(video) - Seconds(format.substr(0, comma));
    }
}

}  // namespace

const std::vector<SoakFile>& SoakRig::Files() {
    static TestMedia media;
    static const std::vector<SoakFile> files = [] {
        const auto make = [](const char* name, const std::string& args) {
            return QString::fromStdString(media.Make(name, args));
        };
        const std::string video = "-f lavfi -i testsrc=d=";
        std::vector<SoakFile> f;
        f.push_back(
            {"mpg",
             make("Clip.mpg", video + "6.5:s=160x120:r=25 -f lavfi -i sine=f=440:r=44100:d=6.5 "
                                      "-ac 2 -c:v mpeg1video -c:a mp2"),
             true, true, true, 2, 44100, 16, 25, 0, 0, 6500});
        f.push_back(
            {"mp4",
             make("clip.mp4", video + "5.5:s=160x120:r=25 -f lavfi -i sine=f=660:r=48000:d=5.5 "
                                      "-ac 2 -c:v mpeg4 -c:a aac"),
             true, true, true, 2, 48000, 16, 25, 0, 0, 5500});
        f.push_back({"mkv",
                     make("Matroska clip.mkv",
                          video + "4.5:s=96x72:r=15 -f lavfi -i "
                                  "sine=f=330:r=22050:d=4.5 -c:v mpeg4 -c:a libmp3lame"),
                     true, true, true, 1, 22050, 16, 15, 0, 0, 4500});
        f.push_back(
            {"wav", make("tone24.wav", "-f lavfi -i sine=f=550:r=48000:d=4.5 -ac 2 -c:a pcm_s24le"),
             true, false, true, 2, 48000, 24, 0, 0, 0, 4500});
        f.push_back({"mp3",
                     make("tone.mp3", "-f lavfi -i sine=f=770:r=44100:d=7.5 -c:a libmp3lame"), true,
                     false, true, 1, 44100, 16, 0, 0, 0, 7500});
        // Long enough that a conversion is still running when the next step comes.
        f.push_back(
            {"long",
             make("long.mpg", video + "40.5:s=64x48:r=25 -f lavfi -i sine=f=440:r=48000:d=40.5 "
                                      "-ac 2 -c:v mpeg1video -c:a mp2"),
             true, true, true, 2, 48000, 16, 25, 0, 0, 40500});
        f.push_back({"noaudio", make("silent.mp4", video + "3.5:s=96x72:r=15 -c:v mpeg4"), true,
                     true, false, 0, 0, 0, 15});
        // A copy of the first that a step deletes, open or not.
        SoakFile doomed = f[0];
        doomed.key = "doomed";
        doomed.path = QString::fromStdString(media.Path("doomed.mpg"));
        f.push_back(doomed);
        // Bytes that are no media, and an MP4 cut before its index.
        const QString corrupt = QString::fromStdString(media.Path("broken.mpg"));
        QByteArray noise(65536, '\0');
        uint32_t x = 12345;
        for (char& c : noise) {
            x = x * 1103515245u + 12345u;
            c = static_cast<char>(x >> 24);
        }
        QFile out(corrupt);
        if (out.open(QIODevice::WriteOnly)) {
            out.write(noise);
        }
        out.close();
        const QString cut = QString::fromStdString(media.Path("cut.mp4"));
        QFile cutFile(cut);
        if (cutFile.open(QIODevice::WriteOnly)) {
            cutFile.write(Bytes(f[1].path).left(40000));
        }
        cutFile.close();
        f.push_back({"corrupt", corrupt, false});
        f.push_back({"truncated", cut, false});
        f.push_back({"missing", QString::fromStdString(media.Path("gone.mpg")), false});
        f.push_back({"cancel", QString(), false});
        // Two tracks of different shapes: the one chosen decides the WAV's.
        f.push_back({"tracks",
                     make("Two tracks.mka",
                          "-f lavfi -i 'aevalsrc=0.3*sin(440*2*PI*t)|0.3*sin(660*2*PI*t):s=48000:"
                          "d=5' -f lavfi -i sine=f=880:r=22050:d=5 -map 0 -map 1 -c:a pcm_s16le"),
                     true, false, true, 2, 48000, 16, 0, 1, 22050, 5000});
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
