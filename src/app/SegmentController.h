#pragma once

#include <QObject>
#include <QString>

#include "SegmentList.h"

class ConverterDialog;
class MediaController;
class UserMessages;

// Keeps the open file's segment list and shows it in the panel. Choosing a segment sets
// the marks to it; the marks' later changes go back into that segment.
class SegmentController final : public QObject {
    Q_OBJECT
  public:
    SegmentController(ConverterDialog& dialog, MediaController& media, UserMessages& messages,
                      QObject* parent = nullptr);

    const SegmentList& List() const { return m_list; }

  private:
    void OnMediaChanged();
    void OnMarksChanged();
    void OnAdd();
    void OnRemove(int row);
    void OnClear();
    void OnRowChosen(int row);
    void OnNameEdited(int row, const QString& name);
    void ShowList();
    void ShowMessage(const QString& text);

    ConverterDialog& m_dialog;
    MediaController& m_media;
    UserMessages& m_messages;
    SegmentList m_list;
    // The segment the marks were set to; -1 when none.
    int m_chosen = -1;
    // The marks are being set from the chosen segment: their echo is not an edit.
    bool m_applying = false;
};
