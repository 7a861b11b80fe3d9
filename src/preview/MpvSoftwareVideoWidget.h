#pragma once

#include <QImage>
#include <QWidget>

#include "PlaybackEngine.h"

struct mpv_handle;
struct mpv_render_context;

// The picture through libmpv's software render API, for displays without OpenGL.
class MpvSoftwareVideoWidget : public QWidget {
    Q_OBJECT
  public:
    // updateFd: an eventfd that libmpv's render thread writes to when a new frame is
    // ready; the engine makes it before libmpv starts its threads and owns it.
    MpvSoftwareVideoWidget(mpv_handle* mpv, int updateFd, QWidget* parent);
    ~MpvSoftwareVideoWidget() override;

    EngineResult Prepare();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    static void OnUpdate(void* context);
    void OnUpdateSignalled();
    bool RenderFrame();

    mpv_handle* m_mpv;
    int m_updateFd;
    mpv_render_context* m_render = nullptr;
    QImage m_frame;
};
