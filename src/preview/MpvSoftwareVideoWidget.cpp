#include "MpvSoftwareVideoWidget.h"

#include <mpv/client.h>
#include <mpv/render.h>

#include <QPainter>

MpvSoftwareVideoWidget::MpvSoftwareVideoWidget(mpv_handle* mpv, QWidget* parent)
    : QWidget(parent), m_mpv(mpv) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
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
    mpv_render_context_set_update_callback(m_render, &MpvSoftwareVideoWidget::OnUpdate, this);
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
    // Called on one of libmpv's threads: only hand the work to the GUI thread.
    auto* self = static_cast<MpvSoftwareVideoWidget*>(context);
    QMetaObject::invokeMethod(
        self,
        [self] {
            if (self->isVisible()) {
                self->update();
            } else {
                // Nobody paints a hidden widget, yet libmpv waits for its frames to be taken.
                self->RenderFrame();
            }
        },
        Qt::QueuedConnection);
}
