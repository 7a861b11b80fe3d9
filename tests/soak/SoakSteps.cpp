// The user's steps, done on the real dialog and preview, and what each tells the model.
#include <QDropEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QStyle>
#include <QStyleOptionSlider>

#include "AboutDialog.h"
#include "HelpWindow.h"
#include "SoakRig.h"

using namespace soak;

namespace {

// The earlier (or the later) of two expected times; where their tolerances overlap, one
// that covers both.
Expected Pick(Expected a, Expected b, bool later) {
    if (std::llabs(a.t - b.t) > a.tol + b.tol) {
        return (a.t < b.t) == later ? b : a;
    }
    return {later ? std::max(a.t, b.t) : std::min(a.t, b.t),
            std::max(a.tol, b.tol) + std::llabs(a.t - b.t)};
}

// Play, Pause or Stop, as the model has them (with no file the clip is closed and stays so),
// and the dialog's button for it.
int Transport(SoakModel& m, Kind kind) {
    const Clock::time_point now = Clock::now();
    kind == Kind::Play ? m.Play(now) : kind == Kind::Pause ? m.Pause(now) : m.Stop();
    return kind == Kind::Play ? D::IDC_PLAY : kind == Kind::Pause ? D::IDC_PAUSE : D::IDC_STOP;
}

// The slider's groove or handle, where QSlider lays it out for the value it shows.
QRect SliderPart(const QSlider* slider, QStyle::SubControl part) {
    struct Opener : QSlider {
        using QSlider::initStyleOption;
    };
    QStyleOptionSlider option;
    const auto init = &Opener::initStyleOption;
    (slider->*init)(&option);
    return slider->style()->subControlRect(QStyle::CC_Slider, &option, part, slider);
}

}  // namespace

void SoakRig::DoOutput(const SoakAction& action) {
    // The save chooser's answers and the paths they become.
    static const std::pair<QString, QString> kBrowsed[] = {
        {"", ""}, {"browsed", "browsed.wav"}, {"Out Two.mp3", "Out Two.wav"}};
    auto* edit = static_cast<QLineEdit*>(Control(D::IDC_OUTPUT_FILE));
    if (action.kind == Kind::Output) {
        edit->selectAll();
        QTest::keyClicks(edit, OutputPath(action.a));
        m_output = OutputPath(action.a);
    } else if (action.kind == Kind::Browse) {
        m_choosers.saveAnswer = action.a == 0 ? "" : OutputDir() + "/" + kBrowsed[action.a].first;
        m_output = action.a == 0 ? m_output : OutputDir() + "/" + kBrowsed[action.a].second;
        Click(D::IDC_BROWSE);
    } else {
        // Enter in the output box does nothing.
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_Return);
    }
}

void SoakRig::DoOpen(const SoakAction& action) {
    // The copy that Delete removes, open or not; an Open makes it again.
    const SoakFile& file = File(action.kind == Kind::Delete ? 7 : action.a);
    if (action.kind == Kind::Delete) {
        QFile::remove(file.path);
        return;
    }
    if (file.key == "doomed" && !QFile::exists(file.path)) {
        QFile::copy(File(0).path, file.path);
    }
    // The model follows once the program starts the open (a drop's comes later), and again
    // when it answers it; another open cancels this one. A cancelled chooser opens nothing.
    if (!file.path.isEmpty()) {
        m_requested.push_back(action.a);
    }
    if (action.kind == Kind::Open) {
        m_choosers.openAnswer = file.path;
        Click(D::IDC_OPEN_MEDIA);
    } else if (!file.path.isEmpty()) {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(file.path)});
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(&m_session->Dialog(), &enter);
        QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&m_session->Dialog(), &drop);
        Want(enter.isAccepted() && drop.isAccepted(),
             "the dialog did not take a dropped media file");
    }
}

void SoakRig::DoTransport(const SoakAction& action) {
    Click(Transport(m_model, action.kind));
}

