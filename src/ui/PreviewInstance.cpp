#include "PreviewInstance.h"

CPreviewPlayer* g_pPreview = nullptr;
