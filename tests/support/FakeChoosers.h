#pragma once

#include <QString>
#include <vector>

#include "FileChoosers.h"

// File choosers that record what they were asked and give the test's answers.
class FakeChoosers : public FileChoosers {
  public:
    struct Call {
        QString title, folder, filter;
    };
    QString ChooseMediaFile(QWidget*, const QString& title, const QString& folder,
                            const QString& filter) override {
        openCalls.push_back({title, folder, filter});
        return openAnswer;
    }
    QString ChooseOutputFile(QWidget*, const QString& title, const QString& folder,
                             const QString& filter) override {
        saveCalls.push_back({title, folder, filter});
        return saveAnswer;
    }
    QString ChooseFolder(QWidget*, const QString& title, const QString& folder) override {
        folderCalls.push_back({title, folder, {}});
        return folderAnswer;
    }
    std::vector<Call> openCalls;
    std::vector<Call> folderCalls;
    QString folderAnswer;
    std::vector<Call> saveCalls;
    QString openAnswer;
    QString saveAnswer;
};
