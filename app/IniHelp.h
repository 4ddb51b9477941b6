#pragma once
// Where the settings file lives. The path is worked out once per run (or set by "-i") and then
// remembered until the program ends.
//
// The first lookup, for the program file P (on Linux a name without extension, e.g. "velmora"):
// 1. A = P with ".ini" appended, beside the program. A is remembered at once, so a later lookup
//    answers A even when working out the per-user path below fails.
// 2. A file A that exists wins: an administrator or a portable install can pin the settings.
// 3. The per-user folder: "$APPDATA" when that variable is set; where it does not exist at all
//    (the usual case on Linux) "$XDG_CONFIG_HOME", or "~/.config" when that is unset, empty or
//    not absolute. An APPDATA that is set but empty means "no per-user folder": A is used and
//    is created there when the settings are first written.
// 4. Otherwise <per-user folder>/Velmora/<N>/<N>.ini with N = the program's file name; the two
//    sub-folders are created when missing, e.g. ~/.config/Velmora/velmora/velmora.ini.
//
// A folder of step 4 that cannot be created raises EInOutError. Under APPDATA only the two
// sub-folders are made, one level at a time, so an APPDATA naming a folder that does not exist
// is an error; the XDG configuration folder itself is created like any missing XDG folder.

#include <QString>

// The folder under the per-user folder that holds the settings of all our programs.
inline constexpr char VendorFolder[] = "Velmora";

// The user's configuration folder by the XDG base-directory rule: "$XDG_CONFIG_HOME", or
// "~/.config" when that is unset, empty or not absolute.
QString XdgConfigHome();

// The settings file path, worked out on the first call for the running program.
QString GetIniFileName();
// The same for another program file; the remembered path, once there is one, wins over it.
QString GetIniFileName(const QString& programFile);
// Replaces the remembered path by `path`, unchanged. An empty path forgets it, so that the next
// lookup works the path out anew.
void SetIniFileName(const QString& path);
