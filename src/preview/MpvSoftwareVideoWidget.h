#pragma once

#include <QImage>
#include <QWidget>

#include <atomic>

#include "PlaybackEngine.h"

struct mpv_handle;
struct mpv_render_context;

// The picture through libmpv's software render API, for displays without OpenGL.
class WakeUp;

class MpvSoftwareVideoWidget final : public QWidget {
    Q_OBJECT
  public:
    MpvSoftwareVideoWidget(mpv_handle* mpv, QWidget* parent);
    ~MpvSoftwareVideoWidget() override;

    EngineResult Prepare();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    static void OnUpdate(void* context);
    void OnUpdateSignalled();
    bool RenderFrame();

    mpv_handle* m_mpv;
    // libmpv's render thread says through it that a new frame is ready; it reads the
    // descriptor from here, published before the callback is set.
    WakeUp* m_frameReady;
    std::atomic<int> m_frameDescriptor{-1};
    mpv_render_context* m_render = nullptr;
    QImage m_frame;
};
