#include "MpvGlVideoWidget.h"

#include <mpv/client.h>
#include <mpv/render_gl.h>

#include <QOpenGLContext>

#include "LibmpvCallbacks.h"

namespace {

void* GetProcAddress(void*, const char* name) {
    QOpenGLContext* context = QOpenGLContext::currentContext();
    if (context == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<void*>(context->getProcAddress(QByteArray(name)));
}

}  // namespace

MpvGlVideoWidget::MpvGlVideoWidget(mpv_handle* mpv, QWidget* parent)
    : QOpenGLWidget(parent), m_mpv(mpv) {
    // Mouse and key input belongs to the preview window, which holds the menu and clicks.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
}

MpvGlVideoWidget::~MpvGlVideoWidget() {
    disconnect(m_contextGone);
    if (m_render != nullptr) {
        makeCurrent();
        FreeRenderContext();
        doneCurrent();
    }
}

EngineResult MpvGlVideoWidget::Prepare() {
    if (m_render == nullptr) {
        window()->winId();
        // Grabbing runs the GL initialisation even while the window is hidden.
        grabFramebuffer();
    }
    if (m_render == nullptr) {
        return {m_nCreateError < 0 ? m_nCreateError : MPV_ERROR_UNSUPPORTED,
                "mpv_render_context_create(MPV_RENDER_API_TYPE_OPENGL)"};
    }
    return {};
}

void MpvGlVideoWidget::initializeGL() {
    if (m_render != nullptr) {
        return;
    }
    mpv_opengl_init_params glInit{&GetProcAddress, nullptr};
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_OPENGL)},
        {MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &glInit},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    const int rc = mpv_render_context_create(&m_render, m_mpv, params);
    if (rc < 0) {
        m_nCreateError = rc;
        m_render = nullptr;
        return;
    }
    LibmpvCallbacks::SetRenderUpdate(m_render, &MpvGlVideoWidget::OnUpdate, this);
    // The GL context can go away before the widget (reparenting, shutdown); the render
    // context must be freed while that GL context is still current.
    m_contextGone = connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, [this] {
        makeCurrent();
        FreeRenderContext();
        doneCurrent();
    });
}

void MpvGlVideoWidget::paintGL() {
    if (m_render == nullptr) {
        return;
    }
    const qreal ratio = devicePixelRatioF();
    mpv_opengl_fbo fbo{static_cast<int>(defaultFramebufferObject()),
                       static_cast<int>(width() * ratio), static_cast<int>(height() * ratio), 0};
    int flipY = 1;
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_OPENGL_FBO, &fbo},
        {MPV_RENDER_PARAM_FLIP_Y, &flipY},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    mpv_render_context_render(m_render, params);
}

void MpvGlVideoWidget::OnUpdate(void* context) {
    // Called on one of libmpv's threads: only hand the work to the GUI thread.
    auto* self = static_cast<MpvGlVideoWidget*>(context);
    QMetaObject::invokeMethod(self, &MpvGlVideoWidget::RenderNow, Qt::QueuedConnection);
}

void MpvGlVideoWidget::RenderNow() {
    if (m_render == nullptr) {
        return;
    }
    if (isVisible() && !window()->isMinimized()) {
        update();
        return;
    }
    // Nobody paints a hidden widget, yet libmpv waits for its frames to be taken.
    makeCurrent();
    paintGL();
    doneCurrent();
}

void MpvGlVideoWidget::FreeRenderContext() {
    if (m_render != nullptr) {
        mpv_render_context_free(m_render);
        m_render = nullptr;
    }
}
