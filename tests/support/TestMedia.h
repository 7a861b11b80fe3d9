#pragma once

#include <filesystem>
#include <string>
#include <vector>

// Test media made on the spot with the ffmpeg command, in a scratch folder that
// lives as long as the object.
class TestMedia {
  public:
    TestMedia();
    ~TestMedia();
    TestMedia(const TestMedia&) = delete;
    TestMedia& operator=(const TestMedia&) = delete;

    const std::filesystem::path& Dir() const { return m_dir; }
    std::string Path(const std::string& name) const { return (m_dir / name).string(); }

    // Runs ffmpeg with the arguments (already quoted for the shell) writing to the
    // named file in the scratch folder; returns its full path. Fails the test when
    // ffmpeg fails.
    std::string Make(const std::string& name, const std::string& args) const;

    // The files one after another, as `cat` joins them, in the named file; returns its path.
    std::string Join(const std::string& name, const std::vector<std::string>& parts) const;

    // A stereo sound whose left channel is a sine and right channel a different one,
    // so that a cut's position can be checked sample by sample.
    static std::string Tones(double seconds, int rate);

    // Decodes a file to raw interleaved 16-bit PCM with the ffmpeg command, optionally
    // from a start time given before the input.
    static std::vector<int16_t> DecodeS16(const std::string& input,
                                          const std::string& preInputArgs = "");

  private:
    std::filesystem::path m_dir;
};

// Runs a shell command and returns its exit status (and its standard output, if asked).
int RunCommand(const std::string& command, std::string* out = nullptr);
std::string ShellQuote(const std::string& text);
