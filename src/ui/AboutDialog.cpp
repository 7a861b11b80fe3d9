#include "AboutDialog.h"

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) { setWindowTitle("About Orvane"); }
