#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QToolButton>
#include <vector>

#include "HelpLauncher.h"
#include "HelpWindow.h"

namespace {

const QStringList kPages = {"Introduction.htm",   "OpeningFiles.htm",   "SettingMarks.htm",
                            "PrecisionPanel.htm", "Converting.htm",     "OutputFile.htm",
                            "CommandLine.htm",    "Troubleshooting.htm"};

// Records what the program hands to the desktop, and answers as told.
class HelpLauncherTest : public ::testing::Test {
  protected:
    void SetUp() override {
        HelpLauncher::SetUrlOpener([this](const QUrl& url) {
            opened.push_back(url);
            return openerWorks;
        });
    }
    void TearDown() override {
        HelpLauncher::SetUrlOpener({});
        delete HelpWindow::Current();
    }

    std::vector<QUrl> opened;
    bool openerWorks = true;
};

// Copies the built help into a folder of its own (with a blank in its name).
QString CopyHelp(const QTemporaryDir& dir) {
    const QString target = dir.filePath("my help");
    QDir().mkpath(target);
    const QDir source(HelpLauncher::HelpFolder());
    for (const QString& name : source.entryList(QDir::Files)) {
        QFile::copy(source.filePath(name), QDir(target).filePath(name));
    }
    return target;
}

// Clicks the link to href in the browser as a user would, with the mouse.
bool ClickLink(QTextBrowser* browser, const QString& href) {
    QTextDocument* document = browser->document();
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.charFormat().isAnchor() && fragment.charFormat().anchorHref() == href) {
                QTextCursor cursor(document);
                cursor.setPosition(fragment.position() + fragment.length() / 2);
                browser->setTextCursor(cursor);
                browser->ensureCursorVisible();
                const QPoint at = browser->cursorRect(cursor).center();
                QTest::mouseClick(browser->viewport(), Qt::LeftButton, {}, at);
                return true;
            }
        }
    }
    return false;
}

}  // namespace

TEST(HelpFolderTest, FoundBesideTheExecutableInstalledAndBuilt) {
    EXPECT_EQ(HelpLauncher::HelpFolderFor("/usr/bin"), "/usr/share/orvane/help");
    EXPECT_EQ(HelpLauncher::HelpFolderFor("/home/ann/.local/bin"),
              "/home/ann/.local/share/orvane/help");
    EXPECT_EQ(HelpLauncher::HelpFolderFor("/opt/my tools/bin"), "/opt/my tools/share/orvane/help");
    // This test runs from build/bin like the built program: the build put the help there.
    const QDir built(HelpLauncher::HelpFolder());
    EXPECT_EQ(built.absolutePath(),
              QDir::cleanPath(QCoreApplication::applicationDirPath() + "/../share/orvane/help"));
    for (const QString& page : kPages) {
        EXPECT_TRUE(built.exists(page)) << page.toStdString();
    }
}

TEST(HelpFolderTest, EveryLinkOfEveryPageLeadsToAPage) {
    const QDir help(HelpLauncher::HelpFolder());
    const QRegularExpression link(R"re((?:href|src)="([^"#]*)(#[^"]*)?")re");
    int links = 0;
    for (const QString& name : help.entryList({"*.htm"}, QDir::Files)) {
        QFile file(help.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
        const QString text = QString::fromUtf8(file.readAll());
        EXPECT_TRUE(text.contains("<title>")) << name.toStdString();
        for (auto it = link.globalMatch(text); it.hasNext();) {
            const QString target = it.next().captured(1);
            if (target.isEmpty() || target.contains("://")) {
                continue;
            }
            ++links;
            EXPECT_TRUE(help.exists(target))
                << name.toStdString() << " -> " << target.toStdString();
        }
    }
    EXPECT_GT(links, 20);
    // Every page can be reached from the first one.
    QFile intro(help.filePath("Introduction.htm"));
    ASSERT_TRUE(intro.open(QIODevice::ReadOnly));
    const QString first = QString::fromUtf8(intro.readAll());
    for (const QString& page : kPages.mid(1)) {
        EXPECT_TRUE(first.contains("href=\"" + page + "\"")) << page.toStdString();
    }
}

TEST_F(HelpLauncherTest, HelpOpensTheFirstPageInTheBrowserAsAFileUrl) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = CopyHelp(dir);
    HelpLauncher::OpenHelpFrom(nullptr, folder);
    ASSERT_EQ(opened.size(), 1u);
    // The path travels as a URL, blank and all, never through a command line.
    EXPECT_TRUE(opened[0].isLocalFile());
    EXPECT_EQ(opened[0].toLocalFile(), QDir(folder).filePath("Introduction.htm"));
    EXPECT_EQ(HelpWindow::Current(), nullptr);

    opened.clear();
    HelpLauncher::OpenHelp(nullptr);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].toLocalFile(),
              QDir(HelpLauncher::HelpFolder()).filePath("Introduction.htm"));
}

