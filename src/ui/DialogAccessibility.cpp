#include "DialogAccessibility.h"

#include <QCoreApplication>
#include <QLabel>

#include "ConverterDialog.h"

namespace {

const struct {
    int id;
    const char* name;         // "" keeps the control's own text as its name
    const char* description;  // "" for none
} kDescriptions[] = {
    {ConverterDialog::IDC_INFO, QT_TRANSLATE_NOOP("DialogAccessibility", "Media file"),
     QT_TRANSLATE_NOOP("DialogAccessibility", "The open file and where the preview is")},
    {ConverterDialog::IDC_SLIDER, QT_TRANSLATE_NOOP("DialogAccessibility", "Position"),
     QT_TRANSLATE_NOOP("DialogAccessibility",
                       "Where the preview plays, from the start to the end of the file")},
    {ConverterDialog::IDC_START_TEXT, "",
     QT_TRANSLATE_NOOP("DialogAccessibility", "Start Time mark")},
    {ConverterDialog::IDC_END_TEXT, "", QT_TRANSLATE_NOOP("DialogAccessibility", "End Time mark")},
    {ConverterDialog::IDC_OUTPUT_FILE, QT_TRANSLATE_NOOP("DialogAccessibility", "Output File"), ""},
    {ConverterDialog::IDC_PROGRESS, QT_TRANSLATE_NOOP("DialogAccessibility", "Progress"), ""},
};

QString Tr(const char* text) {
    return QCoreApplication::translate("DialogAccessibility", text);
}

}  // namespace

void DialogAccessibility::Describe(ConverterDialog& dialog) {
    for (const auto& entry : kDescriptions) {
        QWidget* control = dialog.Control(entry.id);
        if (*entry.name != '\0') {
            control->setAccessibleName(Tr(entry.name));
        }
        if (*entry.description != '\0') {
            control->setAccessibleDescription(Tr(entry.description));
        }
    }
    // The label before the output field names it, as a buddy does.
    if (auto* label = qobject_cast<QLabel*>(dialog.Control(ConverterDialog::IDC_OUTPUT_LABEL))) {
        label->setBuddy(dialog.Control(ConverterDialog::IDC_OUTPUT_FILE));
    }
}
