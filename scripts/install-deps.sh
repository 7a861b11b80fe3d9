#!/usr/bin/env bash
# Installs every Debian 12 package Orvane needs to build, run, test and package; the tests
# also make files with encoders and muxers other than FFmpeg's, as users' files are made.
set -euo pipefail
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
  build-essential cmake ninja-build pkg-config clang clang-format libclang-rt-14-dev \
  qt6-base-dev qt6-base-dev-tools qt6-tools-dev qt6-l10n-tools qt6-translations-l10n \
  libqt6opengl6-dev libqt6openglwidgets6 libgl-dev \
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev libasound2-dev \
  libmpv-dev libcli11-dev nlohmann-json3-dev libgtest-dev libgmock-dev \
  ffmpeg xvfb xauth imagemagick desktop-file-utils time \
  qt6-qpa-plugins libglx-mesa0 libgl1-mesa-dri fonts-dejavu-core \
  dpkg-dev lintian appstream debootstrap groff-base x11-utils \
  twolame lame vorbis-tools opus-tools mkvtoolnix mjpegtools \
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good \
  gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly \
  >/dev/null
