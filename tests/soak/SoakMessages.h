#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "UserMessages.h"
#include "WaitFor.h"

// The soak's user reading the boxes: every box is recorded and read for a moment, during
// which the program's own events go on as they would under a modal box. A Yes/No question
// gets the current step's answer, and the first box a step shows with an owner may let the
// user do something in the windows the box leaves usable (the preview's) before answering.
// Boxes without an owner are read a moment later, unless dismissed first.
class SoakMessages : public UserMessages {
  public:
    static constexpr int kReadingMs = 15;

    std::vector<QString> records;  // "Caption: text", since the last check
    Answer answer = Answer::No;
    std::function<void()> meanwhile;

    Answer Show(QWidget* owner, const QString& text, const QString& caption, Buttons buttons,
                Icon) override {
        records.push_back(caption + ": " + text);
        if (owner != nullptr && meanwhile) {
            std::exchange(meanwhile, {})();
        }
        ProcessEventsFor(kReadingMs);
        return buttons != Buttons::YesNo ? Answer::Ok
               : answer == Answer::Yes   ? Answer::Yes
                                         : Answer::No;
    }

    void ShowUnowned(const QString& text, const QString& caption,
                     std::function<void()> onSeen) override {
        records.push_back(caption + ": " + text);
        m_unread.emplace(++m_lastId, std::move(onSeen));
        QTimer::singleShot(kReadingMs * 4, &m_context, [this, id = m_lastId] { Read(id); });
    }

    void DismissUnowned() override {
        while (!m_unread.empty()) {
            Read(m_unread.begin()->first);
        }
    }

  private:
    void Read(int id) {
        // Taken out before it runs, so that what it does cannot read it twice.
        auto unread = m_unread.extract(id);
        if (!unread.empty() && unread.mapped()) {
            unread.mapped()();
        }
    }

    QObject m_context;
    std::map<int, std::function<void()>> m_unread;
    int m_lastId = 0;
};
