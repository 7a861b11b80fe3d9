#!/usr/bin/env bash
# Installs every Debian 12 package Orvane needs to build, run and test.
set -euo pipefail
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
  build-essential cmake ninja-build pkg-config clang clang-format libclang-rt-14-dev \
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev libqt6openglwidgets6 libgl-dev \
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev \
  libmpv-dev libcli11-dev libgtest-dev libgmock-dev \
  ffmpeg xvfb xauth imagemagick desktop-file-utils time groff-base \
  qt6-qpa-plugins libglx-mesa0 libgl1-mesa-dri fonts-dejavu-core \
  >/dev/null
