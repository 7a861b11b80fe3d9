#include "SegmentController.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "ConversionController.h"
#include "ConverterDialog.h"
#include "CutListFile.h"
#include "FileChoosers.h"
#include "MediaController.h"
#include "OutputPathRules.h"
#include "PanelController.h"
#include "PrecisionPanel.h"
#include "ProfileSettings.h"
#include "SegmentNames.h"
#include "SegmentPanel.h"
#include "SilenceDialog.h"
#include "SilenceSearch.h"
#include "UserMessages.h"
#include "WaveformPyramid.h"
#include "WaveformView.h"

namespace {

constexpr const char* kPatternKey = "segment_names";
constexpr const char* kJoinKey = "segment_join";
constexpr const char* kBextKey = "segment_bext";
// The silences' settings, in dB and milliseconds.
constexpr const char* kSilenceDbKey = "silence_db";
constexpr const char* kSilenceLengthKey = "silence_length_ms";
constexpr const char* kSilenceMarginKey = "silence_margin_ms";
constexpr int64_t kPerMs = 10'000;

}  // namespace

SegmentController::SegmentController(ConverterDialog& dialog, MediaController& media,
                                     UserMessages& messages, FileChoosers& choosers,
                                     ProfileSettings& settings, ConversionController& conversion,
                                     PanelController& panel, AudioSourceFactory sources,
                                     QObject* parent)
    : QObject(parent),
      m_dialog(dialog),
      m_media(media),
      m_messages(messages),
      m_choosers(choosers),
      m_settings(settings),
      m_conversion(conversion),
      m_panel(panel),
      m_silences(std::make_unique<SilenceSearch>(std::move(sources))) {
    SegmentPanel* segments = m_dialog.Panel()->Segments();
    connect(&m_media, &MediaController::mediaChanged, this, &SegmentController::OnMediaChanged);
    connect(&m_media, &MediaController::marksChanged, this, &SegmentController::OnMarksChanged);
    connect(segments, &SegmentPanel::addClicked, this, &SegmentController::OnAdd);
    connect(segments, &SegmentPanel::removeClicked, this, &SegmentController::OnRemove);
    connect(segments, &SegmentPanel::clearClicked, this, &SegmentController::OnClear);
    connect(segments, &SegmentPanel::rowChosen, this, &SegmentController::OnRowChosen);
    connect(segments, &SegmentPanel::nameEdited, this, &SegmentController::OnNameEdited);
    connect(segments, &SegmentPanel::chaptersClicked, this, &SegmentController::OnChapters);
    connect(segments, &SegmentPanel::silencesClicked, this, &SegmentController::OnSilences);
    connect(m_silences.get(), &SilenceSearch::found, this, [this, segments](const auto& sounds) {
        segments->ShowExportProgress(QString());
        Take(sounds);
    });
    connect(m_silences.get(), &SilenceSearch::failed, this, [this, segments](const QString& why) {
        segments->ShowExportProgress(QString());
        ShowMessage(tr("Can not read the sound of %1: %2").arg(m_media.MediaPath(), why));
    });
    connect(segments, &SegmentPanel::openListClicked, this, &SegmentController::OnOpenList);
    connect(segments, &SegmentPanel::saveListClicked, this, &SegmentController::OnSaveList);
    connect(segments, &SegmentPanel::exportClicked, this, &SegmentController::OnExport);
    connect(segments, &SegmentPanel::patternEdited, this, [this](const QString& pattern) {
        m_settings.WriteProfileString(ProfileSettings::kOptionSection, kPatternKey, pattern);
    });
    connect(segments, &SegmentPanel::joinToggled, this, [this](bool on) {
        m_settings.WriteProfileInt(ProfileSettings::kOptionSection, kJoinKey, on ? 1 : 0);
    });
    connect(segments, &SegmentPanel::bextToggled, this, [this](bool on) {
        m_settings.WriteProfileInt(ProfileSettings::kOptionSection, kBextKey, on ? 1 : 0);
    });
    connect(&m_conversion, &ConversionController::segmentStarted, segments,
            [segments](int number, int count) {
                segments->ShowExportProgress(tr("segment %1 of %2").arg(number).arg(count));
            });
    connect(&m_conversion, &ConversionController::conversionEnded, segments,
            [segments] { segments->ShowExportProgress(QString()); });
    segments->ShowExportChoices(
        m_settings.GetProfileString(ProfileSettings::kOptionSection, kPatternKey,
                                    QString::fromUtf8(SegmentNames::kDefaultPattern)),
        m_settings.GetProfileInt(ProfileSettings::kOptionSection, kJoinKey, 0) != 0,
        m_settings.GetProfileInt(ProfileSettings::kOptionSection, kBextKey, 0) != 0);
}

