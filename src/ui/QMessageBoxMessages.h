#pragma once

#include <QList>
#include <QPointer>

#include "UserMessages.h"

class QMessageBox;

// The real message boxes.
class QMessageBoxMessages : public UserMessages {
  public:
    QMessageBoxMessages() = default;
    ~QMessageBoxMessages() override;
    QMessageBoxMessages(const QMessageBoxMessages&) = delete;
    QMessageBoxMessages& operator=(const QMessageBoxMessages&) = delete;

    Answer Show(QWidget* owner, const QString& text, const QString& caption, Buttons buttons,
                Icon icon = Icon::None) override;
    void ShowUnowned(const QString& text, const QString& caption,
                     std::function<void()> onSeen) override;
    void DismissUnowned() override;

  private:
    QList<QPointer<QMessageBox>> m_unowned;
};
