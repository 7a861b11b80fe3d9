#include "SegmentController.h"

#include "ConverterDialog.h"
#include "MediaController.h"
#include "PrecisionPanel.h"
#include "SegmentPanel.h"
#include "UserMessages.h"

SegmentController::SegmentController(ConverterDialog& dialog, MediaController& media,
                                     UserMessages& messages, QObject* parent)
    : QObject(parent), m_dialog(dialog), m_media(media), m_messages(messages) {
    SegmentPanel* panel = m_dialog.Panel()->Segments();
    connect(&m_media, &MediaController::mediaChanged, this, &SegmentController::OnMediaChanged);
    connect(&m_media, &MediaController::marksChanged, this, &SegmentController::OnMarksChanged);
    connect(panel, &SegmentPanel::addClicked, this, &SegmentController::OnAdd);
    connect(panel, &SegmentPanel::removeClicked, this, &SegmentController::OnRemove);
    connect(panel, &SegmentPanel::clearClicked, this, &SegmentController::OnClear);
    connect(panel, &SegmentPanel::rowChosen, this, &SegmentController::OnRowChosen);
    connect(panel, &SegmentPanel::nameEdited, this, &SegmentController::OnNameEdited);
}

void SegmentController::OnMediaChanged() {
    // The list belongs to the file it was made on.
    m_list.Clear();
    m_chosen = -1;
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

void SegmentController::ShowList() {
    std::vector<SegmentPanel::Row> rows;
    for (int r = 0; r < m_list.Count(); ++r) {
        const Segment& segment = m_list.Segments()[static_cast<size_t>(r)];
        rows.push_back(
            {segment.start, segment.end, QString::fromStdString(segment.name), m_list.Overlaps(r)});
    }
    m_dialog.Panel()->Segments()->ShowSegments(rows, m_chosen);
}

void SegmentController::ShowMessage(const QString& text) {
    m_messages.Show(&m_dialog, text, tr("Error"), UserMessages::Buttons::Ok);
}
