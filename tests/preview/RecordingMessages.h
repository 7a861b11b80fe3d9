#pragma once

#include <QString>

#include <vector>

#include "PreviewMessages.h"

// Keeps every message box instead of showing it.
class RecordingMessages : public PreviewMessages {
  public:
    struct Box {
        QString text;
        QString caption;
    };

    void ShowMessage(const QString& text, const QString& caption) override {
        boxes.push_back({text, caption});
    }

    std::vector<Box> boxes;
};
