#pragma once
// Where the settings file lives. The path is worked out once per run (or set by "-i") and then
// remembered.

#include <QString>

// The settings file path, computed on the first call.
QString GetIniFileName();
// Replaces the remembered path by `path`, unchanged.
void SetIniFileName(const QString& path);
