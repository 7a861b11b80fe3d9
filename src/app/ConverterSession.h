#pragma once

#include <QObject>
#include <QString>

#include <memory>

#include "ConversionJob.h"
#include "PlaybackEngine.h"

class ConversionController;
class ConverterDialog;
class DialogPreviewMessages;
class FileChoosers;
class MediaController;
class MediaProber;
class PanelController;
class PreviewPlayer;
class ProfileSettings;
class SegmentController;
class UserMessages;
class WindowOrder;

// What the converter needs from outside: the real program passes the desktop's and the
// libraries' own, tests pass fakes.
struct ConverterServices {
    ProfileSettings& settings;
    UserMessages& messages;
    FileChoosers& choosers;
    MediaProber& prober;
    PlaybackEngineFactory engines;
    ConversionJob::SourceFactory sources;
    // The application's flag, 1 while the position slider is held.
    int& sliderDragging;
    // Whether the next file's playback core is started ahead of its open (costly cores).
    bool spareEngine = false;
};

// The converter dialog with the controllers that do its work, wired together. Ending
// the dialog by any way runs the same close steps: the preview is closed, a running
// conversion is stopped and its file finished, the output path is stored; then the
// dialog ends and finished() follows.
class ConverterSession final : public QObject {
    Q_OBJECT
  public:
    explicit ConverterSession(const ConverterServices& services, QObject* parent = nullptr);
    ~ConverterSession() override;

    // Shows the dialog in its start state.
    void Show();
    // Opens a media file as Open Media File does once it is chosen.
    void OpenMediaFile(const QString& path);

    ConverterDialog& Dialog() const { return *m_dialog; }
    MediaController& Media() const { return *m_media; }
    PreviewPlayer& Preview() const { return *m_preview; }
    ConversionController& Conversion() const { return *m_conversion; }
    PanelController& PanelWork() const { return *m_panel; }
    SegmentController& SegmentWork() const { return *m_segments; }
    WindowOrder& Windows() const { return *m_windows; }

    void OnHelp();
    void OnHomepage();
    void OnAbout();

  signals:
    void finished(int result);

  private:
    void OnCloseRequested(int result);
    void FinishClose();

    std::unique_ptr<ConverterDialog> m_dialog;
    std::unique_ptr<DialogPreviewMessages> m_previewMessages;
    std::unique_ptr<PreviewPlayer> m_preview;
    std::unique_ptr<MediaController> m_media;
    std::unique_ptr<ConversionController> m_conversion;
    std::unique_ptr<PanelController> m_panel;
    std::unique_ptr<SegmentController> m_segments;
    std::unique_ptr<WindowOrder> m_windows;
    bool m_closing = false;
    int m_result = 0;
};
