// The one replaceable piece of the profile image picker: the modal dialog.
#ifndef SERVICES_PROFILE_IMAGE_INTERNAL_H_
#define SERVICES_PROFILE_IMAGE_INTERNAL_H_

#include <string>

#include "win/windows.h"

namespace orvalin {

// Runs the file-open dialog owned by |owner| and returns the chosen file's
// path; empty when nothing was chosen or the dialog failed.
using ImageDialogRunner = std::wstring (*)(HWND owner);

// The system's file-open dialog, as production uses it.
std::wstring RunSystemImageDialog(HWND owner);

// Replaces the dialog (tests only); returns the runner it replaced.
ImageDialogRunner SetImageDialogRunner(ImageDialogRunner runner);

}  // namespace orvalin

#endif  // SERVICES_PROFILE_IMAGE_INTERNAL_H_