SegmentController::~SegmentController() = default;

QString SegmentController::ListFilters() {
    return tr("CSV (*.csv);;Labels (*.txt);;CUE sheet (*.cue)");
}

void SegmentController::OnMediaChanged() {
    // The list belongs to the file it was made on.
    m_silences->Stop();
    m_dialog.Panel()->Segments()->ShowExportProgress(QString());
    m_list.Clear();
    m_chosen = -1;
    m_dialog.Panel()->Segments()->SetChaptersAvailable(!m_media.Info().chapters.empty());
    ShowList();
}

void SegmentController::OnMarksChanged() {
    if (m_applying || !m_list.Valid(m_chosen)) {
        return;
    }
    m_chosen =
        m_list.SetTimes(m_chosen, m_media.MarkTime(Mark::Start), m_media.MarkTime(Mark::End));
    ShowList();
}

void SegmentController::OnAdd() {
    const int64_t start = m_media.MarkTime(Mark::Start);
    const int64_t end = m_media.MarkTime(Mark::End);
    if (m_media.MediaPath().isEmpty()) {
        return;
    }
    if (start >= end) {
        ShowMessage(tr("The Start Time is bigger than the End Time!"));
        return;
    }
    m_list.Add({start, end, {}});
    // The marks are free again for the next segment: none is chosen.
    m_chosen = -1;
    ShowList();
}

void SegmentController::OnRemove(int row) {
    m_list.Remove(row);
    m_chosen = -1;
    ShowList();
}

void SegmentController::OnClear() {
    m_list.Clear();
    m_chosen = -1;
    ShowList();
}

void SegmentController::OnRowChosen(int row) {
    if (!m_list.Valid(row)) {
        return;
    }
    m_chosen = row;
    const Segment segment = m_list.Segments()[static_cast<size_t>(row)];
    m_applying = true;
    m_media.SetMark(Mark::Start, segment.start);
    m_media.SetMark(Mark::End, segment.end);
    m_applying = false;
}

void SegmentController::OnNameEdited(int row, const QString& name) {
    m_list.SetName(row, name.toStdString());
}

void SegmentController::Take(std::vector<Segment> segments) {
    m_list.Replace(std::move(segments));
    m_chosen = -1;
    ShowList();
}

void SegmentController::OnChapters() {
    Take(m_media.Info().chapters);
}

void SegmentController::OnSilences() {
    SilenceFinder::Settings settings;
    settings.thresholdDb =
        m_settings.GetProfileInt(ProfileSettings::kOptionSection, kSilenceDbKey, -50);
    settings.minimumLength =
        m_settings.GetProfileInt(ProfileSettings::kOptionSection, kSilenceLengthKey, 2000) * kPerMs;
    settings.margin =
        m_settings.GetProfileInt(ProfileSettings::kOptionSection, kSilenceMarginKey, 250) * kPerMs;
    auto* dialog = new SilenceDialog(settings, &m_dialog);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    const auto count = [this, dialog] {
        // The live count is the waveform's: the edges on the samples come after Find.
        const WaveformPyramid* waveform = m_panel.Waveform().get();
        const bool ready = waveform != nullptr && waveform->Complete();
        dialog->ShowCount(
            ready
                ? static_cast<int>(
                      SilenceFinder::Sounds(*waveform, dialog->Chosen(), m_media.Duration()).size())
                : -1);
    };
    connect(dialog, &SilenceDialog::settingsChanged, dialog, count);
    connect(&m_panel, &PanelController::waveformComplete, dialog, count);
    connect(&m_media, &MediaController::mediaChanged, dialog, &QDialog::reject);
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        const WaveformPyramid* waveform = m_panel.Waveform().get();
        if (waveform == nullptr || !waveform->Complete()) {
            return;
        }
        const SilenceFinder::Settings chosen = dialog->Chosen();
        m_settings.WriteProfileInt(ProfileSettings::kOptionSection, kSilenceDbKey,
                                   static_cast<int>(std::lround(chosen.thresholdDb)));
        m_settings.WriteProfileInt(ProfileSettings::kOptionSection, kSilenceLengthKey,
                                   static_cast<int>(chosen.minimumLength / kPerMs));
        m_settings.WriteProfileInt(ProfileSettings::kOptionSection, kSilenceMarginKey,
                                   static_cast<int>(chosen.margin / kPerMs));
        m_dialog.Panel()->Segments()->ShowExportProgress(tr("Finding the silences…"));
        m_silences->Start(QFile::encodeName(m_media.MediaPath()).toStdString(), m_media.Track(),
                          m_panel.Waveform(), chosen, m_media.Duration());
    });
    count();
    dialog->open();
}

