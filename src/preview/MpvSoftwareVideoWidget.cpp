#include "MpvSoftwareVideoWidget.h"

#include <mpv/client.h>
#include <mpv/render.h>

#include <QPainter>

#include "LibmpvCallbacks.h"
#include "WakeUp.h"

MpvSoftwareVideoWidget::MpvSoftwareVideoWidget(mpv_handle* mpv, QWidget* parent)
    : QWidget(parent), m_mpv(mpv), m_frameReady(new WakeUp(this)) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
    connect(m_frameReady, &WakeUp::woken, this, &MpvSoftwareVideoWidget::OnUpdateSignalled);
}

MpvSoftwareVideoWidget::~MpvSoftwareVideoWidget() {
    if (m_render != nullptr) {
        mpv_render_context_free(m_render);
    }
}

EngineResult MpvSoftwareVideoWidget::Prepare() {
    if (m_render != nullptr) {
        return {};
    }
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_SW)},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    const int rc = mpv_render_context_create(&m_render, m_mpv, params);
    if (rc < 0) {
        m_render = nullptr;
        return {rc, "mpv_render_context_create(MPV_RENDER_API_TYPE_SW)"};
    }
    // libmpv hands the callback's context to its render thread under a lock of its own,
    // which ThreadSanitizer cannot see: the descriptor is published through an atomic,
    // so that its creation is ordered before the thread's write to it. The render context
    // is freed before the widget, so the atomic outlives every call.
    m_frameDescriptor.store(m_frameReady->Descriptor(), std::memory_order_release);
    LibmpvCallbacks::SetRenderUpdate(m_render, &MpvSoftwareVideoWidget::OnUpdate,
                                     &m_frameDescriptor);
    return {};
}

bool MpvSoftwareVideoWidget::RenderFrame() {
    if (m_render == nullptr) {
        return false;
    }
    const QSize target = size().expandedTo(QSize(16, 16));
    if (m_frame.size() != target) {
        m_frame = QImage(target, QImage::Format_RGB32);
    }
    // "bgr0" is the byte order of QImage::Format_RGB32 on little-endian machines.
    int frameSize[2] = {m_frame.width(), m_frame.height()};
    size_t stride = static_cast<size_t>(m_frame.bytesPerLine());
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_SW_SIZE, frameSize},
        {MPV_RENDER_PARAM_SW_FORMAT, const_cast<char*>("bgr0")},
        {MPV_RENDER_PARAM_SW_STRIDE, &stride},
        {MPV_RENDER_PARAM_SW_POINTER, m_frame.bits()},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    return mpv_render_context_render(m_render, params) >= 0;
}

void MpvSoftwareVideoWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!RenderFrame()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    painter.drawImage(0, 0, m_frame);
}

void MpvSoftwareVideoWidget::OnUpdate(void* context) {
    // Called on one of libmpv's threads: only wake the GUI thread.
    WakeUp::WakeThrough(
        static_cast<const std::atomic<int>*>(context)->load(std::memory_order_acquire));
}

void MpvSoftwareVideoWidget::OnUpdateSignalled() {
    if (isVisible()) {
        update();
    } else {
        // Nobody paints a hidden widget, yet libmpv waits for its frames to be taken.
        RenderFrame();
    }
}
