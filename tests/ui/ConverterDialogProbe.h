#pragma once

#include "ConverterDialog.h"
#include "JobObserverBridge.h"

// The tests' way into the dialog's state: what opening a media file and pressing
// the mark buttons will set, and what the conversion reads.
class ConverterDialogProbe {
  public:
    explicit ConverterDialogProbe(ConverterDialog& dialog) : m_dialog(dialog) {}

    void SetMedia(const QString& path, int64_t rtStart, int64_t rtEnd) {
        m_dialog.m_szMediaFile = path;
        m_dialog.m_rtStart = rtStart;
        m_dialog.m_rtEnd = rtEnd;
        m_dialog.EnableMediaControls();
    }
    const QString& MediaFile() const { return m_dialog.m_szMediaFile; }
    const QString& OutputFile() const { return m_dialog.m_strOutputFile; }
    const QString& Info() const { return m_dialog.m_strInfo; }
    int64_t Start() const { return m_dialog.m_rtStart; }
    int64_t End() const { return m_dialog.m_rtEnd; }
    int SliderPos() const { return m_dialog.m_nSliderPos; }
    int DurationSec() const { return m_dialog.m_nDurationSec; }
    bool SeekToSliderPos(int pos) { return m_dialog.SeekToSliderPos(pos); }
    bool JobBusy() const { return m_dialog.m_job->IsBusy(); }
    JobObserverBridge* Bridge() const { return m_dialog.m_bridge.get(); }
    void SetMaxDataBytes(int64_t bytes) { m_dialog.m_job->SetMaxDataBytes(bytes); }

  private:
    ConverterDialog& m_dialog;
};
