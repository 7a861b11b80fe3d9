#include <string>
#include <vector>

#include "ExtractCommand.h"
#include "SystemConsole.h"

int main(int argc, char** argv) {
    SystemConsole console;
    ExtractCommand command(console);
    return command.Run(std::vector<std::string>(argv, argv + argc));
}
