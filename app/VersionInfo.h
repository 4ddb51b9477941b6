#pragma once
// Version information of Velmora's program file: the fixed record of version numbers and the
// named strings per language. Both live in the section ".velmora_version" of the executable,
// written at build time by velmora_add_version_resource() (cmake/VersionResource.cmake
// describes the layout). Nothing is cached: every call reads the file anew, and every failure
// (no such file, no version section, no such string) gives false or an empty text.

#include <QString>
#include <cstdint>

// The 52-byte fixed file information, word for word as in the version section.
struct VS_FIXEDFILEINFO {
    std::uint32_t dwSignature;
    std::uint32_t dwStrucVersion;
    std::uint32_t dwFileVersionMS;
    std::uint32_t dwFileVersionLS;
    std::uint32_t dwProductVersionMS;
    std::uint32_t dwProductVersionLS;
    std::uint32_t dwFileFlagsMask;
    std::uint32_t dwFileFlags;
    std::uint32_t dwFileOS;
    std::uint32_t dwFileType;
    std::uint32_t dwFileSubtype;
    std::uint32_t dwFileDateMS;
    std::uint32_t dwFileDateLS;
};
static_assert(sizeof(VS_FIXEDFILEINFO) == 52, "the fixed file information is 52 bytes");

// The language key used when none is given: German, code page 1252.
inline constexpr char DefaultVersionLanguage[] = "040704E4";

// The fixed file information of `file`; false when the file has no version information.
bool ReadFixedFileInfo(const QString& file, VS_FIXEDFILEINFO& info);

// The file version (which = 1) or product version (which = 2) of `file` as "1.4.0.7"; empty
// for any other `which` and for a file without version information.
QString VersionNumberText(const QString& file, int which);

// Full path of the running program's executable.
QString RunningProgramPath();

// The product version of the running program.
QString ProductVersionText();

// " 64-Bit" or " 32-Bit": the word size of this build, which the version lines of the error
// report and the about box end with.
QString BuildWidthText();

// String `name` of the table `language` (empty = DefaultVersionLanguage) of the running
// program, e.g. VersionInfoString("", "Comments").
QString VersionInfoString(const QString& language, const QString& name);

// The same for any file.
QString FileVersionInfoString(const QString& file, const QString& language, const QString& name);
