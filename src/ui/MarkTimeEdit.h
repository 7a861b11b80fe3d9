#pragma once

#include <QAbstractSpinBox>

#include <cstdint>

// A mark's time as H:MM:SS.mmm. Typing a time and pressing Enter (or leaving the field)
// proposes it; Up and Down step the section under the cursor (an hour, a minute, a
// second, or 10 ms in the milliseconds) within 0..the maximum. The field shows what it is
// told: the owner decides whether a proposed time becomes the mark.
class MarkTimeEdit final : public QAbstractSpinBox {
    Q_OBJECT
  public:
    explicit MarkTimeEdit(QWidget* parent = nullptr);

    // The mark's time, in media time.
    void ShowTime(int64_t rt);
    int64_t Time() const { return m_time; }
    // The end of the file: the most Up steps to.
    void SetMaximum(int64_t rt);

    void stepBy(int steps) override;
    QValidator::State validate(QString& input, int& pos) const override;

    // The step of the section at a cursor position of a H:MM:SS.mmm text.
    static int64_t SectionStep(const QString& text, int cursor);

  signals:
    // The user asked for this time: typed, or stepped.
    void timeProposed(int64_t rt);
    // The user typed something that is no time.
    void textRejected(const QString& text);

  protected:
    StepEnabled stepEnabled() const override;

  private:
    void OnEditingFinished();

    int64_t m_time = 0;
    int64_t m_maximum = 0;
    QString m_shown;  // the text as last shown, to tell edits from focus changes
};
