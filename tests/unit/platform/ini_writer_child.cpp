// Helper of IniFileTest: writes keys 0, 1, 2 … of ini_writer_child.h to the settings file named
// on the command line, one TIniFile write each, and reports every finished write with one byte
// on standard output. The test kills it at random moments.

#include "tests/unit/platform/ini_writer_child.h"
#include "platform/IniFile.h"

#include <QString>
#include <cstdlib>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 3)
        return 2;
    TIniFile ini(QString::fromLocal8Bit(argv[1]));
    const int count = std::atoi(argv[2]);
    for (int i = 0; i < count; ++i) {
        ini.WriteString(IniWriterSection(i), IniWriterKey(i), IniWriterValue(i));
        if (::write(STDOUT_FILENO, "+", 1) != 1)
            return 1;
    }
    return 0;
}
