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
    MpvSoftwareVideoWidget(mpv_handle* mpv, QWidget* parent);
    ~MpvSoftwareVideoWidget() override;

    EngineResult Prepare();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    static void OnUpdate(void* context);
    bool RenderFrame();

    mpv_handle* m_mpv;
    mpv_render_context* m_render = nullptr;
    QImage m_frame;
};