void SoakRig::DoSlider(const SoakAction& action) {
    auto* slider = static_cast<PositionSlider*>(Control(D::IDC_SLIDER));
    // The user aims at value a: the pixel QSlider's own arithmetic puts it at, and the value
    // that pixel stands for.
    const int from = slider->value();
    const QRect groove = SliderPart(slider, QStyle::SC_SliderGroove);
    const QRect handle = SliderPart(slider, QStyle::SC_SliderHandle);
    const int span = groove.width() - handle.width();
    const int offset = QStyle::sliderPositionFromValue(0, PositionSlider::kRange, action.a, span);
    const QPoint aim(groove.x() + offset + handle.center().x() - handle.x(), handle.center().y());
    int value = QStyle::sliderValueFromPosition(0, PositionSlider::kRange, offset, span);
    if (action.kind == Kind::Drag) {
        QTest::mousePress(slider, Qt::LeftButton, {}, handle.center());
        Want(m_dragging == 1, "pressing the slider's thumb did not hold it");
        QTest::mouseMove(slider, (handle.center() + aim) / 2);
        QTest::mouseMove(slider, aim);
        const int held = slider->value();
        const int changes = m_mediaChanges;
        ProcessEventsFor(action.b);
        // Reports leave the thumb to the mouse; a file that opens or closes meanwhile starts
        // it at 0.
        Want(slider->value() == held || m_mediaChanges != changes,
             "the thumb moved from " + std::to_string(held) + " to " +
                 std::to_string(slider->value()) + " while the user held it");
        // The clip may have played to its end while the thumb was held.
        Resolve();
        QTest::mouseRelease(slider, Qt::LeftButton, {}, aim);
    } else {
        // A click beside the thumb pages it from where the user sees it, towards the click,
        // unless the style has the click take the thumb's middle there.
        const int page = slider->pageStep();
        const bool absolute =
            slider->style()->styleHint(QStyle::SH_Slider_AbsoluteSetButtons) & Qt::LeftButton;
        if (!absolute && (handle.contains(aim) || value == from)) {
            value = from;
        } else if (!absolute) {
            value = std::clamp(value > from ? from + page : from - page, 0, PositionSlider::kRange);
        }
        QTest::mouseClick(slider, Qt::LeftButton, {}, aim);
    }
    Want(m_dragging == 0, "the slider stays held after its button was let go");
    // The preview seeks there once it knows the clip's length.
    if (m_model.loaded) {
        m_model.Seek(m_model.duration * value / PositionSlider::kRange, Clock::now());
    }
}

QWidget* SoakRig::FocusKeys() {
    // The user brings the dialog to the front and clicks away from any text field; the clip
    // may have ended meanwhile.
    ConverterDialog& dialog = m_session->Dialog();
    dialog.activateWindow();
    Want(QTest::qWaitForWindowActive(&dialog, kSettleMs),
         "the dialog did not become the active window");
    Control(D::IDC_SLIDER)->setFocus();
    Resolve();
    return Control(D::IDC_SLIDER);
}

void SoakRig::DoMark(const SoakAction& action) {
    const bool key = action.kind == Kind::MarkKey;
    const bool start = key ? action.a == 0 : action.kind == Kind::StartTime;
    QWidget* keys = key ? FocusKeys() : nullptr;
    // The mark is where the preview is at the press.
    m_model.SetMark(!start, m_model.Position(Clock::now()));
    if (key) {
        QTest::keyClick(keys, start ? Qt::Key_I : Qt::Key_O);
    } else {
        Click(start ? D::IDC_START_TIME : D::IDC_END_TIME);
    }
}

