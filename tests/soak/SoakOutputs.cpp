// Convert and what it leaves behind: the request as the user made it, the conversion's end
// as expected, and every WAV compared with orvane-extract's for the same cut.
#include <QAction>
#include <QFileInfo>
#include <QPushButton>
#include <QSettings>
#include <QTest>

#include <algorithm>
#include <filesystem>

#include "ConversionController.h"
#include "ConverterDialog.h"
#include "ConverterSession.h"
#include "MediaController.h"
#include "PreviewPlayer.h"
#include "PreviewWindow.h"
#include "SoakCommon.h"
#include "WaitFor.h"

using namespace soak;
using D = ConverterDialog;
using Clock = SoakModel::Clock;

void SoakRig::DoConvert(const SoakAction& action) {
    if (m_model.file < 0) {
        return;
    }
    if (m_job) {
        // The press asks the running conversion to stop; once asked, presses do nothing.
        Click(D::IDC_CONVERT);
        m_job->stopAsked = true;
        return;
    }
    // The marks the conversion takes are the model's, within its tolerances; what
    // orvane-extract gets is the program's to the last digit.
    const MediaController& media = m_session->Media();
    const int64_t start = media.StartMark();
    const int64_t end = media.EndMark();
    if (!m_model.start.Holds(start) || !m_model.end.Holds(end)) {
        Fail("Convert takes the marks " + Expected{start, 0}.Text() + " and " +
             Expected{end, 0}.Text() + " where the model has " + m_model.start.Text() + " and " +
             m_model.end.Text());
        return;
    }
    const SoakFile& file = Files()[static_cast<size_t>(m_model.file)];
    Job job;
    job.output = m_output;
    job.file = m_model.file;
    // The deleted copy's twin stands in for it.
    job.cut = {Str(file.key == "doomed" ? Files()[0].path : file.path),
               start,
               end,
               m_model.track + 1,
               m_format,
               m_modern,
               m_exactEnd};
    job.replacing = IsFile(job.output);
    job.before = job.replacing ? Digest(job.output) : QByteArray();
    if (!QFileInfo(file.path).exists()) {
        job.expect = Job::Expect::MediaGone;
    } else if (!file.audio) {
        job.expect = Job::Expect::NoAudio;
    } else if (!QFileInfo(QFileInfo(job.output).absolutePath()).isDir()) {
        job.expect = Job::Expect::OutputFails;
    }

    m_messages.answer = action.a == 1 ? UserMessages::Answer::Yes : UserMessages::Answer::No;
    if (action.b == 1) {
        m_messages.meanwhile = [this] {
            if (PreviewWindow* window = VisibleWindow()) {
                m_pendingClose = true;
                window->close();
            }
        };
    } else if (action.b == 2) {
        m_messages.meanwhile = [this] {
            if (PreviewWindow* window = VisibleWindow()) {
                SwitchFullScreenInModel();
                window->findChild<QAction*>("fullScreenAction")->trigger();
            }
        };
    } else if (action.b == 3) {
        m_messages.meanwhile = [] { ProcessEventsFor(300); };
    }
    const bool inOrder = start < end;
    if (inOrder && job.replacing) {
        m_expected.push_back("Warning: " + job.output + " exists. Do you want to replace it?");
    }
    if (!inOrder) {
        m_expected.push_back(kMarksReversed);
    }
    Click(D::IDC_CONVERT);
    m_messages.meanwhile = {};

    const bool started = m_session->Conversion().IsActive();
    if (job.replacing && action.a == 0 && !started) {
        m_kept.emplace(job.output, job.before);
    }
    if (started != (inOrder && (!job.replacing || action.a == 1))) {
        Fail(started ? "a conversion started that should not have"
                     : "Convert started no conversion");
        return;
    }
    if (started) {
        m_job = job;
        ++m_stats.conversions;
    }
}

