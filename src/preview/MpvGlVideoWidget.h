#pragma once

#include <QOpenGLWidget>

#include "PlaybackEngine.h"

struct mpv_handle;
struct mpv_render_context;

// The picture through libmpv's OpenGL render API, drawn into the widget's framebuffer.
class MpvGlVideoWidget : public QOpenGLWidget {
    Q_OBJECT
  public:
    MpvGlVideoWidget(mpv_handle* mpv, QWidget* parent);
    ~MpvGlVideoWidget() override;

    // libmpv must have its render context before a file is loaded, but the window is
    // still hidden then; this makes the GL context and the render context right away.
    EngineResult Prepare();

  protected:
    void initializeGL() override;
    void paintGL() override;

  private:
    static void OnUpdate(void* context);
    void FreeRenderContext();
    void RenderNow();

    mpv_handle* m_mpv;
    mpv_render_context* m_render = nullptr;
    int m_nCreateError = 0;
    QMetaObject::Connection m_contextGone;
};