void SoakRig::DoPanel(const SoakAction& action) {
    PrecisionPanel* panel = m_session->Dialog().Panel();
    SoakModel& m = m_model;
    if (action.kind == Kind::More) {
        QTest::mouseClick(m_session->Dialog().findChild<QPushButton*>("moreButton"),
                          Qt::LeftButton);
        m_panelOpen = !m_panelOpen;
    } else if (action.kind == Kind::TypeMark || action.kind == Kind::JunkMark) {
        const int64_t rt = action.b * kMs;
        const QString text = action.kind == Kind::JunkMark
                                 ? "1:2:3:4"
                                 : QString::asprintf("%d.%03d", action.b / 1000, action.b % 1000);
        MarkTimeEdit* field = panel->MarkField(action.a == 0 ? Mark::Start : Mark::End);
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, text);
        QTest::keyClick(field, Qt::Key_Return);
        if (action.kind == Kind::JunkMark) {
            m_expected.push_back("Error: " + text +
                                 " is not a time. Type it as hours:minutes:seconds.milliseconds, "
                                 "for example 0:01:30.250.");
        } else if (rt > m.duration) {
            m_expected.push_back(QString::fromStdString(
                "Error: " + TimeText(rt) + " is outside the file. A mark can be from " +
                TimeText(0) + " to " + TimeText(m.duration) + "."));
            m.endActive = action.a == 1;
        } else {
            m.SetMark(action.a == 1, {rt, 0});
        }
    } else if (action.kind == Kind::Nudge) {
        static const char* const kButtons[] = {"startBackButton", "startForwardButton",
                                               "endBackButton", "endForwardButton"};
        const int steps = action.a % 2 == 0 ? -1 : 1;
        if (action.a < 4) {
            QTest::mouseClick(panel->findChild<QPushButton*>(kButtons[action.a]), Qt::LeftButton);
        } else {
            QTest::keyClick(FocusKeys(), steps < 0 ? Qt::Key_BracketLeft : Qt::Key_BracketRight);
        }
        // A picture frame, or 10 ms without a picture; never outside the file.
        const int fps = File(m.file).fps;
        m.Nudge(action.a < 4 ? action.a >= 2 : m.endActive, steps,
                fps > 0 ? (kSecond + fps / 2) / fps : 10 * kMs);
    } else if (action.kind == Kind::Box) {
        auto* box = panel->findChild<QCheckBox*>(action.a == 0 ? "exactEndBox" : "modernHeaderBox");
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(4, box->height() / 2));
        (action.a == 0 ? m_exactEnd : m_modern) ^= true;
    } else if (action.kind == Kind::Format || (m.file >= 0 && File(m.file).channels2 > 0)) {
        // The format box, or the track box of a file with two tracks.
        const bool track = action.kind == Kind::Track;
        auto* box = panel->findChild<QComboBox*>(track ? "trackBox" : "formatBox");
        box->setFocus();
        QTest::keyClick(box, Qt::Key_Home);
        for (int i = 0; i < action.a; ++i) {
            QTest::keyClick(box, Qt::Key_Down);
        }
        (track ? m.track : m_format) = action.a;
    }
}

void SoakRig::DoAudition(const SoakAction& action) {
    static const char* const kButtons[] = {"playSelectionButton", "loopButton", "playStartButton",
                                           "playEndButton"};
    const int which = action.a;
    SoakModel& m = m_model;
    auto* button = m_session->Dialog().Panel()->findChild<QPushButton*>(kButtons[which]);
    const Clock::time_point now = Clock::now();
    const bool release = which == 1 && m.Looping();
    int order = m.MarksInOrder();
    const size_t boxes = m_messages.records.size();
    QTest::mouseClick(button, Qt::LeftButton);
    if (release) {
        m.ReleaseLoop(now);
        return;
    }
    if (order < 0) {
        // Marks that the tolerances cannot order: the box tells which way the program went.
        order = m_messages.records.size() > boxes ? 0 : 1;
    }
    if (order == 0) {
        m_expected.push_back(kMarksReversed);
        return;
    }
    constexpr int64_t kEdge = 2 * kSecond;
    const Expected from = which == 3 ? Pick({m.end.t - kEdge, m.end.tol}, m.start, true) : m.start;
    const Expected to = which == 2 ? Pick({m.start.t + kEdge, m.start.tol}, m.end, false) : m.end;
    // A clip still loading plays no part.
    if (m.loaded) {
        m.PlayRange(from, to, which == 1, now);
    }
}

void SoakRig::DoPreview(const SoakAction& action) {
    PreviewWindow* window = VisibleWindow();
    if (action.kind == Kind::ClosePreview) {
        m_pendingClose = true;
        window->close();
    } else if (action.kind == Kind::Escape) {
        QTest::keyClick(window, Qt::Key_Escape);
        m_model.fullScreen = false;
    } else {
        QTest::mouseClick(window, Qt::LeftButton, {}, window->rect().center());
    }
}

