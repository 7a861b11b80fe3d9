#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "ConverterApp.h"
#include "ConverterDialog.h"

// Runs the program as its start-up does and plays the user meanwhile: every message
// box is shown to onBox and answered OK; the shown dialog goes to onDialog, and is
// ended as soon as onDialog returns true. Returns what InitInstance returned.
inline bool RunProgram(ConverterApp& app, const std::function<void(QMessageBox&)>& onBox,
                       const std::function<bool(ConverterDialog&)>& onDialog) {
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (!w->isVisible()) {
                continue;
            }
            if (auto* box = qobject_cast<QMessageBox*>(w)) {
                onBox(*box);
                box->button(QMessageBox::Ok)->click();
                return;
            }
            if (auto* dialog = qobject_cast<ConverterDialog*>(w)) {
                if (onDialog(*dialog)) {
                    dialog->reject();
                }
                return;
            }
        }
    });
    driver.start(10);
    const bool result = app.InitInstance();
    driver.stop();
    return result;
}
