#pragma once

#include "PreviewMessages.h"

// The real message boxes: modal, OK button, no owner window.
class MessageBoxPreviewMessages : public PreviewMessages {
  public:
    void ShowMessage(const QString& text, const QString& caption) override;
};
