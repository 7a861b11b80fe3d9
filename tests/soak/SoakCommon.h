#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <cstdint>
#include <string>

#include "SoakModel.h"
#include "SoakRig.h"

// What the parts of the rig share: its constants, the texts the program shows and small
// helpers.
namespace soak {

constexpr const char* kApp = "orvane-soak-tests";
constexpr int kSettleMs = 5000;
constexpr int64_t kMs = SoakModel::kMs;
constexpr int64_t kSecond = 1000 * kMs;
inline const QString kMarksReversed = "Error: The Start Time is bigger than the End Time!";
inline const QString kProbeFailed =
    "Error: Cannot open the file and get the total time. You need to install appropriate "
    "decoders.\nOr the file is corrupt.";

inline std::string Str(const QString& text) {
    return text.toStdString();
}

// HH:MM:SS, as the dialog shows a mark.
inline QString ClockText(int64_t rt) {
    const auto s = static_cast<int>(rt / kSecond);
    return QString::asprintf("%02d:%02d:%02d", s / 3600, s / 60 % 60, s % 60);
}

// H:MM:SS.mmm, as the panel shows a time.
inline QString TimeText(int64_t rt) {
    const long long ms = rt / kMs;
    return QString::asprintf("%lld:%02lld:%02lld.%03lld", ms / 3'600'000, ms / 60'000 % 60,
                             ms / 1000 % 60, ms % 1000);
}

inline QByteArray Bytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A file's contents as a digest: the rig keeps what must stay unchanged without holding the
// bytes, which would count in the heap it measures.
inline QByteArray Digest(const QString& path) {
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    return file.open(QIODevice::ReadOnly) && hash.addData(&file) ? hash.result() : QByteArray();
}

inline bool IsFile(const QString& path) {
    const QFileInfo info(path);
    return info.exists() && !info.isDir();
}

// The folder the outputs go to, beside the media.
inline QString OutputDir() {
    return QFileInfo(SoakRig::Files().front().path).absolutePath() + "/out";
}

}  // namespace soak
