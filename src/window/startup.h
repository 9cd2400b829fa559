#pragma once

namespace quillmere {

// Names the application: its name, version and organisation.
void nameApplication();

// Answers --help, --help-all and -V/--version, or a wrong command line, and ends the program;
// needs no display. Qt's own options (-platform, -style, --reverse ...) are left for Qt.
void answerCommandLine(int argc, char** argv);

} // namespace quillmere
