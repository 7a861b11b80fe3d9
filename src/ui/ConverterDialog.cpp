#include "ConverterDialog.h"

#include <QAction>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <QUrl>
#include <QWindow>

#include <algorithm>
#include <functional>
#include <vector>

#include "AboutDialog.h"
#include "ControlText.h"
#include "DialogAccessibility.h"
#include "DialogBody.h"
#include "DialogUnits.h"
#include "PanelArea.h"
#include "PositionSlider.h"
#include "PrecisionPanel.h"

namespace {

constexpr const char* kZeroClock = "00:00:00";

// The template: size and controls in tab order (x, y, width, height in dialog units).
constexpr int kDialogWidth = 247;
constexpr int kDialogHeight = 194;

enum class Kind { Button, Static, SunkenStatic, Slider, Edit, Progress };

struct ControlTemplate {
    int id;
    Kind kind;
    const char* name;     // the widget's objectName, by its role
    const char* caption;  // translated in the dialog's context
    int x, y, width, height;
};

// The template's hidden Exit and close-media slivers are commands only here: Escape and
// the preview's close reach their handlers directly.
constexpr ControlTemplate kTemplate[] = {
    {ConverterDialog::IDC_INFO, Kind::Static, "infoLabel", "", 83, 9, 157, 14},
    {ConverterDialog::IDC_CONVERT, Kind::Button, "convertButton",
     QT_TRANSLATE_NOOP("ConverterDialog", "Convert"), 7, 129, 100, 14},
    {ConverterDialog::IDC_OPEN_MEDIA, Kind::Button, "openMediaButton",
     QT_TRANSLATE_NOOP("ConverterDialog", "Open Media File"), 7, 7, 68, 14},
    {ConverterDialog::IDC_SLIDER, Kind::Slider, "positionSlider", "", 7, 28, 224, 15},
    {ConverterDialog::IDC_START_TIME, Kind::Button, "startTimeButton",
     QT_TRANSLATE_NOOP("ConverterDialog", "Start Time"), 7, 78, 50, 14},
    {ConverterDialog::IDC_END_TIME, Kind::Button, "endTimeButton",
     QT_TRANSLATE_NOOP("ConverterDialog", "End Time"), 126, 78, 50, 14},
    {ConverterDialog::IDC_PLAY, Kind::Button, "playButton",
     QT_TRANSLATE_NOOP("ConverterDialog", "Play"), 7, 52, 50, 14},
    {ConverterDialog::IDC_PAUSE, Kind::Button, "pauseButton",
     QT_TRANSLATE_NOOP("ConverterDialog", "Pause"), 91, 52, 50, 14},
    {ConverterDialog::IDC_STOP, Kind::Button, "stopButton",
     QT_TRANSLATE_NOOP("ConverterDialog", "Stop"), 175, 52, 50, 14},
    {ConverterDialog::IDC_START_TEXT, Kind::SunkenStatic, "startMarkLabel", "", 60, 81, 40, 9},
    {ConverterDialog::IDC_END_TEXT, Kind::SunkenStatic, "endMarkLabel", "", 179, 81, 40, 9},
    {ConverterDialog::IDC_OUTPUT_LABEL, Kind::Static, "outputLabel",
     QT_TRANSLATE_NOOP("ConverterDialog", "Output File"), 11, 111, 39, 8},
    {ConverterDialog::IDC_OUTPUT_FILE, Kind::Edit, "outputEdit", "", 55, 109, 150, 13},
    {ConverterDialog::IDC_BROWSE, Kind::Button, "browseButton",
     QT_TRANSLATE_NOOP("ConverterDialog", "Browse"), 206, 109, 34, 13},
    {ConverterDialog::IDC_HELP, Kind::Button, "helpButton",
     QT_TRANSLATE_NOOP("ConverterDialog", "Help"), 174, 129, 50, 14},
    {ConverterDialog::IDC_HOMEPAGE, Kind::Button, "homepageButton",
     QT_TRANSLATE_NOOP("ConverterDialog", "Homepage"), 90, 155, 50, 14},
    {ConverterDialog::IDC_PROGRESS, Kind::Progress, "progressBar", "", 7, 178, 233, 9},
    {ConverterDialog::IDC_ABOUT, Kind::Button, "aboutButton",
     QT_TRANSLATE_NOOP("ConverterDialog", "About"), 174, 155, 50, 14},
};

// The one local file a drag carries, or "" when it carries anything else.
QString DroppedFile(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls() || data->urls().size() != 1) {
        return QString();
    }
    const QUrl url = data->urls().front();
    return url.isLocalFile() ? url.toLocalFile() : QString();
}

}  // namespace

