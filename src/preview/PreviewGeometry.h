#pragma once

#include <QRect>
#include <QSize>
#include <QString>

#include <string>

// Pure placement and title rules of the preview window, kept apart from the widgets so
// they can be checked with plain numbers.
namespace PreviewGeometry {

// Size of the first window when the dialog leaves no room above it.
inline constexpr QSize kDefaultFirstSize{320, 240};

// The preview's first frame rectangle: above the dialog, lower edge on the dialog's upper
// edge, 4:3 wide, from the available screen area and the dialog's frame rectangle.
QRect FirstPreviewRect(const QRect& workArea, const QRect& dialogFrame);

// The least height a picture is scaled down to above the dialog before it goes beside it.
inline constexpr int kMinFittedHeight = 160;

// Which room around the dialog the window takes.
enum class Room {
    // Above the dialog where the picture shows well there (the documented placement).
    AboveFirst,
    // Above or beside, wherever the picture is largest (while the dialog is tall with its
    // panel open).
    Largest,
};

// Where the window goes once the picture's size is known, so that it never covers the
// dialog: at the picture's own size where that fits in the work area above the dialog
// (from `topLeft`, the first window's corner), else scaled down to the room there with
// the aspect kept; where that is under kMinFittedHeight tall, beside the dialog on the
// side with more room; where nothing fits that well, wherever the picture is largest.
// With Room::Largest, wherever the picture is largest, above first on a tie.
// `frame` is what the window's frame adds to its client size. Returns the frame's corner
// and the client size.
QRect VideoWindowRect(const QRect& workArea, const QRect& dialogFrame, const QPoint& topLeft,
                      const QSize& video, const QSize& frame, Room room = Room::AboveFirst);

// Where the video goes on a full screen of `screen` pixels for a picture of `video`
// pixels: scaled to ten times its size, then shrunk to fit with its aspect kept.
QRect FullScreenVideoRect(const QSize& screen, const QSize& video);

// The window title: "PREVIEW" without a clip, else the file's name part, two blanks, and
// "(Paused)" while paused.
QString PreviewTitle(const std::string& clipPath, bool paused);

}  // namespace PreviewGeometry
