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

// Where the video goes on a full screen of `screen` pixels for a picture of `video`
// pixels: scaled to ten times its size, then shrunk to fit with its aspect kept.
QRect FullScreenVideoRect(const QSize& screen, const QSize& video);

// The window title: "PREVIEW" without a clip, else the file's name part, two blanks, and
// "(Paused)" while paused.
QString PreviewTitle(const std::string& clipPath, bool paused);

}  // namespace PreviewGeometry
