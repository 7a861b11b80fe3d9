#include "PreviewGeometry.h"

#include <QCoreApplication>

namespace PreviewGeometry {

QRect FirstPreviewRect(const QRect& workArea, const QRect& dialogFrame) {
    const int left = workArea.left() + 100;
    const int top = workArea.top() + 5;
    const int height = dialogFrame.top() - top;
    if (height <= 0) {
        // The dialog sits at the top of the screen: no room above it.
        return QRect(QPoint(left, top), kDefaultFirstSize);
    }
    const int width = (4 * (dialogFrame.top() - workArea.top() - 5)) / 3;
    return QRect(left, top, width, height);
}

QRect FullScreenVideoRect(const QSize& screen, const QSize& video) {
    const int cx = screen.width();
    const int cy = screen.height();
    const int w = 10 * video.width();
    const int h = 10 * video.height();
    if (w <= 0 || h <= 0) {
        return QRect(0, 0, cx, cy);
    }
    const float aspect = static_cast<float>(w) / static_cast<float>(h);
    const float sx = static_cast<float>(cx) / static_cast<float>(w);
    const float sy = static_cast<float>(cy) / static_cast<float>(h);

    const auto fitWidth = [&] {
        const int fitted = static_cast<int>(static_cast<float>(cx) / aspect);
        const int y = (cy - fitted) / 2;
        return QRect(0, y, cx, cy - 2 * y);
    };
    const auto fitHeight = [&] {
        const int fitted = static_cast<int>(static_cast<float>(cy) * aspect);
        const int x = (cx - fitted) / 2;
        return QRect(x, 0, cx - 2 * x, cy);
    };

    if (w <= cx && h <= cy) {
        return QRect((cx - w) / 2, (cy - h) / 2, w, h);
    }
    if (w > cx && h <= cy) {
        return fitWidth();
    }
    if (w <= cx && h > cy) {
        return fitHeight();
    }
    return sx < sy ? fitWidth() : fitHeight();
}

QString PreviewTitle(const std::string& clipPath, bool paused) {
    if (clipPath.empty()) {
        return QCoreApplication::translate("PreviewWindow", "PREVIEW");
    }
    const size_t slash = clipPath.find_last_of("/\\");
    const std::string name = slash == std::string::npos ? clipPath : clipPath.substr(slash + 1);
    return QString::fromStdString(name) + QStringLiteral("  ") +
           (paused ? QCoreApplication::translate("PreviewWindow", "(Paused)") : QString());
}

}  // namespace PreviewGeometry
