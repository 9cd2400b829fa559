#pragma once

#include <QString>
#include <string_view>

namespace quillmere {

// The desktop entry's name without ".desktop"; on Wayland it is also the window's app id.
inline constexpr std::string_view kDesktopFileName = "org.quillmere.tileconverter";

// Names the application: its name (also the class part of its X11 WM_CLASS, which the desktop
// entry's StartupWMClass repeats), version, organisation and desktop entry.
void nameApplication();

// Answers --help, --help-all and -V/--version, or a wrong command line, and ends the program;
// needs no display. Qt's own options (-platform, -style, --reverse ...) are left for Qt.
// Otherwise returns the map the window is to open, if one was given.
QString answerCommandLine(int argc, char** argv);

} // namespace quillmere