void SegmentController::OnOpenList() {
    const QString folder =
        m_listFolder.isEmpty() ? QFileInfo(m_media.MediaPath()).absolutePath() : m_listFolder;
    const QString path =
        m_choosers.ChooseMediaFile(&m_dialog, tr("Open a cut list"), folder, ListFilters());
    if (path.isEmpty()) {
        return;
    }
    m_listFolder = QFileInfo(path).absolutePath();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ShowMessage(tr("Can not read %1: %2").arg(path, file.errorString()));
        return;
    }
    const CutListFile::Result read = CutListFile::Read(
        file.readAll().toStdString(), CutListFile::FormatOf(QFile::encodeName(path).toStdString()),
        m_media.Duration());
    if (!read.Ok()) {
        // Nothing of a list with a bad line is taken: the list stays as it was.
        const QString why = QString::fromStdString(read.error);
        ShowMessage(read.errorLine > 0 ? tr("Line %1 of %2: %3\nThe list was not opened.")
                                             .arg(read.errorLine)
                                             .arg(path, why)
                                       : tr("%1: %2\nThe list was not opened.").arg(path, why));
        return;
    }
    Take(read.segments);
}

void SegmentController::OnSaveList() {
    const QString folder =
        m_listFolder.isEmpty() ? QFileInfo(m_media.MediaPath()).absolutePath() : m_listFolder;
    QString path =
        m_choosers.ChooseOutputFile(&m_dialog, tr("Save the cut list"), folder, ListFilters());
    if (path.isEmpty()) {
        return;
    }
    if (QFileInfo(path).suffix().isEmpty()) {
        path += QStringLiteral(".csv");
    }
    m_listFolder = QFileInfo(path).absolutePath();
    std::string text;
    const CutListFile::Result written = CutListFile::Write(
        m_list.Segments(), CutListFile::FormatOf(QFile::encodeName(path).toStdString()),
        m_media.Duration(), QFileInfo(m_media.MediaPath()).fileName().toStdString(), text);
    if (!written.Ok()) {
        ShowMessage(tr("The list can not be saved as %1: %2")
                        .arg(QFileInfo(path).fileName(), QString::fromStdString(written.error)));
        return;
    }
    // The file chooser does not ask before replacing a file; Orvane does.
    if (QFileInfo::exists(path) &&
        m_messages.Show(&m_dialog, tr("%1 exists. Do you want to replace it?").arg(path),
                        tr("Warning"), UserMessages::Buttons::YesNo,
                        UserMessages::Icon::Exclamation) != UserMessages::Answer::Yes) {
        return;
    }
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(text.data(), static_cast<qint64>(text.size())) !=
            static_cast<qint64>(text.size()) ||
        !out.commit()) {
        ShowMessage(tr("Can not write %1: %2").arg(path, out.errorString()));
    }
}

QString SegmentController::StartFolder() const {
    return m_exportFolder.isEmpty() ? QFileInfo(m_media.MediaPath()).absolutePath()
                                    : m_exportFolder;
}