ConverterDialog::ConverterDialog(int& sliderDragging, QWidget* parent)
    : QDialog(parent), m_sliderDragging(sliderDragging) {
    CreateControls();
    CreatePanel();
    ConnectCommands();
    DialogAccessibility::Describe(*this);

    // The About item the system menu would carry lives in the dialog's context menu.
    auto* about = new QAction(tr("&About Orvane"), this);
    about->setObjectName("aboutAction");
    connect(about, &QAction::triggered, this, &ConverterDialog::aboutRequested);
    addAction(about);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    setWindowIcon(AboutDialog::ApplicationIcon());

    m_startMarkLabel->setText(kZeroClock);
    m_endMarkLabel->setText(kZeroClock);
    m_slider->setValue(0);
    SetMediaControlsEnabled(false);
    m_progressBar->setRange(0, 1000);
    m_progressBar->setValue(0);
}

void ConverterDialog::CreateControls() {
    setWindowTitle(tr("Orvane"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);

    const DialogUnits units(font());
    setFixedSize(units.X(kDialogWidth), units.Y(kDialogHeight));
    m_body = new DialogBody(this);
    QWidget* contents = m_body->Contents();
    setFixedSize(m_body->Fit(size(), QWIDGETSIZE_MAX));

    for (const ControlTemplate& t : kTemplate) {
        const QString caption = tr(t.caption);
        QWidget* control = nullptr;
        switch (t.kind) {
            case Kind::Button: {
                auto* button = new QPushButton(caption, contents);
                // No default button, nor one Qt would make default on showing or on
                // focus: Enter pushes only the button that has the focus (keyPressEvent).
                button->setAutoDefault(false);
                button->setDefault(false);
                control = button;
                break;
            }
            case Kind::Static:
            case Kind::SunkenStatic: {
                auto* label = new QLabel(caption, contents);
                label->setTextFormat(Qt::PlainText);
                if (t.kind == Kind::SunkenStatic) {
                    label->setAlignment(Qt::AlignCenter);
                    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
                } else {
                    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
                }
                control = label;
                break;
            }
            case Kind::Slider: {
                auto* slider = new PositionSlider(m_sliderDragging, contents);
                slider->setTickPosition(QSlider::NoTicks);
                control = slider;
                break;
            }
            case Kind::Edit:
                control = new QLineEdit(contents);
                break;
            case Kind::Progress: {
                auto* progress = new QProgressBar(contents);
                progress->setTextVisible(false);
                control = progress;
                break;
            }
        }
        control->setObjectName(t.name);
        control->setGeometry(units.Rect(t.x, t.y, t.width, t.height));
        m_controls.insert(t.id, control);
    }

    m_convertButton = static_cast<QPushButton*>(m_controls[IDC_CONVERT]);
    m_infoLabel = static_cast<QLabel*>(m_controls[IDC_INFO]);
    m_outputEdit = static_cast<QLineEdit*>(m_controls[IDC_OUTPUT_FILE]);
    m_progressBar = static_cast<QProgressBar*>(m_controls[IDC_PROGRESS]);
    m_endMarkLabel = static_cast<QLabel*>(m_controls[IDC_END_TEXT]);
    m_startMarkLabel = static_cast<QLabel*>(m_controls[IDC_START_TEXT]);
    m_slider = static_cast<PositionSlider*>(m_controls[IDC_SLIDER]);

    // Enter in the output field must not end the dialog nor push a button.
    m_outputEdit->installEventFilter(this);
    setAcceptDrops(true);
}

void ConverterDialog::ConnectCommands() {
    const std::pair<int, void (ConverterDialog::*)()> buttons[] = {
        {IDC_CONVERT, &ConverterDialog::convertClicked},
        {IDC_OPEN_MEDIA, &ConverterDialog::openMediaClicked},
        {IDC_PLAY, &ConverterDialog::playClicked},
        {IDC_PAUSE, &ConverterDialog::pauseClicked},
        {IDC_STOP, &ConverterDialog::stopClicked},
        {IDC_START_TIME, &ConverterDialog::startTimeClicked},
        {IDC_END_TIME, &ConverterDialog::endTimeClicked},
        {IDC_BROWSE, &ConverterDialog::browseClicked},
        {IDC_HELP, &ConverterDialog::helpRequested},
        {IDC_HOMEPAGE, &ConverterDialog::homepageClicked},
        {IDC_ABOUT, &ConverterDialog::aboutRequested},
    };
    for (const auto& [id, signal] : buttons) {
        connect(static_cast<QPushButton*>(m_controls[id]), &QPushButton::clicked, this, signal);
    }
    connect(m_slider, &PositionSlider::sliderReleased, this,
            [this] { emit sliderReleased(m_slider->value()); });
    auto* help = new QShortcut(QKeySequence::HelpContents, this);
    connect(help, &QShortcut::activated, this, &ConverterDialog::helpRequested);
    // The keys of other cut tools; a text field that takes the character keeps it.
    const std::pair<Qt::Key, std::function<void()>> keys[] = {
        {Qt::Key_I, [this] { emit startTimeClicked(); }},
        {Qt::Key_O, [this] { emit endTimeClicked(); }},
        {Qt::Key_BracketLeft, [this] { emit nudgeKeyPressed(-1); }},
        {Qt::Key_BracketRight, [this] { emit nudgeKeyPressed(1); }},
    };
    for (const auto& [key, action] : keys) {
        auto* shortcut = new QShortcut(QKeySequence(key), this);
        connect(shortcut, &QShortcut::activated, this, [this, action = action] {
            // Like the buttons they stand for, only with a file open.
            if (m_controls[IDC_START_TIME]->isEnabled()) {
                action();
            }
        });
    }
    connect(m_moreButton, &QPushButton::clicked, this, [this] {
        ShowPanel(!IsPanelOpen());
        emit panelToggled(IsPanelOpen());
    });
}

void ConverterDialog::CreatePanel() {
    const DialogUnits units(font());
    m_baseHeight = height();
    m_moreButton = new QPushButton(m_body->Contents());
    m_moreButton->setObjectName("moreButton");
    m_moreButton->setAutoDefault(false);
    m_moreButton->setGeometry(units.Rect(7, 155, 50, 14));
    m_panelArea = new PanelArea(m_body->Contents());
    m_panel = m_panelArea->Panel();
    const int width = units.X(kDialogWidth - 14);
    m_panelArea->setGeometry(units.X(7), m_baseHeight, width, m_panelArea->ContentsHeight());
    m_panelArea->hide();
    connect(m_panelArea, &PanelArea::contentsChanged, this, &ConverterDialog::FitPanel);
    // After the progress bar in the tab order, as it is below it.
    setTabOrder(m_progressBar, m_panelArea);
    FitTexts();
    ShowPanel(false);
}

void ConverterDialog::FitTexts() {
    // In the template's language every text fits its control, and the geometry stays the
    // template's. A longer translation widens its control; the controls right of it in
    // its row keep their distance and move along, and the dialog widens to hold them.
    const DialogUnits units(font());
    struct Item {
        QWidget* control;
        QRect place;  // the template's
        int width;
        bool stretches;  // keeps its distance to the dialog's right edge
    };
    std::vector<Item> items;
    for (QWidget* control : m_controls) {
        QStringList texts;
        if (auto* button = qobject_cast<QPushButton*>(control)) {
            texts << button->text();
        }
        if (control == m_convertButton) {
            texts << tr("Stop");
        }
        const bool stretches =
            control == m_infoLabel || control == m_slider || control == m_progressBar;
        items.push_back({control, control->geometry(),
                         std::max(control->width(), ControlText::Width(control, texts)),
                         stretches});
    }
    items.push_back(
        {m_moreButton, m_moreButton->geometry(),
         std::max(m_moreButton->width(),
                  ControlText::Width(m_moreButton, {tr("More ▸"), tr("More ▸ •"), tr("Less ▾")})),
         false});
    std::sort(items.begin(), items.end(),
              [](const Item& a, const Item& b) { return a.place.left() < b.place.left(); });

    const int templateWidth = width();
    const int edge = units.X(7);
    int dialogWidth = templateWidth;
    std::vector<QRect> placed;
    for (const Item& item : items) {
        int left = item.place.left();
        for (size_t i = 0; i < placed.size(); ++i) {
            const Item& before = items[i];
            if (ControlText::SameRow(before.place, item.place) &&
                before.place.right() < item.place.left()) {
                left = std::max(left, placed[i].right() + item.place.left() - before.place.right());
            }
        }
        placed.emplace_back(left, item.place.top(), item.width, item.place.height());
        const int margin = std::min(edge, templateWidth - 1 - item.place.right());
        dialogWidth = std::max(dialogWidth, placed.back().right() + 1 + margin);
    }
    const int panelWidth = units.X(kDialogWidth - 14);
    // The panel keeps its width when its contents scroll.
    dialogWidth =
        std::max(dialogWidth, templateWidth - panelWidth + m_panel->minimumSizeHint().width() +
                                  m_panelArea->ScrollBarWidth());
    for (size_t i = 0; i < items.size(); ++i) {
        QRect rect = placed[i];
        if (items[i].stretches) {
            const int margin = templateWidth - 1 - items[i].place.right();
            rect.setRight(std::max(rect.right(), dialogWidth - 1 - margin));
        }
        items[i].control->setGeometry(rect);
    }
    m_panelArea->resize(panelWidth + dialogWidth - templateWidth, m_panelArea->height());
    m_body->Contents()->setFixedWidth(dialogWidth);
}

void ConverterDialog::ShowPanel(bool open) {
    m_panelNews = m_panelNews && !open;
    m_panelArea->setVisible(open);
    ShowMoreButton();
    FitPanel();
}

void ConverterDialog::FitPanel() {
    const int margin = DialogUnits(font()).Y(7);
    const QScreen* screen = this->screen();
    const QRect work = screen != nullptr ? screen->availableGeometry() : QRect();
    // Until the window manager has framed the dialog, a title bar's height stands in.
    const int frame = std::max(frameGeometry().height() - height(),
                               style()->pixelMetric(QStyle::PM_TitleBarHeight));
    const int room = work.isValid() ? work.height() - frame : QWIDGETSIZE_MAX;
    int height = m_baseHeight;
    if (IsPanelOpen()) {
        m_panelArea->FitHeight(room - m_baseHeight - margin);
        height += m_panelArea->height() + margin;
    }
    setFixedSize(m_body->Fit(QSize(m_body->Contents()->width(), height), room));
    // The dialog stays on its screen: up as far as its new height needs.
    if (isWindow() && work.isValid() && frameGeometry().bottom() > work.bottom()) {
        move(x(), std::max(work.top(), work.bottom() + 1 - frameGeometry().height()));
    }
}

void ConverterDialog::ShowPanelNews(bool news) {
    m_panelNews = news && !IsPanelOpen();
    ShowMoreButton();
}

void ConverterDialog::ShowMoreButton() {
    const bool open = IsPanelOpen();
    m_moreButton->setText(open ? tr("Less ▾") : m_panelNews ? tr("More ▸ •") : tr("More ▸"));
    // Read aloud without the arrows.
    m_moreButton->setAccessibleName(open ? tr("Less") : tr("More"));
    m_moreButton->setAccessibleDescription(
        m_panelNews ? tr("The panel has a note on the last conversion") : QString());
}

bool ConverterDialog::IsPanelOpen() const {
    return !m_panelArea->isHidden();
}

void ConverterDialog::ShowInfo(const QString& text, const QString& tail) {
    const QFontMetrics metrics(m_infoLabel->font());
    const QString rest = tail.isEmpty() ? QString() : QStringLiteral("   ") + tail;
    const int room = m_infoLabel->contentsRect().width() - metrics.horizontalAdvance(rest);
    m_infoLabel->setText(metrics.elidedText(text, Qt::ElideMiddle, std::max(room, 0)) + rest);
    m_infoLabel->setToolTip(text);
}

QString ConverterDialog::Info() const {
    return m_infoLabel->text();
}

void ConverterDialog::ShowStartMark(const QString& clock) {
    m_startMarkLabel->setText(clock);
}

void ConverterDialog::ShowEndMark(const QString& clock) {
    m_endMarkLabel->setText(clock);
}

void ConverterDialog::SetMediaControlsEnabled(bool enabled) {
    for (int id : kMediaControls) {
        m_controls[id]->setEnabled(enabled);
    }
    m_panel->SetMediaEnabled(enabled);
}

void ConverterDialog::ShowConverting(bool running) {
    m_convertButton->setText(running ? tr("Stop") : tr("Convert"));
}

void ConverterDialog::ShowProgress(int position) {
    if (m_progressBar->value() != position) {
        m_progressBar->setValue(position);
    }
}

void ConverterDialog::ShowSliderPosition(int position) {
    m_slider->setValue(position);
}

int ConverterDialog::SliderPosition() const {
    return m_slider->value();
}

QString ConverterDialog::OutputPath() const {
    return m_outputEdit->text();
}

void ConverterDialog::ShowOutputPath(const QString& path) {
    m_outputEdit->setText(path);
}

void ConverterDialog::done(int result) {
    if (m_finishing) {
        QDialog::done(result);
        return;
    }
    emit closeRequested(result);
}

void ConverterDialog::Finish(int result) {
    m_finishing = true;
    done(result);
    m_finishing = false;
}

bool ConverterDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_outputEdit && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void ConverterDialog::keyPressEvent(QKeyEvent* event) {
    // Enter pushes the focused push button; anywhere else it ends the dialog like OK,
    // through the close steps, and never clicks a button out of sight of the focus.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (auto* button = qobject_cast<QPushButton*>(focusWidget());
            button != nullptr && button->isEnabled()) {
            button->click();
            return;
        }
        // A time field takes Enter as the end of its entry.
        if (focusWidget() != nullptr && m_panel->isAncestorOf(focusWidget())) {
            return;
        }
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void ConverterDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Another screen has another room for the panel.
    connect(windowHandle(), &QWindow::screenChanged, this, &ConverterDialog::FitPanel,
            Qt::UniqueConnection);
    FitPanel();
}

void ConverterDialog::dragEnterEvent(QDragEnterEvent* event) {
    if (!DroppedFile(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void ConverterDialog::dropEvent(QDropEvent* event) {
    const QString path = DroppedFile(event->mimeData());
    if (path.isEmpty()) {
        return;
    }
    event->acceptProposedAction();
    // Not inside the drop: the boxes and the preview's window would run within the
    // drag-and-drop machinery of the source application.
    QMetaObject::invokeMethod(
        this, [this, path] { emit fileDropped(path); }, Qt::QueuedConnection);
}
