#pragma once
// Where Velmora's own files are: the help file, the translations, the TWAIN source manager and
// its data sources. The install layout is described in cmake/VelmoraInstallDirs.cmake:
//
//   kind           installed (relative to bin/)      build tree
//   Data           ../share/velmora                  the build folder (beside the program)
//   Translations   ../share/velmora/translations     <build>/translations
//   TwainManager   ../<libdir>/velmora               <build>/lib
//   TwainSources   ../<libdir>/velmora/sources       <build>/lib/sources
//
// Each kind has a list of candidate folders, looked at in this order: the environment variable
// VELMORA_DATA_DIR (Data and Translations only, for tests that bring their own files), the
// installed folder relative to the program's own folder, the program's own folder (Data only:
// the help file lies beside the program), the build tree, and the installed folder under the
// configured prefix (for a program copied out of its tree).
//
// Widget-free and without a Qt application object (the program's folder is read from
// /proc/self/exe), so a shared library loaded into Velmora can use it too.

#include <QString>
#include <QStringList>

enum class TVelmoraFiles { Data, Translations, TwainManager, TwainSources };

// The candidate folders of a kind, best first; folders that do not exist are left out.
QStringList VelmoraFolders(TVelmoraFiles kind);

// The first existing candidate folder; the installed one relative to the program when none
// exists.
QString VelmoraFolder(TVelmoraFiles kind);

// The file `name` in the first candidate folder that holds it; when none does, the place it
// would have beside the program (Data) or in the installed folder, so a message can name it.
QString VelmoraFile(TVelmoraFiles kind, const QString& name);

// The folder of the running program (of /proc/self/exe), without a trailing '/'.
QString ProgramFolder();
