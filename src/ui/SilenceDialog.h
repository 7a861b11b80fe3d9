#pragma once

#include <QDialog>

#include "SilenceFinder.h"

class QDoubleSpinBox;
class QLabel;
class QPushButton;

// Asks how silences are told from sound: the level they stay below, how long they last at
// least and how much is kept on each side of the sound. Shows how many segments the values
// give as they change; the count is worked out by whoever listens to settingsChanged.
class SilenceDialog final : public QDialog {
    Q_OBJECT
  public:
    using Values = SilenceFinder::Settings;

    explicit SilenceDialog(const Values& values, QWidget* parent = nullptr);

    Values Chosen() const;
    // How many segments the chosen values give; -1 while nothing is known.
    void ShowCount(int segments);
    QString CountText() const;

  signals:
    void settingsChanged();

  private:
    QDoubleSpinBox* m_threshold = nullptr;
    QDoubleSpinBox* m_length = nullptr;
    QDoubleSpinBox* m_margin = nullptr;
    QLabel* m_count = nullptr;
    QPushButton* m_find = nullptr;
};
