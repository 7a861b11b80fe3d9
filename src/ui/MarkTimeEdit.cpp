#include "MarkTimeEdit.h"

#include <QLineEdit>

#include <algorithm>

#include "MediaTime.h"

namespace {

constexpr int64_t kSecond = MediaTime::kUnitsPerSecond;

QString Text(int64_t rt) {
    return QString::fromStdString(MediaTime::Format(rt));
}

}  // namespace

MarkTimeEdit::MarkTimeEdit(QWidget* parent) : QAbstractSpinBox(parent) {
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    setAccelerated(true);
    setKeyboardTracking(false);
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    connect(this, &QAbstractSpinBox::editingFinished, this, &MarkTimeEdit::OnEditingFinished);
    ShowTime(0);
}

void MarkTimeEdit::ShowTime(int64_t rt) {
    m_time = rt;
    m_shown = Text(rt);
    if (lineEdit()->text() != m_shown) {
        const int cursor = lineEdit()->cursorPosition();
        lineEdit()->setText(m_shown);
        lineEdit()->setCursorPosition(std::min<int>(cursor, m_shown.size()));
    }
}

void MarkTimeEdit::SetMaximum(int64_t rt) {
    m_maximum = std::max<int64_t>(rt, 0);
}

int64_t MarkTimeEdit::SectionStep(const QString& text, int cursor) {
    // Sections from the right: milliseconds after the dot, then seconds, minutes, hours.
    const int dot = text.lastIndexOf('.');
    if (dot >= 0 && cursor > dot) {
        return kSecond / 100;
    }
    const QString left = text.left(dot >= 0 ? dot : text.size());
    const int colonsAfter = static_cast<int>(left.mid(cursor).count(':'));
    constexpr int64_t kSteps[] = {kSecond, 60 * kSecond, 3600 * kSecond};
    return kSteps[std::min(colonsAfter, 2)];
}

void MarkTimeEdit::stepBy(int steps) {
    const int64_t step = SectionStep(lineEdit()->text(), lineEdit()->cursorPosition());
    const int64_t stepped = std::clamp<int64_t>(m_time + steps * step, 0, m_maximum);
    if (stepped != m_time) {
        emit timeProposed(stepped);
    }
}

QAbstractSpinBox::StepEnabled MarkTimeEdit::stepEnabled() const {
    StepEnabled enabled = StepNone;
    if (m_time > 0) {
        enabled |= StepDownEnabled;
    }
    if (m_time < m_maximum) {
        enabled |= StepUpEnabled;
    }
    return enabled;
}

QValidator::State MarkTimeEdit::validate(QString& input, int& /*pos*/) const {
    for (const QChar c : input) {
        if (!c.isDigit() && c != ':' && c != '.') {
            return QValidator::Invalid;
        }
    }
    return MediaTime::Parse(input.toStdString()) ? QValidator::Acceptable
                                                 : QValidator::Intermediate;
}

void MarkTimeEdit::OnEditingFinished() {
    const QString text = lineEdit()->text();
    if (text == m_shown) {
        return;
    }
    // Once per edit, even when a message box takes the focus meanwhile.
    m_shown = text;
    const std::optional<int64_t> typed = MediaTime::Parse(text.toStdString());
    if (typed) {
        emit timeProposed(*typed);
    } else {
        emit textRejected(text);
    }
    // The owner shows the mark as it now stands; until then the old one stays.
    if (lineEdit()->text() == text) {
        ShowTime(m_time);
    }
}
