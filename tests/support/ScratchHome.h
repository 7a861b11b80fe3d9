#pragma once

#include <string>

// A home folder of the tests' own for as long as the object lives: settings, the music
// folder and runtime files go there, so tests neither see nor change the user's.
class ScratchHome {
  public:
    explicit ScratchHome(const std::string& name);
    ~ScratchHome();
    ScratchHome(const ScratchHome&) = delete;
    ScratchHome& operator=(const ScratchHome&) = delete;

    bool Ok() const { return !m_path.empty(); }

  private:
    std::string m_path;
};
