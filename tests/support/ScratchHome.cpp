#include "ScratchHome.h"

#include <stdlib.h>

#include <filesystem>

ScratchHome::ScratchHome(const std::string& name) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / (name + "-home-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) {
        return;
    }
    m_path = pattern;
    setenv("HOME", m_path.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (m_path + "/config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", m_path.c_str(), 1);
    unsetenv("XDG_MUSIC_DIR");
}

ScratchHome::~ScratchHome() {
    if (!m_path.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
}
