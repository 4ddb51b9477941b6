#pragma once
// Every key of the settings file, declared once with its section, name, type and default.
// ReadSettings and WriteSettings (app/MainForm_Settings.cpp) reach the file only through these.
//
// Some defaults are not fixed: a missing window coordinate keeps the window's current value, a
// missing printer name is the selected printer's, a missing title is the application title,
// a missing AutoDPI keeps the check box as it is. Those keys are marked DefaultIsCurrent and
// the reader hands in the current value; their Default is the window design's value, used where
// the current value must be replaced (a window size that does not fit the screen).

#include "platform/IniFile.h"

#include <QString>

template <typename T> struct TSettingKey {
    const char* Section;
    const char* Name;
    T Default;
    bool DefaultIsCurrent = false;
};

using TIntegerKey = TSettingKey<int>;
using TTextKey = TSettingKey<const char*>;
using TBoolKey = TSettingKey<bool>;

namespace SettingsKeys {

// Window state: 0 normal, 1 minimised, 2 maximised; anything else reads as normal.
inline constexpr TIntegerKey WindowState{"Window", "State", 0};
// Outer position and size in screen pixels. The position is applied but replaced at the first
// show, which centres the window.
inline constexpr TIntegerKey WindowLeft{"Window", "Left", 261, true};
inline constexpr TIntegerKey WindowTop{"Window", "Top", 127, true};
inline constexpr TIntegerKey WindowWidth{"Window", "Width", 534, true};
inline constexpr TIntegerKey WindowHeight{"Window", "Height", 418, true};

// Output mode: 0 printer, 1 fax, 2 clipboard bitmap.
inline constexpr TIntegerKey OutputSelected{"Output", "Selected", 0};
// Base of every print job title; missing: the application title.
inline constexpr TTextKey OutputTitle{"Output", "Title", "Velmora", true};
// Base of the names suggested when all pictures are saved. Only read: a user may add it.
inline constexpr TTextKey OutputDefaultFilename{"Output", "DefaultFilename", "Pic"};

// The printers of printer and fax mode, by name: an index would point elsewhere once the
// printer list changes. Missing printer name: the selected printer's, or empty.
inline constexpr TTextKey PrinterName{"Printer", "Name", "", true};
inline constexpr TTextKey FaxName{"Fax", "Name", ""};

inline constexpr TBoolKey SourceAutoDPI{"Source", "AutoDPI", true, true};
// Scanner resolution of the first picture; 0 reads as the default.
inline constexpr TIntegerKey SourceXDPI{"Source", "XDPI", 300};
inline constexpr TIntegerKey SourceYDPI{"Source", "YDPI", 300};

inline constexpr TBoolKey SpecialMustek{"Special", "Mustek", false};

} // namespace SettingsKeys

// Typed access. The overloads without a current value serve the keys with a fixed default.

inline int ReadSetting(const TIniFile& ini, const TIntegerKey& key, int current) {
    return ini.ReadInteger(QString::fromLatin1(key.Section), QString::fromLatin1(key.Name),
                           current);
}
inline int ReadSetting(const TIniFile& ini, const TIntegerKey& key) {
    return ReadSetting(ini, key, key.Default);
}
inline QString ReadSetting(const TIniFile& ini, const TTextKey& key, const QString& current) {
    return ini.ReadString(QString::fromLatin1(key.Section), QString::fromLatin1(key.Name), current);
}
inline QString ReadSetting(const TIniFile& ini, const TTextKey& key) {
    return ReadSetting(ini, key, QString::fromUtf8(key.Default));
}
inline bool ReadSetting(const TIniFile& ini, const TBoolKey& key, bool current) {
    return ini.ReadBool(QString::fromLatin1(key.Section), QString::fromLatin1(key.Name), current);
}
inline bool ReadSetting(const TIniFile& ini, const TBoolKey& key) {
    return ReadSetting(ini, key, key.Default);
}

inline void WriteSetting(TIniFile& ini, const TIntegerKey& key, int value) {
    ini.WriteInteger(QString::fromLatin1(key.Section), QString::fromLatin1(key.Name), value);
}
inline void WriteSetting(TIniFile& ini, const TTextKey& key, const QString& value) {
    ini.WriteString(QString::fromLatin1(key.Section), QString::fromLatin1(key.Name), value);
}
inline void WriteSetting(TIniFile& ini, const TBoolKey& key, bool value) {
    ini.WriteBool(QString::fromLatin1(key.Section), QString::fromLatin1(key.Name), value);
}
template <typename T> void DeleteSetting(TIniFile& ini, const TSettingKey<T>& key) {
    ini.DeleteKey(QString::fromLatin1(key.Section), QString::fromLatin1(key.Name));
}
