#pragma once

#include <optional>
#include <ostream>
#include <string>

// The terminal the command talks to: its output streams, whether they are
// terminals, and the answer to a question.
class Console {
  public:
    virtual ~Console() = default;
    virtual std::ostream& Out() = 0;
    virtual std::ostream& Err() = 0;
    virtual bool InputIsTerminal() const = 0;
    virtual bool ErrorIsTerminal() const = 0;
    // One line typed by the user, without its newline; nullopt at the end of input.
    virtual std::optional<std::string> ReadLine() = 0;
};
