#pragma once

#include <gtest/gtest.h>

#include <QWidget>

#include <memory>
#include <string>

#include "CPreviewPlayer.h"
#include "PreviewWindow.h"
#include "RecordingMessages.h"
#include "ScriptedEngine.h"

using Calls = std::vector<std::string>;

// A player on a scripted engine, with a plain widget standing in for the dialog.
class PlayerFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        dialog.setWindowTitle("dialog");
        dialog.setGeometry(300, 500, 400, 200);
        dialog.show();
        CPreviewPlayer::s_bDialogOnTop = true;
    }

    bool Open(const std::string& path = "/media/clips/a.mpg") {
        player =
            std::make_unique<CPreviewPlayer>(&dialog, ScriptedEngine::Factory(script), messages);
        player->m_szClipPath = path;
        const bool opened = player->OpenMedia();
        script->TakeCalls();
        return opened;
    }

    ScriptedEngine& Engine() { return *static_cast<ScriptedEngine*>(player->Engine()); }
    PreviewWindow& Window() { return *player->Window(); }
    QString Title() { return Window().windowTitle(); }

    QWidget dialog;
    std::shared_ptr<EngineScript> script = std::make_shared<EngineScript>();
    RecordingMessages messages;
    std::unique_ptr<CPreviewPlayer> player;
};