void SegmentController::OnExport() {
    if (m_list.Count() == 0 || m_media.MediaPath().isEmpty() || m_conversion.IsActive()) {
        return;
    }
    if (m_media.IsScanning()) {
        // Until the file's timeline is known its times past a restart mean nothing yet.
        m_media.WhenSettled([this] { OnExport(); });
        return;
    }
    SegmentPanel* panel = m_dialog.Panel()->Segments();
    SegmentRequest request;
    request.mediaPath = QFile::encodeName(m_media.MediaPath()).toStdString();
    request.track = m_media.Track() > 0 ? m_media.Track() : AudioStreamSource::kPrimaryTrack;
    request.sampleFormat = static_cast<SampleFormat>(PanelController::StoredFormat(m_settings));
    request.header = PanelController::StoredModernHeader(m_settings) ? WavHeaderKind::Modern
                                                                     : WavHeaderKind::Classic;
    request.segments = m_list.Segments();
    request.bext = m_settings.GetProfileInt(ProfileSettings::kOptionSection, kBextKey, 0) != 0;
    if (m_settings.GetProfileInt(ProfileSettings::kOptionSection, kJoinKey, 0) != 0) {
        const QString chosen =
            m_choosers.ChooseOutputFile(&m_dialog, tr("Export the segments into one file"),
                                        StartFolder(), tr("Wav file (*.wav)"));
        if (chosen.isEmpty()) {
            return;
        }
        const QString path = OutputPathRules::ForceWavExtension(chosen);
        m_exportFolder = QFileInfo(path).absolutePath();
        request.joinedOutput = QFile::encodeName(path).toStdString();
    } else {
        const QString folder = m_choosers.ChooseFolder(
            &m_dialog, tr("Export the segments into a folder"), StartFolder());
        if (folder.isEmpty()) {
            return;
        }
        m_exportFolder = folder;
        QString pattern = panel->NamePattern().trimmed();
        if (pattern.isEmpty()) {
            pattern = QString::fromUtf8(SegmentNames::kDefaultPattern);
        }
        for (const std::string& name :
             SegmentNames::FileNames(pattern.toStdString(), request.mediaPath, request.segments)) {
            request.outputs.push_back(
                QFile::encodeName(QDir(folder).filePath(QString::fromStdString(name)))
                    .toStdString());
        }
    }
    if (AskAboutExisting(request)) {
        m_conversion.StartSegments(request);
    }
}

bool SegmentController::AskAboutExisting(SegmentRequest& request) {
    std::vector<std::string*> outputs;
    if (!request.joinedOutput.empty()) {
        outputs.push_back(&request.joinedOutput);
    } else {
        for (std::string& path : request.outputs) {
            outputs.push_back(&path);
        }
    }
    QStringList existing;
    for (const std::string* path : outputs) {
        if (QFileInfo::exists(QFile::decodeName(path->c_str()))) {
            existing << QFile::decodeName(path->c_str());
        }
    }
    if (existing.isEmpty()) {
        return true;
    }
    // One question for the whole batch.
    const UserMessages::Answer answer = m_messages.Show(
        &m_dialog,
        tr("These files exist:\n%1\n\nReplace them all, or skip them and write the others?")
            .arg(existing.join(QLatin1Char('\n'))),
        tr("Warning"), UserMessages::Buttons::ReplaceSkipCancel, UserMessages::Icon::Exclamation);
    if (answer == UserMessages::Answer::ReplaceAll) {
        request.replaceExisting = true;
        return true;
    }
    if (answer != UserMessages::Answer::SkipExisting) {
        return false;
    }
    bool anyLeft = false;
    for (std::string* path : outputs) {
        if (QFileInfo::exists(QFile::decodeName(path->c_str()))) {
            path->clear();
        } else {
            anyLeft = true;
        }
    }
    return anyLeft;
}

void SegmentController::ShowList() {
    std::vector<SegmentPanel::Row> rows;
    for (int r = 0; r < m_list.Count(); ++r) {
        const Segment& segment = m_list.Segments()[static_cast<size_t>(r)];
        rows.push_back(
            {segment.start, segment.end, QString::fromStdString(segment.name), m_list.Overlaps(r)});
    }
    m_dialog.Panel()->Segments()->ShowSegments(rows, m_chosen);
    std::vector<WaveformView::Band> bands;
    for (int r = 0; r < m_list.Count(); ++r) {
        const Segment& segment = m_list.Segments()[static_cast<size_t>(r)];
        const QString name = QString::fromStdString(segment.name);
        // Unnamed pieces are told apart by their number.
        bands.push_back(
            {segment.start, segment.end, name.isEmpty() ? QString::number(r + 1) : name});
    }
    m_dialog.Panel()->Waveform()->ShowBands(std::move(bands));
}

void SegmentController::ShowMessage(const QString& text) {
    m_messages.Show(&m_dialog, text, tr("Error"), UserMessages::Buttons::Ok);
}
