#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

// Which of the dialog and the preview window stands in front: a left click on a windowed
// picture puts the other one in front (the choice is kept for the whole run, across
// previews); in full screen it puts the dialog behind the picture or back in front of it.
// Leaving full screen brings the dialog back, with the picture above it.
class WindowOrder final : public QObject {
    Q_OBJECT
  public:
    explicit WindowOrder(QWidget* dialog, QObject* parent = nullptr);

    // The picture in `preview` was clicked.
    void OnPictureClicked(QWidget* preview, bool fullScreen);
    void OnFullScreenChanged(QWidget* preview, bool on);
    // After the preview's menu: the next full-screen click hides the dialog again.
    void OnMenuClosed() { m_clickHidesDialog = true; }

    // Whether the next click on a windowed picture puts the picture in front.
    bool DialogOnTop() const { return m_dialogOnTop; }

  private:
    void DialogInFront();

    QPointer<QWidget> m_dialog;
    bool m_dialogOnTop = true;
    bool m_clickHidesDialog = true;
};