void SoakRig::OnConversionEnded(const JobOutcome& outcome) {
    if (!m_job) {
        Fail("a conversion ended that no Convert started");
        return;
    }
    const Job job = *std::exchange(m_job, std::nullopt);
    using S = JobOutcome::Status;
    const bool wrote = outcome.status == S::Completed || outcome.status == S::Stopped;
    bool expected = false;
    QString box;
    switch (job.expect) {
        case Job::Expect::Writes:
            expected = outcome.status == S::Completed ||
                       (outcome.status == S::Stopped && (job.stopAsked || m_closing));
            break;
        case Job::Expect::NoAudio:
        case Job::Expect::MediaGone:
            expected = outcome.status == S::OpenFailed;
            box = "Error: Can not convert " + Files()[static_cast<size_t>(job.file)].path + ": " +
                  (job.expect == Job::Expect::NoAudio
                       ? "the file has no audio stream: Stream not found"
                       : "cannot open the file: No such file or directory");
            break;
        case Job::Expect::OutputFails:
            expected = outcome.status == S::OutputFailed;
            box = "Error: Can not open " + job.output;
            break;
    }
    if (!expected) {
        Fail("a conversion of " + Files()[static_cast<size_t>(job.file)].key + " to " +
             Str(job.output) + " ended with status " +
             std::to_string(static_cast<int>(outcome.status)) + " (" + outcome.reason + ")");
        return;
    }
    if (!box.isEmpty() && !m_closing) {
        // The job's box comes before its end, which waits for the box to be read.
        const auto& seen = m_messages.records;
        if (std::none_of(seen.begin(), seen.end(), [&](const auto& r) { return r.text == box; })) {
            Fail("the box \"" + Str(box) + "\" never came");
        }
        m_expected.push_back(box);
    }
    outcome.status == S::Completed ? ++m_stats.completed
    : wrote                        ? ++m_stats.stopped
                                   : ++m_stats.failed;
    if (!wrote) {
        if (job.replacing ? Digest(job.output) != job.before : IsFile(job.output)) {
            Fail("a conversion that could not be done changed " + Str(job.output));
        }
        return;
    }
    m_lastWritten = job.output;
    m_kept.erase(job.output);
    // Compared once no event handler of the program's is under way.
    m_ended.push_back({job, outcome});
}

void SoakRig::CompareEnded() {
    if (m_ended.empty()) {
        return;
    }
    for (const Ended& ended : std::exchange(m_ended, {})) {
        const std::string problem = CompareWav(ended);
        if (!problem.empty()) {
            Fail(Str(ended.job.output) + " (" + Files()[static_cast<size_t>(ended.job.file)].key +
                 ", " + SecondsText(ended.job.cut.start) + " to " + SecondsText(ended.job.cut.end) +
                 ", track " + std::to_string(ended.job.cut.track) + ", format " +
                 std::to_string(ended.job.cut.format) + (ended.job.cut.modern ? ", modern" : "") +
                 (ended.job.cut.exactEnd ? ", exact end" : ", whole buffers") + "): " + problem);
        }
    }
    // The command held up the event loop: the program catches up with libmpv's reports
    // before the next step reads where the clip is.
    ProcessEventsFor(50);
}