void SoakRig::DoMenu(const SoakAction& action) {
    // The menu's items, and whether each can be picked with the clip in the model's state.
    static const char* const kItems[] = {"fullScreenAction", "normalSizeAction", "playAction",
                                         "pauseAction",      "stopAction",       "closeAction"};
    PreviewWindow* window = VisibleWindow();
    QTest::mouseClick(window, Qt::RightButton, {}, window->rect().center());
    // The menu opens on a right click, greyed for the player's state; the step then picks
    // its item if it can be picked.
    auto* menu = window->findChild<QMenu*>();
    auto* item = window->findChild<QAction*>(kItems[action.a]);
    if (menu == nullptr || item == nullptr || !menu->isVisible()) {
        Fail("the preview's menu did not open");
        return;
    }
    using P = PlayState;
    const P state = m_model.State();
    const bool enabled[] = {
        true, true, state != P::Running, state == P::Running, state != P::Stopped, true};
    // Right after a hasty step the menu may still show the state before it; the user can
    // only pick what is not greyed.
    Want(item->isEnabled() == enabled[action.a] || m_afterHasty,
         std::string("the preview menu's ") + kItems[action.a] + " is " +
             (item->isEnabled() ? "enabled" : "greyed") + " with the clip " +
             m_model.ClipText(Clock::now()));
    if (item->isEnabled()) {
        static const Kind kTransport[] = {Kind::Play, Kind::Pause, Kind::Stop};
        if (action.a == 0) {
            SwitchFullScreenInModel();
        } else if (action.a == 1) {
            m_model.fullScreen = false;
        } else if (action.a < 5) {
            Transport(m_model, kTransport[action.a - 2]);
        } else {
            m_pendingClose = true;
        }
        item->trigger();
    }
    menu->hide();
}

void SoakRig::SwitchFullScreenInModel() {
    // A known fault, allowed unless ORVANE_SOAK_STRICT is set: the picture's size that
    // libmpv tells before the clip counts as loaded is dropped, and without it full screen
    // is refused.
    if (!Player().VideoSize().isValid() && std::getenv("ORVANE_SOAK_STRICT") == nullptr) {
        ++m_stats.knownFaults;
        return;
    }
    m_model.fullScreen = !m_model.fullScreen;
}

void SoakRig::DoHelp(const SoakAction& action) {
    m_urls.clear();
    if (action.kind != Kind::About) {
        // Help's first page, or the home page, goes to the browser; without one Help shows
        // the page in its own window.
        const bool help = action.kind == Kind::Help;
        m_browser = help ? action.a == 0 : m_browser;
        Click(help ? D::IDC_HELP : D::IDC_HOMEPAGE);
        const QUrl page =
            help ? QUrl::fromLocalFile(QDir::cleanPath(QCoreApplication::applicationDirPath() +
                                                       "/../share/orvane/help/Introduction.htm"))
                 : QUrl("https://orvane.example.org/");
        HelpWindow* window = HelpWindow::Current();
        if (m_urls != std::vector<QUrl>{page}) {
            Fail(action.Text() + " did not hand " + Str(page.toString()) + " to the browser");
        } else if (help && !m_browser &&
                   (window == nullptr || !window->isVisible() || window->CurrentPage() != page)) {
            Fail("without a browser, Help did not show the page in its own window");
        } else if (help && !m_browser) {
            window->close();
        }
        return;
    }
    // The About box is modal; the user closes it after a moment (the run's watchdog closes
    // one that stays up).
    bool seen = false;
    QTimer reader;
    QObject::connect(&reader, &QTimer::timeout, [&] {
        auto* box = m_session->Dialog().findChild<AboutDialog*>();
        if (box != nullptr && box->isVisible()) {
            seen = true;
            box->reject();
        }
    });
    reader.start(30);
    if (action.a == 0) {
        Click(D::IDC_ABOUT);
    } else {
        m_session->Dialog().findChild<QAction*>("aboutAction")->trigger();
    }
    Want(seen, "About showed no box, or the box did not close");
}
