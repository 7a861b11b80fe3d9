#include "TestMedia.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

int RunCommand(const std::string& command, std::string* out) {
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return -1;
    }
    std::array<char, 65536> chunk;
    size_t n;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) {
        if (out != nullptr) {
            out->append(chunk.data(), n);
        }
    }
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TestMedia::TestMedia() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orvane-test-XXXXXX").string();
    char* dir = mkdtemp(pattern.data());
    if (dir == nullptr) {
        ADD_FAILURE() << "cannot make a scratch folder";
        return;
    }
    m_dir = dir;
}

TestMedia::~TestMedia() {
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
}

std::string TestMedia::Join(const std::string& name, const std::vector<std::string>& parts) const {
    const std::string path = Path(name);
    std::ofstream out(path, std::ios::binary);
    for (const std::string& part : parts) {
        out << std::ifstream(part, std::ios::binary).rdbuf();
    }
    return path;
}

std::string TestMedia::Make(const std::string& name, const std::string& args) const {
    const std::string path = Path(name);
    const std::string cmd = "ffmpeg -nostdin -hide_banner -loglevel error -y " + args + " " +
                            ShellQuote(path) + " 2>&1";
    std::string log;
    const int status = RunCommand(cmd, &log);
    EXPECT_EQ(status, 0) << cmd << "\n" << log;
    return path;
}

std::string TestMedia::Tones(double seconds, int rate) {
    std::ostringstream s;
    s << "-f lavfi -i \"aevalsrc=0.5*sin(2*PI*440*t)|0.4*sin(2*PI*1000*t):s=" << rate
      << ":d=" << seconds << "\"";
    return s.str();
}

std::vector<int16_t> TestMedia::DecodeS16(const std::string& input,
                                          const std::string& preInputArgs) {
    const std::string cmd = "ffmpeg -nostdin -hide_banner -loglevel error " + preInputArgs +
                            " -i " + ShellQuote(input) + " -vn -f s16le -c:a pcm_s16le -";
    std::string raw;
    EXPECT_EQ(RunCommand(cmd, &raw), 0) << cmd;
    std::vector<int16_t> samples(raw.size() / 2);
    std::memcpy(samples.data(), raw.data(), samples.size() * 2);
    return samples;
}
