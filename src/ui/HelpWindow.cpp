#include "HelpWindow.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QPointer>
#include <QShortcut>
#include <QTextBrowser>
#include <QToolButton>
#include <QVBoxLayout>

#include "HelpLauncher.h"

namespace {

QPointer<HelpWindow>& OpenWindow() {
    static QPointer<HelpWindow> window;
    return window;
}

QString NotFoundPage(const QString& path) {
    return HelpWindow::tr(
               "<html><head><title>Help page not found</title></head><body>"
               "<h1>Help page not found</h1>"
               "<p>The help page <code>%1</code> was not found.</p>"
               "<p>Orvane looks for its help in <code>share/orvane/help</code> under the "
               "folder it is installed in. Installing Orvane again puts the help pages "
               "back.</p></body></html>")
        .arg(path.toHtmlEscaped());
}

}  // namespace

HelpWindow* HelpWindow::Current() {
    return OpenWindow().data();
}

HelpWindow* HelpWindow::ShowPage(QWidget* parent, const QUrl& page) {
    QPointer<HelpWindow>& window = OpenWindow();
    if (!window) {
        window = new HelpWindow(parent);
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->m_home = page;
    }
    window->Navigate(page);
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

HelpWindow::HelpWindow(QWidget* parent)
    : QWidget(parent, Qt::Window),
      m_browser(new QTextBrowser(this)),
      m_back(new QToolButton(this)),
      m_forward(new QToolButton(this)) {
    setWindowTitle(tr("Orvane Help"));
    auto* contents = new QToolButton(this);
    contents->setText(tr("Contents"));
    contents->setObjectName(QStringLiteral("contentsButton"));
    m_back->setObjectName(QStringLiteral("backButton"));
    m_forward->setObjectName(QStringLiteral("forwardButton"));
    m_back->setText(tr("Back"));
    m_forward->setText(tr("Forward"));
    m_back->setEnabled(false);
    m_forward->setEnabled(false);

    auto* bar = new QHBoxLayout;
    bar->addWidget(m_back);
    bar->addWidget(m_forward);
    bar->addWidget(contents);
    bar->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(m_browser, 1);

    // Links are followed here, so a missing page gets a page of its own and web links
    // leave for the browser instead of being shown as text.
    m_browser->setOpenLinks(false);
    connect(m_browser, &QTextBrowser::anchorClicked, this, &HelpWindow::OnLinkActivated);
    connect(m_browser, &QTextBrowser::backwardAvailable, this, [this](bool) { UpdateBack(); });
    connect(m_browser, &QTextBrowser::forwardAvailable, m_forward, &QWidget::setEnabled);
    connect(m_back, &QToolButton::clicked, this, &HelpWindow::OnBack);
    connect(m_forward, &QToolButton::clicked, m_browser, &QTextBrowser::forward);
    connect(contents, &QToolButton::clicked, this, [this] { Navigate(m_home); });
    auto* back = new QShortcut(QKeySequence::Back, this);
    connect(back, &QShortcut::activated, this, &HelpWindow::OnBack);
    auto* close = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(close, &QShortcut::activated, this, &QWidget::close);

    resize(720, 560);
}

void HelpWindow::Navigate(const QUrl& url) {
    if (!url.isLocalFile()) {
        HelpLauncher::OpenUrl(url);
        return;
    }
    m_current = url;
    const QString path = url.toLocalFile();
    if (QFileInfo(path).isFile()) {
        m_missing = false;
        m_browser->setSource(url);
    } else {
        m_missing = true;
        m_browser->setHtml(NotFoundPage(QDir::toNativeSeparators(path)));
    }
    UpdateBack();
    UpdateTitle();
}

void HelpWindow::OnLinkActivated(const QUrl& link) {
    // Relative links are relative to the page shown; a missing page has none of its own.
    const QUrl base = m_missing ? m_current : m_browser->source();
    Navigate(base.resolved(link));
}

void HelpWindow::OnBack() {
    // A "not found" page is not in the browser's history: back is the last page shown.
    if (m_missing && !m_browser->source().isEmpty()) {
        m_missing = false;
        m_current = m_browser->source();
        m_browser->reload();
        UpdateBack();
        UpdateTitle();
        return;
    }
    m_browser->backward();
    m_current = m_browser->source();
    UpdateTitle();
}

void HelpWindow::UpdateBack() {
    // From a "not found" page, back leads to the page it was reached from, if any.
    m_back->setEnabled(m_browser->isBackwardAvailable() ||
                       (m_missing && !m_browser->source().isEmpty()));
}

void HelpWindow::UpdateTitle() {
    const QString title = m_browser->documentTitle();
    setWindowTitle(title.isEmpty() ? tr("Orvane Help") : title + tr(" - Orvane Help"));
}
