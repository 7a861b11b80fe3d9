#pragma once

#include <QString>

// How the output WAV path is proposed, where the save dialog starts, and the name
// the chosen file gets. Paths use "/" and have no length limit.
class OutputPathRules {
  public:
    // The file name proposed inside the default folder.
    static constexpr const char* kDefaultName = "output.wav";

    // The music folder followed by "/output.wav", or "" when the folder is missing.
    static QString DefaultInMusicFolder(const QString& musicFolder);
    // The fallback when the music folder cannot be had: "output.wav" in the home folder.
    static QString DefaultInHome(const QString& homeFolder);

    // The save dialog's starting folder: the path up to its last "/", "." when it
    // has none, and "/" for a file in the root.
    static QString InitialFolder(const QString& currentPath);

    // Replaces the extension of the file name part (the text from its last "."),
    // or adds one, so the chosen file always ends in ".wav".
    static QString ForceWavExtension(const QString& chosenPath);

    // True when something other than a folder exists at the path.
    static bool FileExists(const QString& path);
};
