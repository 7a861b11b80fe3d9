#pragma once

#include <QString>

// Every message box of the preview goes through here, so tests can record them and the
// dialog can route them through its own message handling.
class PreviewMessages {
  public:
    virtual ~PreviewMessages() = default;
    // Shows the text with an OK button and returns when the user has closed it.
    virtual void ShowMessage(const QString& text, const QString& caption) = 0;
};
