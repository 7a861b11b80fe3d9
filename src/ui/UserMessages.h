#pragma once

#include <QString>
#include <functional>

class QWidget;

// Every message the program shows goes through here, so that the dialog can run
// headless in tests with a recording implementation.
class UserMessages {
  public:
    // ReplaceSkipCancel: Replace all, Skip existing, Cancel (for a batch of files).
    enum class Buttons { Ok, YesNo, ReplaceSkipCancel };
    enum class Icon { None, Exclamation };
    enum class Answer { Ok, Yes, No, ReplaceAll, SkipExisting, Cancel };

    virtual ~UserMessages() = default;

    // A box owned by (and modal to) owner; returns the user's answer.
    virtual Answer Show(QWidget* owner, const QString& text, const QString& caption,
                        Buttons buttons, Icon icon = Icon::None) = 0;

    // A box without an owner that leaves every window usable and returns at once;
    // onSeen runs on the GUI thread once the box is gone (answered or dismissed).
    virtual void ShowUnowned(const QString& text, const QString& caption,
                             std::function<void()> onSeen) = 0;

    // Closes every unowned box still shown; their onSeen callbacks run.
    virtual void DismissUnowned() = 0;
};
