#pragma once

#include <QString>
#include <functional>

namespace zinst {

// Opens a folder, file or web address with the desktop's opener (xdg-open),
// started without a shell and not waited for.
void OpenWithDesktop(const QString& target);

// Replaces the opener, for tests, so that nothing real opens; an empty
// function puts xdg-open back.
void SetDesktopOpener(std::function<void(const QString&)> opener);

}  // namespace zinst
