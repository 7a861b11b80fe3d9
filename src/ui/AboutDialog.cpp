#include "AboutDialog.h"

#include <QLabel>
#include <QPushButton>
#include <algorithm>

#include "DialogUnits.h"
#include "HelpLauncher.h"
#include "OrvaneVersion.h"

// Outside any namespace: Q_INIT_RESOURCE declares the resource's global init function.
// Calling it keeps the resource's object in the link although nothing else names it.
static void InitOrvaneResources() {
    Q_INIT_RESOURCE(orvane);
}

namespace {

constexpr int kIconSizes[] = {16, 32, 48, 64, 128, 256};

QLabel* AddText(QWidget* parent, const char* name, const QString& text, const QRect& rect) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // The addresses are there to be copied into a browser or a mail.
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setGeometry(rect);
    return label;
}

}  // namespace

QIcon AboutDialog::ApplicationIcon() {
    InitOrvaneResources();
    QIcon icon;
    for (int size : kIconSizes) {
        icon.addFile(QStringLiteral(":/orvane/icon-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("About Orvane"));
    const DialogUnits du(font());
    setFixedSize(du.X(216), du.Y(92));

    const QIcon icon = ApplicationIcon();
    setWindowIcon(icon);
    // Like an icon control, the icon keeps a size of its own at the rectangle's top left:
    // the largest that fits, so it is drawn unscaled and sharp.
    const QRect iconRect = du.Rect(11, 17, 20, 20);
    int side = kIconSizes[0];
    for (int size : kIconSizes) {
        if (size <= std::min(iconRect.width(), iconRect.height())) {
            side = size;
        }
    }
    auto* iconLabel = new QLabel(this);
    iconLabel->setObjectName(QStringLiteral("iconLabel"));
    iconLabel->setPixmap(icon.pixmap(QSize(side, side), devicePixelRatioF()));
    iconLabel->setGeometry(QRect(iconRect.topLeft(), QSize(side, side)));

    AddText(this, "versionText", tr("Orvane Version %1").arg(QStringLiteral(ORVANE_VERSION)),
            du.Rect(39, 10, 147, 8));
    AddText(this, "noticeText", tr(kLegalNotice), du.Rect(39, 24, 163, 8));

    auto* ok = new QPushButton(tr("OK"), this);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setGeometry(du.Rect(81, 70, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    AddText(this, "websiteText",
            tr("Website: %1").arg(QString::fromLatin1(HelpLauncher::kHomepage)),
            du.Rect(39, 38, 159, 8));
    AddText(this, "supportText",
            tr("Support: %1").arg(QString::fromLatin1(HelpLauncher::kSupportPage)),
            du.Rect(39, 51, 170, 8));
    ok->setFocus();
    FitTexts(ok);
}

void AboutDialog::FitTexts(QWidget* centred) {
    // In English every line fits its place of the template. A longer translation widens its
    // line and the box, which keeps its right margin; the button stays in the middle.
    const int templateWidth = width();
    int boxWidth = templateWidth;
    for (QLabel* label : findChildren<QLabel*>()) {
        if (label->text().isEmpty()) {
            continue;
        }
        const int margin = templateWidth - label->geometry().right();
        label->resize(std::max(label->width(), label->sizeHint().width()), label->height());
        boxWidth = std::max(boxWidth, label->geometry().right() + margin);
    }
    centred->move(centred->x() + (boxWidth - templateWidth) / 2, centred->y());
    setFixedSize(boxWidth, height());
}
