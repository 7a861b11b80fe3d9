#pragma once

#include <QString>
#include <functional>
#include <vector>

#include "UserMessages.h"

// Records every message instead of showing it. Owned boxes get the scripted answer;
// unowned boxes are either seen at once or held until the test releases them.
class RecordingMessages : public UserMessages {
  public:
    struct Record {
        bool owned = false;
        QString text;
        QString caption;
        Buttons buttons = Buttons::Ok;
        Icon icon = Icon::None;
    };

    std::vector<Record> records;
    Answer answer = Answer::Ok;
    bool holdUnowned = false;
    std::vector<std::function<void()>> held;
    int dismissed = 0;

    Answer Show(QWidget*, const QString& text, const QString& caption, Buttons buttons,
                Icon icon) override {
        records.push_back({true, text, caption, buttons, icon});
        if (buttons == Buttons::ReplaceSkipCancel) {
            return answer;
        }
        if (buttons == Buttons::YesNo) {
            return answer == Answer::Yes ? Answer::Yes : Answer::No;
        }
        return Answer::Ok;
    }

    void ShowUnowned(const QString& text, const QString& caption,
                     std::function<void()> onSeen) override {
        records.push_back({false, text, caption, Buttons::Ok, Icon::None});
        if (holdUnowned) {
            held.push_back(std::move(onSeen));
        } else {
            onSeen();
        }
    }

    void DismissUnowned() override {
        for (auto& onSeen : std::exchange(held, {})) {
            ++dismissed;
            onSeen();
        }
    }

    // The user reads the boxes that were held.
    void ReleaseHeld() {
        for (auto& onSeen : std::exchange(held, {})) {
            onSeen();
        }
    }
};
