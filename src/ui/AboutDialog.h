#pragma once

#include <QDialog>

// The About box: product name, version, legal notice, web site and support lines.
class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr);
};
