#include "SilenceDialog.h"

#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>

namespace {

constexpr double kPerSecond = 10'000'000.0;

QDoubleSpinBox* SecondsBox(double seconds, double most, QWidget* parent) {
    auto* box = new QDoubleSpinBox(parent);
    box->setDecimals(2);
    box->setRange(0, most);
    box->setSingleStep(0.25);
    box->setSuffix(SilenceDialog::tr(" s"));
    box->setValue(seconds);
    return box;
}

}  // namespace

SilenceDialog::SilenceDialog(const Values& values, QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Segments from silences"));
    setObjectName("silenceDialog");
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    m_threshold = new QDoubleSpinBox(this);
    m_threshold->setObjectName("silenceThreshold");
    m_threshold->setDecimals(0);
    m_threshold->setRange(-120, 0);
    m_threshold->setSuffix(tr(" dBFS"));
    m_threshold->setValue(values.thresholdDb);
    m_threshold->setToolTip(tr("Silence stays below this peak level"));
    m_length = SecondsBox(values.minimumLength / kPerSecond, 600, this);
    m_length->setObjectName("silenceLength");
    m_length->setMinimum(0.1);
    m_length->setToolTip(tr("Shorter quiet stretches belong to the sound"));
    m_margin = SecondsBox(values.margin / kPerSecond, 60, this);
    m_margin->setObjectName("silenceMargin");
    m_margin->setToolTip(tr("Kept on each side of the sound"));
    form->addRow(tr("Level below"), m_threshold);
    form->addRow(tr("Lasting at least"), m_length);
    form->addRow(tr("Margin"), m_margin);
    layout->addLayout(form);
    m_count = new QLabel(this);
    m_count->setObjectName("silenceCount");
    layout->addWidget(m_count);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_find = buttons->button(QDialogButtonBox::Ok);
    m_find->setText(tr("Find"));
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    for (QDoubleSpinBox* box : {m_threshold, m_length, m_margin}) {
        connect(box, &QDoubleSpinBox::valueChanged, this, &SilenceDialog::settingsChanged);
    }
}

SilenceDialog::Values SilenceDialog::Chosen() const {
    Values v;
    v.thresholdDb = m_threshold->value();
    v.minimumLength = std::llround(m_length->value() * kPerSecond);
    v.margin = std::llround(m_margin->value() * kPerSecond);
    return v;
}

void SilenceDialog::ShowCount(int segments) {
    // Until the waveform is whole there is nothing to count, and nothing to find.
    m_count->setText(segments < 0    ? tr("Waiting for the waveform…")
                     : segments == 1 ? tr("1 segment of sound")
                                     : tr("%1 segments of sound").arg(segments));
    m_find->setEnabled(segments >= 0);
}

QString SilenceDialog::CountText() const {
    return m_count->text();
}
