// The files: the media the soak opens, made with the ffmpeg command, with what ffprobe tells
// of them; and Convert with what it leaves behind, the conversion's end as expected and
// every WAV compared with orvane-extract's for the same cut.
#include <QStandardPaths>
#include <QtEndian>

#include <cmath>
#include <cstdlib>

#include "SoakRig.h"
#include "TestMedia.h"

using namespace soak;
using S = JobOutcome::Status;

namespace {

// Seconds as ffprobe prints them, in media time; "N/A" is 0.
int64_t Seconds(const std::string& text) {
    return std::llround(std::strtod(text.c_str(), nullptr) * kSecond);
}

// What ffprobe tells of a file: its first picture's start if it has a picture, then the
// container's start and length; nothing, and so zeros, when it fails.
void Probe(SoakFile& file, const std::string& path) {
    std::string said;
    const std::string ask = "ffprobe -v error -of csv=p=0 -select_streams v:0 -show_entries ";
    RunCommand(ask + "stream=start_time:format=start_time,duration " + ShellQuote(path), &said);
    const size_t comma = said.rfind(',');
    const size_t line = said.rfind('\n', comma);
    file.duration = Seconds(said.substr(comma + 1));
    const int64_t start = Seconds(said.substr(line == std::string::npos ? 0 : line + 1));
    file.firstPicture = file.fps > 0 ? Seconds(said) - start : 0;
}

// A WAV file's bytes and where its chunks are, classic or modern header alike.
struct Wav {
    QByteArray bytes;
    qsizetype fmtAt = 0, fmtSize = 0;
    qsizetype dataAt = 0, dataSize = 0;  // the data runs to the end of the file, padded or not
    uint16_t formatTag = 0, channels = 0, blockAlign = 0, bits = 0;
    uint32_t rate = 0;

    uint32_t U32(qsizetype at) const { return qFromLittleEndian<quint32>(bytes.constData() + at); }
    uint16_t U16(qsizetype at) const { return qFromLittleEndian<quint16>(bytes.constData() + at); }

    // Empty when the file is a WAV whose sizes describe exactly the bytes it holds.
    std::string Read(const QString& path) {
        QFile file(path);
        bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE" ||
            U32(4) != bytes.size() - 8) {
            return "is no RIFF WAVE file whose RIFF size fits its " + std::to_string(bytes.size()) +
                   " bytes";
        }
        for (qsizetype at = 12; at + 8 <= bytes.size() && dataAt == 0;) {
            const uint32_t size = U32(at + 4);
            if (bytes.mid(at, 4) == "data") {
                dataAt = at + 8;
                dataSize = size;
            } else if (bytes.mid(at, 4) == "fmt " && size >= 16 && at + 8 + size <= bytes.size()) {
                fmtAt = at + 8;
                fmtSize = size;
            }
            at += 8 + size + (size & 1);
        }
        // An odd data size is followed by a pad byte in the modern header; the classic one
        // ends the file with the data.
        const qsizetype rest = bytes.size() - dataAt;
        if (fmtAt == 0 || dataAt == 0 || (dataSize != rest && dataSize + (dataSize & 1) != rest)) {
            return "has no fmt chunk, or no data chunk whose size fits the " +
                   std::to_string(rest) + " bytes after its header";
        }
        // WAVE_FORMAT_EXTENSIBLE names the format in the first bytes of its sub-format.
        formatTag = U16(fmtAt + (U16(fmtAt) == 0xFFFE && fmtSize >= 26 ? 24 : 0));
        channels = U16(fmtAt + 2);
        rate = U32(fmtAt + 4);
        blockAlign = U16(fmtAt + 12);
        bits = U16(fmtAt + 14);
        if (blockAlign == 0 || U32(fmtAt + 8) != rate * blockAlign || dataSize % blockAlign != 0) {
            return "has a byte rate or block align that does not fit, or a part of a frame";
        }
        return "";
    }
};

// orvane-extract's options for the cut, with every digit of the marks' media time.
std::string ExtractArgs(const SoakJob& cut) {
    static const char* const kFormats[] = {"auto", "s16", "s24", "s32", "f32"};
    const auto seconds = [](int64_t rt) {
        return QString::asprintf("%lld.%07lld", static_cast<long long>(rt / kSecond),
                                 static_cast<long long>(rt % kSecond));
    };
    return Str("-s " + seconds(cut.start) + " -e " + seconds(cut.end) +
               QString::asprintf(" -a %d -f %s -w %s ", cut.track, kFormats[cut.format],
                                 cut.modern ? "modern" : "classic") +
               (cut.exactEnd ? "" : "--whole-buffers ")) +
           ShellQuote(cut.media);
}