TEST_F(HelpLauncherTest, WithoutBrowserTheHelpWindowShowsThePagesAndFollowsLinks) {
    openerWorks = false;
    QWidget dialog;
    dialog.show();
    HelpLauncher::OpenHelp(&dialog);
    HelpWindow* window = HelpWindow::Current();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->isWindow());
    // Owned by the dialog, so a modal dialog does not block it.
    EXPECT_EQ(window->parentWidget(), &dialog);
    QTextBrowser* browser = window->Browser();
    EXPECT_EQ(browser->source().toLocalFile(),
              QDir(HelpLauncher::HelpFolder()).filePath("Introduction.htm"));
    EXPECT_EQ(browser->documentTitle(), "Orvane Help");
    EXPECT_TRUE(browser->toPlainText().contains("sound track"));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));

    ASSERT_TRUE(ClickLink(browser, "SettingMarks.htm"));
    EXPECT_EQ(QFileInfo(browser->source().toLocalFile()).fileName(), "SettingMarks.htm");
    EXPECT_EQ(browser->documentTitle(), "Setting the start and end marks");
    EXPECT_TRUE(window->windowTitle().startsWith("Setting the start and end marks"));
    // And on from there: the next page's own links work too.
    ASSERT_TRUE(ClickLink(browser, "PrecisionPanel.htm"));
    EXPECT_EQ(QFileInfo(browser->source().toLocalFile()).fileName(), "PrecisionPanel.htm");

    auto* back = window->findChild<QToolButton*>("backButton");
    ASSERT_NE(back, nullptr);
    QTest::mouseClick(back, Qt::LeftButton);
    EXPECT_EQ(QFileInfo(browser->source().toLocalFile()).fileName(), "SettingMarks.htm");

    // Help again reuses the open window and shows the first page.
    HelpLauncher::OpenHelp(&dialog);
    EXPECT_EQ(HelpWindow::Current(), window);
    EXPECT_EQ(QFileInfo(browser->source().toLocalFile()).fileName(), "Introduction.htm");
    // The browser was asked first each time.
    EXPECT_EQ(opened.size(), 2u);
}

TEST_F(HelpLauncherTest, MissingHelpFolderShowsANotFoundPage) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString missing = dir.filePath("no such help");
    HelpLauncher::OpenHelpFrom(nullptr, missing);
    HelpWindow* window = HelpWindow::Current();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->ShowsMissingPage());
    const QString text = window->Browser()->toPlainText();
    EXPECT_TRUE(text.contains("Help page not found"));
    EXPECT_TRUE(text.contains(QDir(missing).filePath("Introduction.htm")));
    // No browser is sent to a file that is not there.
    EXPECT_TRUE(opened.empty());

    // Nothing to go back to; the window's buttons keep working on the missing help.
    auto* back = window->findChild<QToolButton*>("backButton");
    ASSERT_NE(back, nullptr);
    EXPECT_FALSE(back->isEnabled());
    for (QToolButton* button : window->findChildren<QToolButton*>()) {
        QTest::mouseClick(button, Qt::LeftButton);
    }
    EXPECT_TRUE(window->Browser()->toPlainText().contains("Help page not found"));
}

TEST_F(HelpLauncherTest, LinkToAMissingPageShowsNotFoundAndBackReturns) {
    openerWorks = false;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = CopyHelp(dir);
    ASSERT_TRUE(QFile::remove(QDir(folder).filePath("Troubleshooting.htm")));
    HelpLauncher::OpenHelpFrom(nullptr, folder);
    HelpWindow* window = HelpWindow::Current();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    QTextBrowser* browser = window->Browser();

    ASSERT_TRUE(ClickLink(browser, "Troubleshooting.htm"));
    EXPECT_TRUE(window->ShowsMissingPage());
    EXPECT_TRUE(browser->toPlainText().contains(QDir(folder).filePath("Troubleshooting.htm")));

    auto* back = window->findChild<QToolButton*>("backButton");
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(back->isEnabled());
    QTest::mouseClick(back, Qt::LeftButton);
    EXPECT_FALSE(window->ShowsMissingPage());
    EXPECT_EQ(browser->documentTitle(), "Orvane Help");
    EXPECT_TRUE(browser->toPlainText().contains("sound track"));
}

TEST_F(HelpLauncherTest, WebLinksGoToTheBrowserAndTheHomepageToo) {
    openerWorks = false;
    HelpLauncher::OpenHelp(nullptr);
    HelpWindow* window = HelpWindow::Current();
    ASSERT_NE(window, nullptr);
    const QUrl page = window->Browser()->source();
    window->Navigate(QUrl("https://orvane.example.org/support/"));
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[1], QUrl("https://orvane.example.org/support/"));
    EXPECT_EQ(window->Browser()->source(), page);

    opened.clear();
    HelpLauncher::OpenHomepage();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl(HelpLauncher::kHomepage));
    EXPECT_EQ(opened[0].scheme(), "https");
}
