#include "QMessageBoxMessages.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTimer>
#include <functional>

#include "WaitFor.h"

namespace {

QMessageBox* VisibleBox() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) {
            return box;
        }
    }
    return nullptr;
}

// Answers the next box from inside its own event loop with the button `choose` picks.
// No ASSERT runs there: a box that is missing, or lacks the button, fails the test and is
// closed all the same, so the modal Show() returns instead of blocking the run.
void AnswerNextBox(std::function<QAbstractButton*(QMessageBox&)> choose) {
    QTimer::singleShot(0, [choose = std::move(choose)] {
        QMessageBox* box = VisibleBox();
        if (box == nullptr) {
            ADD_FAILURE() << "no message box is shown";
            if (QWidget* modal = QApplication::activeModalWidget()) {
                modal->close();
            }
            return;
        }
        QAbstractButton* button = choose(*box);
        if (button == nullptr) {
            ADD_FAILURE() << "the box lacks the button to answer with";
            box->close();
            return;
        }
        button->click();
    });
}

}  // namespace

TEST(QMessageBoxMessages, OwnedQuestionShowsItsTextsAndReturnsTheAnswer) {
    QMessageBoxMessages messages;
    QDialog owner;
    owner.show();
    for (const auto& [button, answer] : {std::pair{QMessageBox::Yes, UserMessages::Answer::Yes},
                                         std::pair{QMessageBox::No, UserMessages::Answer::No}}) {
        QString text, title;
        bool hasYes = false, hasNo = false, hasOk = false;
        Qt::WindowModality modality = Qt::NonModal;
        AnswerNextBox([&, button = button](QMessageBox& box) {
            text = box.text();
            title = box.windowTitle();
            modality = box.windowModality();
            hasYes = box.button(QMessageBox::Yes) != nullptr;
            hasNo = box.button(QMessageBox::No) != nullptr;
            hasOk = box.button(QMessageBox::Ok) != nullptr;
            return box.button(button);
        });
        const UserMessages::Answer got =
            messages.Show(&owner, "/tmp/x.wav exists. Do you want to replace it?", "Warning",
                          UserMessages::Buttons::YesNo, UserMessages::Icon::Exclamation);
        EXPECT_EQ(got, answer);
        EXPECT_EQ(text, "/tmp/x.wav exists. Do you want to replace it?");
        EXPECT_EQ(title, "Warning");
        EXPECT_TRUE(hasYes);
        EXPECT_TRUE(hasNo);
        EXPECT_FALSE(hasOk);
        EXPECT_EQ(modality, Qt::WindowModal);
    }
}

TEST(QMessageBoxMessages, OwnedMessageHasAnOkButton) {
    QMessageBoxMessages messages;
    QDialog owner;
    owner.show();
    QString title;
    AnswerNextBox([&](QMessageBox& box) {
        title = box.windowTitle();
        return box.button(QMessageBox::Ok);
    });
    EXPECT_EQ(messages.Show(&owner, "Please open a Media file first!", "Error",
                            UserMessages::Buttons::Ok),
              UserMessages::Answer::Ok);
    EXPECT_EQ(title, "Error");
}

TEST(QMessageBoxMessages, UnownedBoxReturnsAtOnceAndReportsWhenSeen) {
    QMessageBoxMessages messages;
    int seen = 0;
    messages.ShowUnowned("Can not write /tmp/x.wav", "Error", [&] { ++seen; });
    QMessageBox* box = VisibleBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), "Can not write /tmp/x.wav");
    EXPECT_EQ(box->windowTitle(), "Error");
    EXPECT_EQ(box->parent(), nullptr);
    EXPECT_EQ(box->windowModality(), Qt::NonModal);
    EXPECT_EQ(seen, 0);
    box->button(QMessageBox::Ok)->click();
    EXPECT_EQ(seen, 1);
    EXPECT_TRUE(WaitFor([] { return VisibleBox() == nullptr; }));
}

TEST(QMessageBoxMessages, DismissClosesTheUnownedBoxes) {
    QMessageBoxMessages messages;
    int seen = 0;
    messages.ShowUnowned("one", "Error", [&] { ++seen; });
    messages.ShowUnowned("two", "Warning", [&] { ++seen; });
    messages.DismissUnowned();
    EXPECT_EQ(seen, 2);
    EXPECT_TRUE(WaitFor([] { return VisibleBox() == nullptr; }));
    messages.DismissUnowned();
    EXPECT_EQ(seen, 2);
}
