#pragma once

#include <QDialog>
#include <QHash>
#include <QString>

class DialogBody;
class PanelArea;
class PositionSlider;
class PrecisionPanel;
class QDragEnterEvent;
class QDropEvent;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QProgressBar;
class QShowEvent;
class QPushButton;

// The program's only main window: media file, marks, output file, Convert/Stop and the
// progress of the conversion. Fixed size, laid out from its template in dialog units;
// a control whose translated text is longer grows, and the dialog with it.
// A view: it shows what it is told and passes the user's commands on as signals; the
// work is the controllers'. Run it with show() rather than exec(): an application-modal
// dialog would block the worker's message boxes and the preview window.
class ConverterDialog final : public QDialog {
    Q_OBJECT
  public:
    // Control IDs of the template.
    enum ControlId : int {
        IDC_CONVERT = 1000,
        IDC_OPEN_MEDIA = 1001,
        IDC_INFO = 1002,
        IDC_SLIDER = 1003,
        IDC_START_TIME = 1005,
        IDC_END_TIME = 1006,
        IDC_PLAY = 1007,
        IDC_PAUSE = 1008,
        IDC_STOP = 1009,
        IDC_START_TEXT = 1012,
        IDC_END_TEXT = 1013,
        IDC_OUTPUT_LABEL = 1016,
        IDC_OUTPUT_FILE = 1017,
        IDC_BROWSE = 1018,
        IDC_HELP = 1023,
        IDC_HOMEPAGE = 1024,
        IDC_PROGRESS = 1026,
        IDC_ABOUT = 1027,
    };

    // The eleven controls that need an open media file, in the order they are handled.
    static constexpr int kMediaControls[] = {
        IDC_CONVERT,  IDC_SLIDER,      IDC_PLAY,   IDC_PAUSE,      IDC_STOP,     IDC_START_TIME,
        IDC_END_TIME, IDC_OUTPUT_FILE, IDC_BROWSE, IDC_START_TEXT, IDC_END_TEXT,
    };

    // sliderDragging is the application's flag, 1 while the slider is held.
    explicit ConverterDialog(int& sliderDragging, QWidget* parent = nullptr);

    // The control of a template ID.
    QWidget* Control(int id) const { return m_controls.value(id, nullptr); }

    // The info line: `text`, shortened in the middle where needed so that `tail` (the
    // position) always shows whole; the full text is the tooltip.
    void ShowInfo(const QString& text, const QString& tail = QString());
    QString Info() const;
    void ShowStartMark(const QString& clock);
    void ShowEndMark(const QString& clock);
    void SetMediaControlsEnabled(bool enabled);
    // The Convert button's label: "Stop" while a conversion runs.
    void ShowConverting(bool running);
    void ShowProgress(int position);
    void ShowSliderPosition(int position);
    int SliderPosition() const;
    QString OutputPath() const;
    void ShowOutputPath(const QString& path);

    // The panel for exact work under the dialog's own controls, and whether it shows.
    PrecisionPanel* Panel() const { return m_panel; }
    void ShowPanel(bool open);
    bool IsPanelOpen() const;
    // Whether the panel has something new to read; with the panel closed, More says so
    // until it is opened.
    void ShowPanelNews(bool news);

    // Ends the dialog for good, once the close steps are done.
    void Finish(int result);
    // Every way of ending the dialog (close box, Escape, accept, reject) comes here and
    // asks for the close steps instead.
    void done(int result) override;

  signals:
    void openMediaClicked();
    void convertClicked();
    void browseClicked();
    void playClicked();
    void pauseClicked();
    void stopClicked();
    // Start Time and End Time, by button or by the I and O keys.
    void startTimeClicked();
    void endTimeClicked();
    // The [ and ] keys: the mark last worked on one step back or forward.
    void nudgeKeyPressed(int steps);
    // More or Less: the user opened or closed the panel.
    void panelToggled(bool open);
    // The left button let go of the slider (also after a click on its groove).
    void sliderReleased(int position);
    void helpRequested();
    void homepageClicked();
    void aboutRequested();
    // A media file was dropped on the dialog.
    void fileDropped(const QString& path);
    // The user ended the dialog; the close steps end with Finish().
    void closeRequested(int result);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void CreateControls();
    void ConnectCommands();
    void CreatePanel();
    void FitTexts();
    void ShowMoreButton();
    // The panel as tall as its contents where the screen has room, and the dialog with it.
    void FitPanel();

    QHash<int, QWidget*> m_controls;
    QPushButton* m_convertButton = nullptr;
    QLabel* m_infoLabel = nullptr;
    QLineEdit* m_outputEdit = nullptr;
    QProgressBar* m_progressBar = nullptr;
    QLabel* m_startMarkLabel = nullptr;
    QLabel* m_endMarkLabel = nullptr;
    PositionSlider* m_slider = nullptr;
    QPushButton* m_moreButton = nullptr;
    DialogBody* m_body = nullptr;
    PanelArea* m_panelArea = nullptr;
    PrecisionPanel* m_panel = nullptr;
    int m_baseHeight = 0;
    bool m_panelNews = false;
    int& m_sliderDragging;
    bool m_finishing = false;
};
