#pragma once

class CPreviewPlayer;

// The one preview player of the process, null while none is open. The converter dialog
// creates and destroys it; everything that uses it runs on the GUI thread.
extern CPreviewPlayer* g_pPreview;
