#pragma once

#include <QScrollArea>

class PrecisionPanel;

// The precision panel in a scroll area: as tall as everything the panel holds where the
// screen has room for it, shorter on a small screen, with the panel's contents scrolled
// (Tab scrolls the focused control into sight).
class PanelArea final : public QScrollArea {
    Q_OBJECT
  public:
    explicit PanelArea(QWidget* parent = nullptr);

    PrecisionPanel* Panel() const { return m_panel; }
    // The height that shows the whole panel at the area's width.
    int ContentsHeight() const;
    // Takes the height the panel wants, or `room` where that is less but still enough to
    // work in; with less room than that, the whole height again.
    void FitHeight(int room);
    // The width the panel needs besides the area's own: a vertical scroll bar's.
    int ScrollBarWidth() const;

  signals:
    // The panel's contents ask for another size (a note, a list grew).
    void contentsChanged();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    PrecisionPanel* m_panel = nullptr;
};
