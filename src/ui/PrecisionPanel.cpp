#include "PrecisionPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "MarkTimeEdit.h"
#include "SegmentPanel.h"
#include "WaveformView.h"

PrecisionPanel::PrecisionPanel(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    m_waveform = new WaveformView(this);
    m_waveform->setObjectName("waveformView");
    m_waveform->setMinimumHeight(80);
    layout->addWidget(m_waveform);
    connect(m_waveform, &WaveformView::seekRequested, this, &PrecisionPanel::seekRequested);
    connect(m_waveform, &WaveformView::markDragged, this, &PrecisionPanel::markDragged);
    connect(m_waveform, &WaveformView::playheadStepRequested, this,
            &PrecisionPanel::playheadStepRequested);
    m_waveform->setAccessibleName(tr("Waveform"));
    m_waveform->setAccessibleDescription(
        tr("Left and Right move the playhead one frame (10 ms without a picture); I and O "
           "set the Start and End marks there"));

    // The marks: a time field and a step back and forward for each.
    auto* marks = new QGridLayout;
    const struct {
        Mark mark;
        const char* label;
        const char* name;
        const char* back;
        const char* forward;
    } rows[] = {
        {Mark::Start, QT_TR_NOOP("Start"), "start", QT_TR_NOOP("Start one frame earlier"),
         QT_TR_NOOP("Start one frame later")},
        {Mark::End, QT_TR_NOOP("End"), "end", QT_TR_NOOP("End one frame earlier"),
         QT_TR_NOOP("End one frame later")},
    };
    int column = 0;
    for (const auto& row : rows) {
        auto* edit = new MarkTimeEdit(this);
        edit->setObjectName(QString(row.name) + "MarkEdit");
        edit->setToolTip(tr("H:MM:SS.mmm; Up and Down step the part under the cursor"));
        (row.mark == Mark::Start ? m_startEdit : m_endEdit) = edit;
        auto* label = new QLabel(tr(row.label), this);
        label->setBuddy(edit);
        QPushButton* back =
            MakeButton(QStringLiteral("◂"), (QString(row.name) + "BackButton").toUtf8());
        QPushButton* forward =
            MakeButton(QStringLiteral("▸"), (QString(row.name) + "ForwardButton").toUtf8());
        back->setToolTip(tr("One frame earlier (10 ms without a picture)"));
        forward->setToolTip(tr("One frame later (10 ms without a picture)"));
        // The arrows say nothing read aloud.
        back->setAccessibleName(tr(row.back));
        forward->setAccessibleName(tr(row.forward));
        back->setFixedWidth(back->sizeHint().height() + 4);
        forward->setFixedWidth(back->width());
        marks->addWidget(label, 0, column);
        marks->addWidget(edit, 0, column + 1);
        marks->addWidget(back, 0, column + 2);
        marks->addWidget(forward, 0, column + 3);
        column += 4;
        const Mark mark = row.mark;
        connect(edit, &MarkTimeEdit::timeProposed, this,
                [this, mark](int64_t rt) { emit markProposed(mark, rt); });
        connect(edit, &MarkTimeEdit::textRejected, this,
                [this, mark](const QString& text) { emit markTextRejected(mark, text); });
        connect(back, &QPushButton::clicked, this, [this, mark] { emit nudgeRequested(mark, -1); });
        connect(forward, &QPushButton::clicked, this,
                [this, mark] { emit nudgeRequested(mark, 1); });
        m_mediaWidgets << edit << back << forward;
    }
    marks->setColumnStretch(1, 1);
    marks->setColumnStretch(5, 1);
    layout->addLayout(marks);

    // Audition.
    auto* audition = new QHBoxLayout;
    QPushButton* playSelection = MakeButton(tr("Play selection"), "playSelectionButton");
    m_loopButton = MakeButton(tr("Loop"), "loopButton");
    m_loopButton->setCheckable(true);
    QPushButton* playStart = MakeButton(tr("Play start"), "playStartButton");
    QPushButton* playEnd = MakeButton(tr("Play end"), "playEndButton");
    playStart->setToolTip(tr("The first 2 seconds of the selection"));
    playEnd->setToolTip(tr("The last 2 seconds of the selection"));
    for (QPushButton* button : {playSelection, m_loopButton, playStart, playEnd}) {
        audition->addWidget(button);
        m_mediaWidgets << button;
    }
    connect(playSelection, &QPushButton::clicked, this, &PrecisionPanel::playSelectionClicked);
    connect(m_loopButton, &QPushButton::toggled, this, &PrecisionPanel::loopToggled);
    connect(playStart, &QPushButton::clicked, this, &PrecisionPanel::playStartClicked);
    connect(playEnd, &QPushButton::clicked, this, &PrecisionPanel::playEndClicked);
    layout->addLayout(audition);

    // Track and output.
    auto* choices = new QGridLayout;
    m_trackBox = new QComboBox(this);
    m_trackBox->setObjectName("trackBox");
    m_trackBox->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_trackBox->setMinimumContentsLength(20);
    auto* trackLabel = new QLabel(tr("Track"), this);
    trackLabel->setBuddy(m_trackBox);
    m_formatBox = new QComboBox(this);
    m_formatBox->setObjectName("formatBox");
    m_formatBox->addItems(FormatNames());
    auto* formatLabel = new QLabel(tr("Format"), this);
    formatLabel->setBuddy(m_formatBox);
    m_modernBox = new QCheckBox(tr("Large and multichannel WAV (RF64/extensible)"), this);
    m_modernBox->setObjectName("modernHeaderBox");
    m_exactEndBox = new QCheckBox(tr("End exactly at the End mark"), this);
    m_exactEndBox->setObjectName("exactEndBox");
    m_exactEndBox->setToolTip(
        tr("Without it the last buffer is written whole, up to 52 ms past the End mark"));
    // What the last conversion had to clip, beside the choice that would have kept it.
    m_formatNote = new QLabel(this);
    m_formatNote->setObjectName("formatNote");
    m_formatNote->setWordWrap(true);
    m_formatNote->setTextFormat(Qt::PlainText);
    m_formatNote->setFocusPolicy(Qt::TabFocus);
    m_formatNote->hide();
    choices->addWidget(trackLabel, 0, 0);
    choices->addWidget(m_trackBox, 0, 1, 1, 2);
    choices->addWidget(formatLabel, 1, 0);
    choices->addWidget(m_formatBox, 1, 1);
    choices->addWidget(m_formatNote, 1, 2);
    choices->addWidget(m_exactEndBox, 2, 1, 1, 2);
    choices->addWidget(m_modernBox, 3, 1, 1, 2);
    choices->setColumnStretch(2, 1);
    layout->addLayout(choices);
    m_mediaWidgets << m_trackBox;
    // Tab goes top to bottom, the note (when there is one) beside the format first.
    setTabOrder(m_formatBox, m_formatNote);
    setTabOrder(m_formatNote, m_exactEndBox);
    connect(m_trackBox, &QComboBox::activated, this, &PrecisionPanel::trackChosen);
    connect(m_formatBox, &QComboBox::activated, this, &PrecisionPanel::formatChosen);
    connect(m_modernBox, &QCheckBox::toggled, this, &PrecisionPanel::modernHeaderToggled);
    connect(m_exactEndBox, &QCheckBox::toggled, this, &PrecisionPanel::exactEndToggled);

    m_segments = new SegmentPanel(this);
    m_segments->setObjectName("segmentPanel");
    layout->addWidget(m_segments);

    SetMediaEnabled(false);
}