std::string SoakRig::CompareWav(const Ended& ended) {
    const Job& job = ended.job;
    const SoakCut& cut = job.cut;
    const bool stopped = ended.outcome.status == JobOutcome::Status::Stopped;
    SoakWav wav;
    if (const std::string bad = SoakWav::Read(Str(job.output), &wav); !bad.empty()) {
        return "the WAV " + bad;
    }
    // The chosen track's shape, in the chosen format; 32-bit float has its own format tag.
    const SoakFile& file = Files()[static_cast<size_t>(job.file)];
    static const int kBits[] = {0, 16, 24, 32, 32};
    if (wav.formatTag != (cut.format == 4 ? 3 : 1) ||
        wav.channels != (cut.track == 2 ? file.channels2 : file.channels) ||
        wav.rate != static_cast<uint32_t>(cut.track == 2 ? file.rate2 : file.rate) ||
        wav.bits != (cut.format == 0 ? file.bits : kBits[cut.format])) {
        return "not the chosen track in the chosen format";
    }
    // Its length by the marks, where the sound goes on past them; a stop ends between
    // buffers.
    const int64_t full = SoakCutBytes(cut.start, cut.end, wav.rate, wav.blockAlign, cut.exactEnd);
    const auto data = static_cast<int64_t>(wav.DataBytes());
    const int64_t lastSound = static_cast<int64_t>(file.soundMs) * kMs - 200 * kMs;
    const bool inSound = cut.start + full * kSecond / (wav.rate * wav.blockAlign) <= lastSound;
    // The sound's own samples need not start on a whole frame of media time: an exact end
    // may fall a frame either side of the count from zero, as orvane-extract's does too.
    const int64_t slack = cut.exactEnd ? wav.blockAlign : 0;
    if (data > full + slack || (!stopped && inSound && std::llabs(data - full) > slack) ||
        (stopped && data != full && !SoakWholeBuffers(data, wav.blockAlign))) {
        return "holds " + std::to_string(data) + " data bytes where the marks give " +
               std::to_string(full) + (stopped ? " at most, in whole buffers" : "");
    }
    m_stats.lengthChecked += !stopped && inSound ? 1 : 0;
    // The same cut from orvane-extract: the whole file, or what a stopped one holds.
    const std::string reference = Str(QFileInfo(OutputDir()).absolutePath()) + "/command.wav";
    if (const std::string failed = RunSoakCommand(cut, reference); !failed.empty()) {
        return failed;
    }
    SoakWav command;
    const std::string bad = SoakWav::Read(reference, &command);
    std::filesystem::remove(reference);
    if (!bad.empty()) {
        return "orvane-extract's WAV " + bad;
    }
    const auto& a = wav.bytes;
    const auto& b = command.bytes;
    if (!stopped) {
        const auto differ = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
        if (differ.first != a.end() || differ.second != b.end()) {
            return "differs from orvane-extract's from byte " +
                   std::to_string(differ.first - a.begin()) + " (" + std::to_string(a.size()) +
                   " and " + std::to_string(b.size()) + " bytes)";
        }
        ++m_stats.compared;
        return "";
    }
    if (wav.fmtSize != command.fmtSize ||
        !std::equal(a.begin() + static_cast<long>(wav.fmtAt),
                    a.begin() + static_cast<long>(wav.fmtAt + wav.fmtSize),
                    b.begin() + static_cast<long>(command.fmtAt)) ||
        command.DataBytes() < wav.DataBytes() ||
        !std::equal(a.begin() + static_cast<long>(wav.dataAt),
                    a.begin() + static_cast<long>(wav.dataAt + wav.dataSize),
                    b.begin() + static_cast<long>(command.dataAt))) {
        return "is not the start of orvane-extract's WAV (" + std::to_string(data) + " and " +
               std::to_string(command.DataBytes()) + " data bytes)";
    }
    ++m_stats.prefixes;
    return "";
}

void SoakRig::CheckFiles() {
    for (const auto& [path, bytes] : m_kept) {
        if (Digest(path) != bytes) {
            Fail(Str(path) + " changed although the user declined to replace it");
        }
    }
    for (int i = 0; i < 5; ++i) {
        const QString path = OutputPath(i);
        SoakWav wav;
        if (m_kept.count(path) == 0 && IsFile(path) && !SoakWav::Read(Str(path), &wav).empty()) {
            Fail(Str(path) + " is left behind as an invalid WAV");
        }
    }
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
    m_stats.slowestSettleMs = std::max<int>(
        m_stats.slowestSettleMs,
        static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - asked).count()));
    if (dialog.isVisible() || Player().IsOpen() || m_session->Conversion().IsActive() || m_job) {
        Fail("after closing, the dialog is visible, a preview is open or a conversion runs");
    }
    if (static_cast<QPushButton*>(Control(D::IDC_CONVERT))->text() != "Convert") {
        Fail("the button still reads Stop after the dialog closed");
    }
    CompareEnded();
    CheckFiles();
    // The settings file on disk holds the last path a conversion wrote to, or nothing, and
    // the panel's choices.
    const QString file =
        QSettings(QSettings::IniFormat, QSettings::UserScope, ProfileSettings::kOrganisation, kApp)
            .fileName();
    const QSettings stored(file, QSettings::IniFormat);
    const QVariant path = stored.value("Option/output_cut_file");
    if (m_lastWritten.isEmpty() ? path.isValid() : path.toString() != m_lastWritten) {
        Fail("the settings hold \"" + Str(path.toString()) +
             "\" where the last path written is \"" + Str(m_lastWritten) + "\"");
    }
    if (stored.value("Option/precision_panel", 0).toInt() != (m_panelOpen ? 1 : 0) ||
        stored.value("Option/exact_end", 0).toInt() != (m_exactEnd ? 1 : 0)) {
        Fail("the settings do not hold whether the panel was open and the exact-end box on");
    }
    if (const std::string boxes = BoxesDiffer(); !boxes.empty()) {
        Fail("while closing, " + boxes);
    }
}
