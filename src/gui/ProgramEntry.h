// The program entry's steps: the settings file, its start-up default,
// the main window's message loop, and the port name saved at the end.
#pragma once

#include <QString>

namespace zentrop {

class TApplication;
class TIniFile;
class TwMain;

// Writes "comport" = "COM1" into "COMMON" when that section holds no key.
void PrepareSettings(TIniFile& settings);

// Writes the port name the window ends with as "comport" and flushes the file.
void SaveSettings(TIniFile& settings, const TwMain& window);

// Opens the settings file (created by the first write), shows the main window with the hidden
// terminal window behind it, runs the message loop and saves the port name. SIGTERM, SIGINT
// and SIGHUP end the window as its "Exit" does. An error that nothing else caught (such as a
// settings file that cannot be written at start-up) is shown by the standard error report and
// gives the exit code 1.
int RunProgram(TApplication& application, const QString& settingsFile);

} // namespace zentrop
