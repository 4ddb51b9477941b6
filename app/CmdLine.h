#pragma once
// The command line: picture files to open at start and "-i" followed by the settings file.

#include <QString>
#include <QStringList>

class TCommandLineHandler {
public:
    // Parses the program's own arguments (those after the program name), as it received them.
    TCommandLineHandler();
    // Parses `arguments` (the words after the program name).
    explicit TCommandLineHandler(const QStringList& arguments);

    // The settings file: the path given with "-i" (made the remembered settings path, unchanged
    // and untested), else the default settings path.
    QString IniFileName;
    // The picture files, in command-line order.
    QStringList FileNames;
};
