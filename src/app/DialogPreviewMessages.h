#pragma once

#include "PreviewMessages.h"

class UserMessages;

// Hands the preview's boxes to the dialog's message seam, so every box of the program
// goes one way: an OK box without an owner, as the preview's failures are shown.
class DialogPreviewMessages : public PreviewMessages {
  public:
    explicit DialogPreviewMessages(UserMessages& messages) : m_messages(messages) {}
    void ShowMessage(const QString& text, const QString& caption) override;

  private:
    UserMessages& m_messages;
};
