#include "QMessageBoxMessages.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>
#include <utility>

QMessageBoxMessages::~QMessageBoxMessages() {
    DismissUnowned();
}

UserMessages::Answer QMessageBoxMessages::Show(QWidget* owner, const QString& text,
                                               const QString& caption, Buttons buttons, Icon icon) {
    // An owner not shown yet (a message during start-up) would put the box in a corner
    // of the screen; without one it is centred.
    QWidget* parent = owner != nullptr && owner->isVisible() ? owner : nullptr;
    QMessageBox box(
        icon == Icon::Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon, caption, text,
        buttons == Buttons::YesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, parent);
    // Modal to its owner only, so that the preview window stays usable.
    box.setWindowModality(parent != nullptr ? Qt::WindowModal : Qt::ApplicationModal);
    if (buttons == Buttons::ReplaceSkipCancel) {
        box.setStandardButtons(QMessageBox::NoButton);
        QPushButton* replace =
            box.addButton(QCoreApplication::translate("QMessageBoxMessages", "Replace all"),
                          QMessageBox::AcceptRole);
        QPushButton* skip =
            box.addButton(QCoreApplication::translate("QMessageBoxMessages", "Skip existing"),
                          QMessageBox::AcceptRole);
        box.addButton(QMessageBox::Cancel);
        box.setDefaultButton(skip);
        box.exec();
        return box.clickedButton() == replace ? Answer::ReplaceAll
               : box.clickedButton() == skip  ? Answer::SkipExisting
                                              : Answer::Cancel;
    }
    switch (box.exec()) {
        case QMessageBox::Yes:
            return Answer::Yes;
        case QMessageBox::No:
            return Answer::No;
        default:
            return buttons == Buttons::YesNo ? Answer::No : Answer::Ok;
    }
}

void QMessageBoxMessages::ShowUnowned(const QString& text, const QString& caption,
                                      std::function<void()> onSeen) {
    auto* box = new QMessageBox(QMessageBox::NoIcon, caption, text, QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // Not modal: the dialog stays usable while the conversion waits for the user.
    box->setWindowModality(Qt::NonModal);
    QObject::connect(box, &QMessageBox::finished, box, [onSeen = std::move(onSeen)] {
        if (onSeen) {
            onSeen();
        }
    });
    m_unowned.removeAll(nullptr);
    m_unowned.append(box);
    box->show();
}

void QMessageBoxMessages::DismissUnowned() {
    const QList<QPointer<QMessageBox>> boxes = std::exchange(m_unowned, {});
    for (const QPointer<QMessageBox>& box : boxes) {
        if (box != nullptr) {
            // done() emits finished, so the waiting side is told; the box deletes itself.
            box->done(QMessageBox::Ok);
        }
    }
}
