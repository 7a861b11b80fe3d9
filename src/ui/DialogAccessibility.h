#pragma once

class ConverterDialog;

// What a screen reader says for the dialog's controls whose own text names nothing (the
// slider, the clocks, the info line, the output field, the progress bar). Buttons and
// labelled fields are named by their texts.
class DialogAccessibility final {
  public:
    static void Describe(ConverterDialog& dialog);
};
