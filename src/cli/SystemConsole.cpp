#include "SystemConsole.h"

#include <unistd.h>

#include <iostream>

std::ostream& SystemConsole::Out() {
    return std::cout;
}

std::ostream& SystemConsole::Err() {
    return std::cerr;
}

bool SystemConsole::InputIsTerminal() const {
    return isatty(STDIN_FILENO) == 1;
}

bool SystemConsole::ErrorIsTerminal() const {
    return isatty(STDERR_FILENO) == 1;
}

std::optional<std::string> SystemConsole::ReadLine() {
    std::string line;
    if (!std::getline(std::cin, line)) {
        return std::nullopt;
    }
    return line;
}
