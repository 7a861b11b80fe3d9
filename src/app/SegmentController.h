#pragma once

#include <QObject>
#include <QString>

#include <memory>

#include "AudioStreamSource.h"
#include "SegmentExport.h"
#include "SegmentList.h"

class ConversionController;
class PanelController;
class SilenceSearch;
class ConverterDialog;
class FileChoosers;
class MediaController;
class ProfileSettings;
class UserMessages;

// Keeps the open file's segment list and shows it in the panel. Choosing a segment sets
// the marks to it; the marks' later changes go back into that segment.
class SegmentController final : public QObject {
    Q_OBJECT
  public:
    SegmentController(ConverterDialog& dialog, MediaController& media, UserMessages& messages,
                      FileChoosers& choosers, ProfileSettings& settings,
                      ConversionController& conversion, PanelController& panel,
                      AudioSourceFactory sources, QObject* parent = nullptr);
    ~SegmentController() override;

    // The choices of the list file choosers.
    static QString ListFilters();

    const SegmentList& List() const { return m_list; }

  private:
    void OnMediaChanged();
    void OnMarksChanged();
    void OnAdd();
    void OnRemove(int row);
    void OnClear();
    void OnRowChosen(int row);
    void OnNameEdited(int row, const QString& name);
    void OnChapters();
    // Asks for the silences' settings, counting on the waveform as they change, then finds
    // each edge on the samples off the GUI thread.
    void OnSilences();
    void OnOpenList();
    void OnSaveList();
    // The list becomes these segments, none of them chosen.
    void Take(std::vector<Segment> segments);
    void OnExport();
    // The outputs of an export, each "" where an existing file is to be skipped; false when
    // the user cancelled.
    bool AskAboutExisting(SegmentRequest& request);
    QString StartFolder() const;
    void ShowList();
    void ShowMessage(const QString& text);

    ConverterDialog& m_dialog;
    MediaController& m_media;
    UserMessages& m_messages;
    FileChoosers& m_choosers;
    ProfileSettings& m_settings;
    ConversionController& m_conversion;
    PanelController& m_panel;
    std::unique_ptr<SilenceSearch> m_silences;
    SegmentList m_list;
    // Where the list choosers start: the folder of the last list, else the media file's.
    QString m_listFolder;
    // Where the last export went.
    QString m_exportFolder;
    // The segment the marks were set to; -1 when none.
    int m_chosen = -1;
    // The marks are being set from the chosen segment: their echo is not an edit.
    bool m_applying = false;
};
