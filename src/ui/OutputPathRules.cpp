#include "OutputPathRules.h"

#include <QDir>
#include <QFileInfo>

QString OutputPathRules::DefaultInMusicFolder(const QString& musicFolder) {
    if (musicFolder.isEmpty() || !QDir(musicFolder).exists()) {
        return QString();
    }
    QString folder = musicFolder;
    if (!folder.endsWith('/')) {
        folder += '/';
    }
    return folder + kDefaultName;
}

QString OutputPathRules::DefaultInHome(const QString& homeFolder) {
    QString folder = homeFolder;
    if (!folder.endsWith('/')) {
        folder += '/';
    }
    return folder + kDefaultName;
}

QString OutputPathRules::InitialFolder(const QString& currentPath) {
    const qsizetype slash = currentPath.lastIndexOf('/');
    if (slash < 0) {
        return ".";
    }
    if (slash == 0) {
        return "/";
    }
    return currentPath.left(slash);
}

QString OutputPathRules::ForceWavExtension(const QString& chosenPath) {
    const qsizetype nameStart = chosenPath.lastIndexOf('/') + 1;
    const qsizetype dot = chosenPath.lastIndexOf('.');
    QString path = chosenPath;
    if (dot >= nameStart) {
        path.truncate(dot);
    }
    return path + ".wav";
}

bool OutputPathRules::FileExists(const QString& path) {
    // Anything but a folder at the path is a file the conversion would replace, so it
    // is asked about, also when it cannot be read. Nothing is opened: opening a named
    // pipe for reading would hang until someone writes to it.
    const QFileInfo info(path);
    return !path.isEmpty() && info.exists() && !info.isDir();
}
