#pragma once
// The program's own settings (the window's size, the downloads list's
// columns and its settings), kept by QSettings under the program's name:
// $XDG_CONFIG_HOME/BrelvoMP3/BrelvoMP3.ini (~/.config when unset). The
// tests point XDG_CONFIG_HOME at a folder of their own.
#include <memory>

#include <QSettings>

namespace app {

std::unique_ptr<QSettings> programSettings();

}  // namespace app
