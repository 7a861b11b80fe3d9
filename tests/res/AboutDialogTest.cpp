#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "AboutDialog.h"
#include "DialogUnits.h"
#include "HelpLauncher.h"

namespace {

QString TextOf(const AboutDialog& dialog, const char* name) {
    const auto* label = dialog.findChild<QLabel*>(QString::fromLatin1(name));
    return label ? label->text() : QStringLiteral("<no label %1>").arg(QString::fromLatin1(name));
}

}  // namespace

TEST(AboutDialogTest, ShowsNameVersionNoticeAndAddresses) {
    AboutDialog dialog(nullptr);
    EXPECT_EQ(dialog.windowTitle(), "About Orvane");
    EXPECT_EQ(TextOf(dialog, "versionText"), "Orvane Version " ORVANE_VERSION);
    EXPECT_EQ(TextOf(dialog, "noticeText"), "Copyright © 2026 Vantorel. All rights reserved.");
    EXPECT_EQ(TextOf(dialog, "websiteText"), "Website: https://orvane.example.org/");
    EXPECT_EQ(TextOf(dialog, "supportText"), "Support: https://orvane.example.org/support/");
    // The web site line names the page the Homepage button opens.
    EXPECT_EQ(TextOf(dialog, "websiteText"),
              QStringLiteral("Website: ") + QString::fromLatin1(HelpLauncher::kHomepage));

    // Plain text: an ampersand or markup in a text would otherwise change what is shown.
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
        if (label->objectName() != "iconLabel") {
            EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
        }
    }

    const auto* icon = dialog.findChild<QLabel*>("iconLabel");
    ASSERT_NE(icon, nullptr);
    const QImage image = icon->pixmap().toImage();
    ASSERT_FALSE(image.isNull());
    // The real picture, not a blank: the dark film strip and the orange wave are both there.
    const QColor middle = image.pixelColor(image.width() / 2, image.height() / 2);
    EXPECT_GT(middle.red(), 200);
    EXPECT_LT(middle.blue(), 120);

    const auto buttons = dialog.findChildren<QPushButton*>();
    ASSERT_EQ(buttons.size(), 1);
    EXPECT_EQ(buttons[0]->text(), "OK");
    EXPECT_TRUE(buttons[0]->isDefault());
}

TEST(AboutDialogTest, LaidOutInDialogUnitsOfItsFont) {
    AboutDialog dialog(nullptr);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    const DialogUnits du(dialog.font());
    EXPECT_EQ(dialog.size(), QSize(du.X(216), du.Y(92)));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());  // not resizable

    const auto* ok = dialog.findChild<QPushButton*>("okButton");
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->geometry(), du.Rect(81, 70, 50, 14));
    EXPECT_EQ(dialog.findChild<QLabel*>("versionText")->geometry(), du.Rect(39, 10, 147, 8));
    EXPECT_EQ(dialog.findChild<QLabel*>("supportText")->geometry(), du.Rect(39, 51, 170, 8));
    const auto* icon = dialog.findChild<QLabel*>("iconLabel");
    EXPECT_EQ(icon->geometry().topLeft(), du.Rect(11, 17, 20, 20).topLeft());
    EXPECT_TRUE(du.Rect(11, 17, 20, 20).contains(icon->geometry()));

    // Every text fits its rectangle (nothing is cut off), and every control lies inside
    // the box without overlapping another.
    QList<QWidget*> controls;
    for (QLabel* label : dialog.findChildren<QLabel*>()) {
        controls.append(label);
        if (label != icon) {
            const QSize needed = label->fontMetrics().size(0, label->text());
            EXPECT_LE(needed.width(), label->width()) << label->text().toStdString();
            EXPECT_LE(needed.height(), label->height()) << label->text().toStdString();
        }
    }
    controls.append(const_cast<QPushButton*>(ok));
    for (int i = 0; i < controls.size(); ++i) {
        EXPECT_TRUE(dialog.rect().contains(controls[i]->geometry()))
            << controls[i]->objectName().toStdString();
        for (int j = i + 1; j < controls.size(); ++j) {
            EXPECT_FALSE(controls[i]->geometry().intersects(controls[j]->geometry()))
                << controls[i]->objectName().toStdString() << " and "
                << controls[j]->objectName().toStdString();
        }
    }
}

TEST(AboutDialogTest, EndsWithOkEnterEscapeAndClose) {
    {
        AboutDialog dialog(nullptr);
        dialog.open();
        QTest::mouseClick(dialog.findChild<QPushButton*>("okButton"), Qt::LeftButton);
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
    {
        AboutDialog dialog(nullptr);
        dialog.open();
        QTest::keyClick(&dialog, Qt::Key_Return);
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
    {
        AboutDialog dialog(nullptr);
        dialog.open();
        QTest::keyClick(&dialog, Qt::Key_Escape);
        EXPECT_FALSE(dialog.isVisible());
    }
    {
        AboutDialog dialog(nullptr);
        dialog.open();
        EXPECT_TRUE(dialog.close());
        EXPECT_FALSE(dialog.isVisible());
    }
}

TEST(AboutDialogTest, RunsModallyOverItsParentAndReturns) {
    QWidget parent;
    parent.show();
    AboutDialog dialog(&parent);
    // exec() returns once the box is dismissed; Enter arrives while it runs.
    QMetaObject::invokeMethod(
        &dialog, [&dialog] { QTest::keyClick(&dialog, Qt::Key_Return); }, Qt::QueuedConnection);
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(dialog.parentWidget(), &parent);
}

TEST(AboutDialogTest, ApplicationIconCarriesEverySize) {
    const QIcon icon = AboutDialog::ApplicationIcon();
    ASSERT_FALSE(icon.isNull());
    for (int size : {16, 32, 48, 64, 128, 256}) {
        EXPECT_TRUE(icon.availableSizes().contains(QSize(size, size))) << size;
        const QPixmap pixmap = icon.pixmap(QSize(size, size), 1.0);
        EXPECT_EQ(pixmap.size(), QSize(size, size)) << size;
        // Rounded corners: the corner pixel is transparent, the centre is not.
        const QImage image = pixmap.toImage();
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << size;
        EXPECT_EQ(qAlpha(image.pixel(size / 2, size / 2)), 255) << size;
    }
}
