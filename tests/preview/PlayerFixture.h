#pragma once

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QWidget>

#include <memory>
#include <string>

#include "PreviewPlayer.h"
#include "PreviewScreen.h"
#include "PreviewWindow.h"
#include "RecordingMessages.h"
#include "ScriptedEngine.h"
#include "WaitFor.h"

// A player on a scripted engine, with a plain widget standing in for the dialog.
class PlayerFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        dialog.setWindowTitle("dialog");
        dialog.setGeometry(300, 500, 400, 200);
        dialog.show();
        player =
            std::make_unique<PreviewPlayer>(&dialog, ScriptedEngine::Factory(script), messages);
    }

    // Opens the clip and waits until the open has ended; true when it plays.
    bool Open(const std::string& path = "/media/clips/a.mpg", int64_t lead = 0) {
        bool ended = false;
        bool ok = false;
        const auto connection =
            QObject::connect(player.get(), &PreviewPlayer::opened, [&](bool result) {
                ended = true;
                ok = result;
            });
        const bool started = player->Open(path, lead);
        if (started) {
            WaitFor([&] { return ended; }, 5000);
        }
        QObject::disconnect(connection);
        return started && ok;
    }
    // Lets the engine's events reach the player.
    void Settle() { ProcessEventsFor(20); }

    PreviewWindow& Window() { return *player->Window(); }
    QAction* Action(const char* name) { return Window().findChild<QAction*>(name); }
    QMenu* Menu() { return Window().findChild<QMenu*>(); }
    QString Title() { return Window().windowTitle(); }

    QWidget dialog;
    std::shared_ptr<EngineScript> script = std::make_shared<EngineScript>();
    RecordingMessages messages;
    std::unique_ptr<PreviewPlayer> player;
};
