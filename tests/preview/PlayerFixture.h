#pragma once

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QWidget>

#include <memory>
#include <string>

#include "CPreviewPlayer.h"
#include "PreviewScreen.h"
#include "PreviewWindow.h"
#include "RecordingMessages.h"
#include "ScriptedEngine.h"
#include "WaitFor.h"

using Calls = std::vector<std::string>;

// A player on a scripted engine, with a plain widget standing in for the dialog.
class PlayerFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        dialog.setWindowTitle("dialog");
        dialog.setGeometry(300, 500, 400, 200);
        dialog.show();
        PreviewScreen::s_dialogOnTop = true;
    }

    // Opens a player on the clip and waits until the open has ended; true when it plays.
    bool Open(const std::string& path = "/media/clips/a.mpg") {
        player =
            std::make_unique<CPreviewPlayer>(&dialog, ScriptedEngine::Factory(script), messages);
        bool ended = false;
        bool ok = false;
        QObject::connect(player.get(), &CPreviewPlayer::opened, [&](bool result) {
            ended = true;
            ok = result;
        });
        if (!player->OpenMedia(path)) {
            script->TakeCalls();
            return false;
        }
        WaitFor([&] { return ended; }, 5000);
        script->TakeCalls();
        return ok;
    }

    ScriptedEngine& Engine() { return *static_cast<ScriptedEngine*>(player->Engine()); }
    PreviewWindow& Window() { return *player->Window(); }
    QAction* Action(const char* name) { return Window().findChild<QAction*>(name); }
    QMenu* Menu() { return Window().findChild<QMenu*>(); }
    QString Title() { return Window().windowTitle(); }

    QWidget dialog;
    std::shared_ptr<EngineScript> script = std::make_shared<EngineScript>();
    RecordingMessages messages;
    std::unique_ptr<CPreviewPlayer> player;
};
