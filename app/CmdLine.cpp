#include "app/CmdLine.h"

#include "app/IniHelp.h"
#include "app/VelmoraApplication.h"

// Not QCoreApplication::arguments(): Qt has taken its own options out of those, and with them
// picture names such as "-title" and the word after it.
TCommandLineHandler::TCommandLineHandler()
    : TCommandLineHandler(VelmoraApplication::ReceivedArguments().mid(1)) {}

TCommandLineHandler::TCommandLineHandler(const QStringList& arguments) {
    bool pathExpected = false;
    for (const QString& argument : arguments) {
        // Only "-i" itself is the option: "-I" and "-ifoo" are file names like any other word.
        if (argument == QLatin1String("-i"))
            pathExpected = true;
        else if (pathExpected) {
            IniFileName = argument;
            pathExpected = false;
        } else
            FileNames << argument;
    }
    if (!IniFileName.isEmpty())
        SetIniFileName(IniFileName);
    else
        IniFileName = GetIniFileName();
}