// orvane-extract for the cut into `output`; empty on success, else what went wrong. popen
// spawns it: the thread sanitizer lets no forked child of a threaded program start. The long
// clip under the sanitizers takes its time, but not two minutes.
std::string RunExtract(const SoakJob& cut, const QString& output) {
    const std::string command = "timeout 120 " + ShellQuote(SoakCommandPath()) + " -q -y " +
                                ExtractArgs(cut) + " " + ShellQuote(Str(output)) + " 2>&1";
    std::string said;
    const int status = RunCommand(command, &said);
    return status == 0 ? "" : command + " failed (" + std::to_string(status) + "): " + said;
}

// Bytes rounded up to whole 5000-byte buffers and down to a whole frame.
int64_t WholeBuffers(int64_t bytes, uint16_t blockAlign) {
    const int64_t buffers = (bytes + 4999) / 5000;
    return buffers * 5000 - buffers * 5000 % blockAlign;
}

// The data bytes of a cut of the marks by the rules orvane-extract's help gives: the sample
// frames from the start mark's to the end mark's, each the frame nearest to its mark; or,
// ending in whole buffers, the marks' span in bytes rounded up to whole 5000-byte buffers and
// down to a whole frame.
int64_t CutBytes(const SoakJob& cut, uint32_t rate, uint16_t blockAlign) {
    if (cut.end <= cut.start) {
        return 0;
    }
    // The frame nearest to a mark, halves rounded away from zero.
    const auto frame = [rate](int64_t rt) {
        return static_cast<int64_t>((static_cast<__int128>(rt) * rate * 2 + kSecond) /
                                    (2 * kSecond));
    };
    if (cut.exactEnd) {
        return (frame(cut.end) - frame(cut.start)) * blockAlign;
    }
    const auto span = static_cast<int64_t>(static_cast<__int128>(cut.end - cut.start) * rate *
                                           blockAlign / kSecond);
    return WholeBuffers(std::max<int64_t>(span, 1), blockAlign);
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
            const QString picture =
                QString::asprintf("-f lavfi -i testsrc=d=%g:s=%s:r=%d ", seconds, size, fps);
            const QString args = (fps > 0 ? picture : "") +
                                 QString::asprintf("-f lavfi -i sine=f=%d:r=%d:d=%g%s", tone, rate,
                                                   seconds, channels == 2 ? " -ac 2 " : " ");
            const int ms = static_cast<int>(seconds * 1000);
            return SoakFile{
                key, make(name, Str(args) + codecs), true, channels, rate, bits, fps, 0, 0, ms};
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
        QFile::copy(f[1].path, path("cut.mp4"));
        QFile::resize(path("cut.mp4"), 40000);
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
            Probe(file, Str(file.key == "doomed" ? f[0].path : file.path));
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

std::string SoakCommandPath() {
    return Str(qEnvironmentVariable("ORVANE_BIN_DIR", QCoreApplication::applicationDirPath()) +
               "/orvane-extract");
}

void SoakRig::DoConvert(const SoakAction& action) {
    if (m_job) {
        // The press asks the running conversion to stop; once asked, presses do nothing.
        Click(D::IDC_CONVERT);
        m_job->stopAsked = true;
        return;
    }
    // The marks the conversion takes are the model's, within its tolerances; what
    // orvane-extract gets is the program's to the last digit.
    const int64_t start = m_session->Media().StartMark();
    const int64_t end = m_session->Media().EndMark();
    if (!m_model.start.Holds(start) || !m_model.end.Holds(end)) {
        Fail("Convert takes the marks " + TimeText(start) + " and " + TimeText(end) +
             " where the model has " + m_model.start.Text() + " and " + m_model.end.Text());
        return;
    }
    const SoakFile& file = File(m_model.file);
    // The deleted copy's twin stands in for it.
    const QString media = file.key == "doomed" ? File(0).path : file.path;
    SoakJob job{m_output,          m_model.file, Str(media), start,     end,
                m_model.track + 1, m_format,     m_modern,   m_exactEnd};
    job.replacing = QFileInfo(job.output).isFile();
    job.before = job.replacing ? Digest(job.output) : QByteArray();
    const QString cannot = "Error: Can not convert " + file.path + ": ";
    if (!QFileInfo::exists(file.path)) {
        job.status = S::OpenFailed;
        job.box = cannot + "cannot open the file: No such file or directory";
    } else if (file.channels == 0) {
        job.status = S::OpenFailed;
        job.box = cannot + "the file has no audio stream: Stream not found";
    } else if (!QFileInfo(QFileInfo(job.output).absolutePath()).isDir()) {
        job.status = S::OutputFailed;
        job.box = "Error: Can not open " + job.output;
    }
    // While the replace question is up the user may close the preview window, switch it to
    // full screen, or wait.
    m_messages.answer = action.a == 1 ? UserMessages::Answer::Yes : UserMessages::Answer::No;
    m_messages.meanwhile = [this, meanwhile = action.b] {
        PreviewWindow* window = VisibleWindow();
        if (meanwhile == 1 && window != nullptr) {
            DoPreview({Kind::ClosePreview});
        } else if (meanwhile == 2 && window != nullptr) {
            SwitchFullScreenInModel();
            window->findChild<QAction*>("fullScreenAction")->trigger();
        } else if (meanwhile == 3) {
            ProcessEventsFor(300);
        }
    };
    const bool inOrder = start < end;
    if (!inOrder || job.replacing) {
        m_expected.push_back(inOrder
                                 ? "Warning: " + job.output + " exists. Do you want to replace it?"
                                 : kMarksReversed);
    }
    // A press while the file's timeline is still scanned converts once the scan has ended,
    // after the replace question if there is one.
    const bool scanning = m_session->Media().IsScanning();
    Click(D::IDC_CONVERT);
    if (scanning) {
        Want(WaitFor([this] { return !m_session->Media().IsScanning(); }, 4 * kSettleMs),
             "the timeline scan did not end within 20 s of Convert");
    }
    m_messages.meanwhile = {};

    const bool started = m_session->Conversion().IsActive();
    if (job.replacing && action.a == 0 && !started) {
        m_kept.emplace(job.output, job.before);
    }
    if (started != (inOrder && (!job.replacing || action.a == 1))) {
        Fail(started ? "a conversion started that should not have"
                     : "Convert started no conversion");
    } else if (started) {
        m_job = job;
        ++m_stats.conversions;
    }
}

void SoakRig::OnConversionEnded(const JobOutcome& outcome) {
    if (!m_job) {
        Fail("a conversion ended that no Convert started");
        return;
    }
    SoakJob job = *std::exchange(m_job, std::nullopt);
    const bool wrote = outcome.status == S::Completed || outcome.status == S::Stopped;
    // A job that can write may stop where the user asked it to or closed the dialog.
    const bool stopped =
        job.status == S::Completed && outcome.status == S::Stopped && (job.stopAsked || m_closing);
    if (outcome.status != job.status && !stopped) {
        Fail("a conversion of " + File(job.file).key + " to " + Str(job.output) +
             " ended with status " + std::to_string(static_cast<int>(outcome.status)) + " (" +
             outcome.reason + ")");
        return;
    }
    if (!job.box.isEmpty() && !m_closing) {
        // The job's box comes before its end, which waits for the box to be read.
        const auto& seen = m_messages.records;
        Want(std::find(seen.begin(), seen.end(), job.box) != seen.end(),
             "the box \"" + Str(job.box) + "\" never came");
        m_expected.push_back(job.box);
    }
    ++(outcome.status == S::Completed ? m_stats.completed
       : wrote                        ? m_stats.stopped
                                      : m_stats.failed);
    if (!wrote) {
        Want(job.replacing ? Digest(job.output) == job.before : !QFileInfo(job.output).isFile(),
             "a conversion that could not be done changed " + Str(job.output));
        return;
    }
    m_lastWritten = job.output;
    m_kept.erase(job.output);
    // Compared once no event handler of the program's is under way.
    job.status = outcome.status;
    m_ended.push_back(job);
}

void SoakRig::CompareEnded() {
    if (m_ended.empty()) {
        return;
    }
    for (const SoakJob& job : std::exchange(m_ended, {})) {
        if (const std::string problem = CompareWav(job); !problem.empty()) {
            Fail(Str(job.output) + " (" + File(job.file).key + ": " + ExtractArgs(job) +
                 "): " + problem);
        }
    }
    // The command held up the event loop: the program catches up with libmpv's reports
    // before the next step reads where the clip is.
    ProcessEventsFor(50);
}

std::string SoakRig::CompareWav(const SoakJob& cut) {
    const bool stopped = cut.status == S::Stopped;
    Wav wav;
    if (const std::string bad = wav.Read(cut.output); !bad.empty()) {
        return "the WAV " + bad;
    }
    // The chosen track's shape, in the chosen format; 32-bit float has its own format tag.
    const SoakFile& file = File(cut.file);
    static const int kBits[] = {0, 16, 24, 32, 32};
    if (wav.formatTag != (cut.format == 4 ? 3 : 1) ||
        wav.channels != (cut.track == 2 ? file.channels2 : file.channels) ||
        wav.rate != static_cast<uint32_t>(cut.track == 2 ? file.rate2 : file.rate) ||
        wav.bits != (cut.format == 0 ? file.bits : kBits[cut.format])) {
        return "not the chosen track in the chosen format";
    }
    // Its length by the marks, where the sound goes on past them; a stop ends between
    // buffers.
    const int64_t full = CutBytes(cut, wav.rate, wav.blockAlign);
    const int64_t data = wav.dataSize;
    const int64_t lastSound = static_cast<int64_t>(file.soundMs) * kMs - 200 * kMs;
    const bool inSound = cut.start + full * kSecond / (wav.rate * wav.blockAlign) <= lastSound;
    // The sound's own samples need not start on a whole frame of media time: an exact end
    // may fall a frame either side of the count from zero, as orvane-extract's does too.
    const int64_t slack = cut.exactEnd ? wav.blockAlign : 0;
    if (data > full + slack || (!stopped && inSound && std::llabs(data - full) > slack) ||
        (stopped && data != full && WholeBuffers(data, wav.blockAlign) != data)) {
        return "holds " + std::to_string(data) + " data bytes where the marks give " +
               std::to_string(full) + (stopped ? " at most, in whole buffers" : "");
    }
    m_stats.lengthChecked += !stopped && inSound ? 1 : 0;
    // The same cut from orvane-extract: the whole file, or what a stopped one holds.
    const QString reference = QFileInfo(OutputDir()).absolutePath() + "/command.wav";
    if (const std::string failed = RunExtract(cut, reference); !failed.empty()) {
        return failed;
    }
    Wav command;
    const std::string bad = command.Read(reference);
    QFile::remove(reference);
    if (!bad.empty()) {
        return "orvane-extract's WAV " + bad;
    }
    const QByteArray& a = wav.bytes;
    const QByteArray& b = command.bytes;
    if (!stopped && a != b) {
        const auto differ = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
        return "differs from orvane-extract's from byte " +
               std::to_string(differ.first - a.begin()) + " (" + std::to_string(a.size()) +
               " and " + std::to_string(b.size()) + " bytes)";
    }
    if (stopped &&
        (a.mid(wav.fmtAt, wav.fmtSize) != b.mid(command.fmtAt, command.fmtSize) ||
         command.dataSize < data || a.mid(wav.dataAt, data) != b.mid(command.dataAt, data))) {
        return "is not the start of orvane-extract's WAV (" + std::to_string(data) + " and " +
               std::to_string(command.dataSize) + " data bytes)";
    }
    ++(stopped ? m_stats.prefixes : m_stats.compared);
    return "";
}

void SoakRig::DoQuit(const SoakAction& action) {
    ConverterDialog& dialog = m_session->Dialog();
    m_closing = true;
    const Clock::time_point asked = Clock::now();
    if (action.a == 0) {
        QTest::keyClick(&dialog, Qt::Key_Escape);
    } else if (action.a == 1) {
        dialog.close();
    } else {
        // Enter where no button has the focus ends the dialog like OK.
        if (QWidget* focus = dialog.focusWidget()) {
            focus->clearFocus();
        }
        QTest::keyClick(&dialog, Qt::Key_Return);
    }
    if (!WaitFor([this] { return m_finished; }, kSettleMs)) {
        Fail("the dialog did not close within 5 s");
        return;
    }
    m_stats.slowestSettleMs = std::max(m_stats.slowestSettleMs, ElapsedMs(asked));
    Want(!dialog.isVisible() && !Player().IsOpen() && !m_session->Conversion().IsActive() && !m_job,
         "after closing, the dialog is visible, a preview is open or a conversion runs");
    Want(static_cast<QPushButton*>(Control(D::IDC_CONVERT))->text() == "Convert",
         "the button still reads Stop after the dialog closed");
    CompareEnded();
    for (const auto& [path, bytes] : m_kept) {
        Want(Digest(path) == bytes,
             Str(path) + " changed although the user declined to replace it");
    }
    for (int i = 0; i < 5; ++i) {
        const QString path = OutputPath(i);
        Want(m_kept.count(path) > 0 || !QFileInfo(path).isFile() || Wav().Read(path).empty(),
             Str(path) + " is left behind as an invalid WAV");
    }
    // The settings file on disk holds the last path a conversion wrote to, or nothing, and
    // the panel's choices.
    const QString file =
        QSettings(QSettings::IniFormat, QSettings::UserScope, ProfileSettings::kOrganisation, kApp)
            .fileName();
    const QSettings stored(file, QSettings::IniFormat);
    const QVariant path = stored.value("Option/output_cut_file");
    Want(m_lastWritten.isEmpty() ? !path.isValid() : path.toString() == m_lastWritten,
         "the settings hold \"" + Str(path.toString()) + "\" where the last path written is \"" +
             Str(m_lastWritten) + "\"");
    Want(stored.value("Option/precision_panel", 0).toInt() == (m_panelOpen ? 1 : 0) &&
             stored.value("Option/exact_end", 0).toInt() == (m_exactEnd ? 1 : 0),
         "the settings do not hold whether the panel was open and the exact-end box on");
    Want(BoxesDiffer().empty(), "while closing, " + BoxesDiffer());
}
