#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One step of a random soak run: what the user does, with its parameters. Every step has a
// text form ("open:mp4", "convert:yes:close!", "drag:300:800"), so that a run prints as a
// list that replays exactly.
struct SoakAction {
    enum class Kind {
        Open,    // a: file (choosing it in Open Media File)
        Drop,    // a: file (dropped on the dialog)
        Delete,  // the file "doomed" is deleted, open or not
        Play,    // the dialog's transport buttons
        Pause,
        Stop,
        Drag,    // a: slider position to drag the thumb to, b: milliseconds held there
        Groove,  // a: slider position clicked
        StartTime,
        EndTime,
        Output,         // a: path typed into the output box
        Browse,         // a: the save chooser's answer
        Convert,        // a: answer to the replace question, b: what the user does meanwhile
        Wait,           // a: milliseconds of doing nothing
        ClosePreview,   // the preview window's close box
        Menu,           // a: item of the preview window's menu
        Escape,         // Esc on the preview window
        ClickPreview,   // a left click on the preview window
        EnterInOutput,  // Enter in the output box, which must do nothing
        Help,           // a: whether a browser takes the page
        Homepage,
        About,  // a: from the button or the dialog's menu
        Quit,   // a: how the dialog is ended; a new one starts
        // The precision panel, and the keys that stand for its commands.
        More,      // the More/Less button
        TypeMark,  // a: which mark, b: the time typed, in milliseconds
        JunkMark,  // a: which mark gets a text that is no time
        Nudge,     // a: a mark's step button, or the [ and ] keys
        MarkKey,   // a: I or O
        Audition,  // a: Play selection, Loop, Play start, Play end
        Track,     // a: the track box's entry
        Format,    // a: the format box's entry
        Box,       // a: the exact-end or the modern-header check box, clicked
    };

    Kind kind = Kind::Wait;
    int a = 0;
    int b = 0;
    // Done without waiting for the program to settle: the next step comes at once. At most
    // one step in ten is hasty.
    bool hasty = false;

    std::string Text() const;
    // Parses one step's text; false when it is not the text of a step.
    static bool Parse(const std::string& text, SoakAction* action);
};

using SoakActions = std::vector<SoakAction>;

// A run of `count` steps drawn from the seed: the same seed gives the same steps.
SoakActions GenerateSoakActions(uint64_t seed, int count);
// "a, b, c" and back; false when a step does not parse.
std::string SoakActionsText(const SoakActions& actions);
bool ParseSoakActions(const std::string& text, SoakActions* actions);