QStringList PrecisionPanel::FormatNames() {
    return {tr("Automatic"), tr("16-bit"), tr("24-bit"), tr("32-bit"), tr("32-bit float")};
}

QPushButton* PrecisionPanel::MakeButton(const QString& text, const char* name) {
    auto* button = new QPushButton(text, this);
    button->setObjectName(name);
    // Enter stays with the dialog's own rule: only the focused button.
    button->setAutoDefault(false);
    return button;
}

void PrecisionPanel::ShowMarks(int64_t start, int64_t end) {
    m_startEdit->ShowTime(start);
    m_endEdit->ShowTime(end);
    m_waveform->ShowMarks(start, end);
}

void PrecisionPanel::ShowDuration(int64_t duration) {
    m_startEdit->SetMaximum(duration);
    m_endEdit->SetMaximum(duration);
}

void PrecisionPanel::ShowWaveform(std::shared_ptr<const WaveformPyramid> waveform,
                                  int64_t duration) {
    m_waveform->ShowWaveform(std::move(waveform), duration);
}

void PrecisionPanel::RefreshWaveform() {
    m_waveform->Refresh();
}

void PrecisionPanel::ShowPlayhead(int64_t position) {
    m_waveform->ShowPlayhead(position);
}

void PrecisionPanel::ShowTracks(const QStringList& tracks, int chosen) {
    const QSignalBlocker quiet(m_trackBox);
    m_trackBox->clear();
    m_trackBox->addItems(tracks);
    m_trackBox->setCurrentIndex(chosen);
    m_trackBox->setEnabled(m_mediaEnabled && tracks.size() > 1);
}

void PrecisionPanel::ShowFormat(int index) {
    const QSignalBlocker quiet(m_formatBox);
    m_formatBox->setCurrentIndex(index);
}

void PrecisionPanel::ShowModernHeader(bool on) {
    const QSignalBlocker quiet(m_modernBox);
    m_modernBox->setChecked(on);
}

void PrecisionPanel::ShowExactEnd(bool on) {
    const QSignalBlocker quiet(m_exactEndBox);
    m_exactEndBox->setChecked(on);
}

void PrecisionPanel::ShowLooping(bool on) {
    const QSignalBlocker quiet(m_loopButton);
    m_loopButton->setChecked(on);
}

void PrecisionPanel::ShowFormatNote(const QString& text) {
    m_formatNote->setText(text);
    m_formatNote->setVisible(!text.isEmpty());
}

QString PrecisionPanel::FormatNote() const {
    return m_formatNote->text();
}

void PrecisionPanel::SetMediaEnabled(bool enabled) {
    m_mediaEnabled = enabled;
    for (QWidget* widget : m_mediaWidgets) {
        widget->setEnabled(enabled);
    }
    m_trackBox->setEnabled(enabled && m_trackBox->count() > 1);
    m_segments->SetMediaEnabled(enabled);
}
