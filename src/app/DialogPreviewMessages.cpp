#include "DialogPreviewMessages.h"

#include "UserMessages.h"

void DialogPreviewMessages::ShowMessage(const QString& text, const QString& caption) {
    m_messages.Show(nullptr, text, caption, UserMessages::Buttons::Ok);
}
