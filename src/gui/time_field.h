// The backup-time field: a plain edit control made a masked edit. Every key,
// paste, cut and text set goes through the mask of ui/time_mask.h, so the
// field always holds "##:##:##" with blanks for the places not filled.
#pragma once

#include <windows.h>

namespace veltora::win32 {

// Subclasses `edit` (a single-line EDIT) for the life of the window and puts
// its present text into the mask's shape.
void AttachTimeMask(HWND edit);

}  // namespace veltora::win32
