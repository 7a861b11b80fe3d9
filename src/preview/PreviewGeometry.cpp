#include "PreviewGeometry.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdint>

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

namespace {

constexpr int kGap = 5;

// The picture at its own size where it fits the room's client area, else scaled down.
QSize FitInto(const QSize& video, const QSize& room) {
    if (room.width() <= 0 || room.height() <= 0) {
        return QSize();
    }
    if (video.width() <= room.width() && video.height() <= room.height()) {
        return video;
    }
    return video.scaled(room, Qt::KeepAspectRatio);
}

}  // namespace

QRect VideoWindowRect(const QRect& workArea, const QRect& dialogFrame, const QPoint& topLeft,
                      const QSize& video, const QSize& frame, Room room) {
    if (video.isEmpty()) {
        return QRect();
    }
    const int top = workArea.top() + kGap;
    const int height = workArea.bottom() + 1 - top;
    struct Candidate {
        QRect room;  // frame rectangle the window may take
        bool above;
    };
    const Candidate candidates[] = {
        {QRect(workArea.left(), top, workArea.width(), dialogFrame.top() - top), true},
        {QRect(dialogFrame.right() + 1 + kGap, top, workArea.right() - dialogFrame.right() - kGap,
               height),
         false},
        {QRect(workArea.left(), top, dialogFrame.left() - kGap - workArea.left(), height), false},
    };
    const auto area = [](const QRect& r) { return int64_t{r.width()} * r.height(); };
    QRect placed[3];
    for (int i = 0; i < 3; ++i) {
        const Candidate& c = candidates[i];
        const QSize client = FitInto(video, c.room.size() - frame);
        if (client.isEmpty()) {
            continue;
        }
        const QSize outer = client + frame;
        QPoint corner;
        if (c.above) {
            // From the first window's corner, moved left only as far as the width needs.
            corner = QPoint(std::min(topLeft.x(), c.room.right() + 1 - outer.width()), top);
            corner.rx() = std::max(corner.x(), c.room.left());
        } else {
            // Next to the dialog, level with its top where the height allows.
            const int x = i == 2 ? c.room.right() + 1 - outer.width() : c.room.left();
            const int y = std::clamp(dialogFrame.top(), top,
                                     std::max(top, workArea.bottom() + 1 - outer.height()));
            corner = QPoint(x, y);
        }
        placed[i] = QRect(corner, client);
    }
    const QRect& wider = area(placed[1]) >= area(placed[2]) ? placed[1] : placed[2];
    if (room == Room::Largest) {
        return area(placed[0]) >= area(wider) ? placed[0] : wider;
    }
    const auto goodEnough = [&](const QRect& r) {
        return !r.isNull() && (r.size() == video || r.height() >= kMinFittedHeight);
    };
    if (goodEnough(placed[0])) {
        return placed[0];
    }
    if (goodEnough(wider)) {
        return wider;
    }
    const QRect& beside = wider;
    return area(placed[0]) > area(beside) ? placed[0] : beside;
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
