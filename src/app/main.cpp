#include "ConverterApp.h"

int main(int argc, char* argv[]) {
    ConverterApp app(argc, argv);
    // The program ends when the converter dialog ends.
    return app.InitInstance() ? app.exec() : 0;
}
