#pragma once

#include <QUrl>
#include <QWidget>

class QTextBrowser;
class QToolButton;

// The program's own help viewer, for when no browser can be started: shows the
// help pages, follows their links, and hands web links to the desktop.
class HelpWindow : public QWidget {
    Q_OBJECT
  public:
    // Shows page in the help window, creating it when there is none. The window belongs
    // to parent so that a modal parent does not block it.
    static HelpWindow* ShowPage(QWidget* parent, const QUrl& page);
    // The open help window, or null.
    static HelpWindow* Current();

    explicit HelpWindow(QWidget* parent = nullptr);

    // Shows a local page, a "not found" page for a missing one; other URLs go to the desktop.
    void Navigate(const QUrl& url);
    QTextBrowser* Browser() const { return m_browser; }
    // The page asked for last, found or not.
    QUrl CurrentPage() const { return m_current; }
    bool ShowsMissingPage() const { return m_missing; }

  private:
    void OnLinkActivated(const QUrl& link);
    void OnBack();
    void UpdateBack();
    void UpdateTitle();

    QTextBrowser* m_browser;
    QToolButton* m_back;
    QToolButton* m_forward;
    QUrl m_home;
    QUrl m_current;
    bool m_missing = false;
};
