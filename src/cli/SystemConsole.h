#pragma once

#include "Console.h"

// The process's own standard streams.
class SystemConsole : public Console {
  public:
    std::ostream& Out() override;
    std::ostream& Err() override;
    bool InputIsTerminal() const override;
    bool ErrorIsTerminal() const override;
    std::optional<std::string> ReadLine() override;
};
