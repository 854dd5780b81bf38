#pragma once

#include "app/updater/CVerList.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <pugixml.hpp>

// The update check's rules and names: which versions are offered and when, where the downloads
// go, and the texts the download window shows. Nothing here touches a widget.

// Paths on the update server, below its base address.
inline constexpr const char* kVerInfoPath = "/version_ctrl/clipferry/verinfo.php";
inline constexpr const char* kDraftQuery = "?draft=1";
inline constexpr const char* kPackageFolderPath = "/version_ctrl/clipferry/version/";
inline constexpr const char* kPatchName = "patch.zip";

// The update folder below the temporary folder, the unpacked updater's subfolder, and what the
// updater finds beside its folder.
inline constexpr const char* kUpdateFolderName = "kqClipFerryUpdate";
inline constexpr const char* kUpdaterSubfolder = "updater";
inline constexpr const char* kVerListXmlName = "verList.xml";
inline constexpr const char* kVerListTxtName = "verList.txt";
inline constexpr const char* kUpdaterArgument = "ClipFerry";

// Systems from this version on take the manifest-carrying updater.
inline constexpr int kManifestWindowsVersion = 60;

// Settings of the update check (plain values).
inline constexpr const char* kUpdateServerKey = "updateServer";
inline constexpr const char* kVerListPathKey = "verListPath";
inline constexpr const char* kNewVerKey = "newVer";
inline constexpr const char* kNewVerNotifyDateKey = "newVerNotifyDate";
// What the program tells the updater before it hands over: the folder to patch and the title
// whose single-instance lock shows the program is still running.
inline constexpr const char* kHandOverFolderKey = "updateProgramFolder";
inline constexpr const char* kHandOverTitleKey = "updateWindowTitle";

// The executable the updater starts again once the program folder is patched.
inline constexpr const char* kProgramExecutable = "clipFerry";

struct UpdaterChoice {
  QString packageName;  // "updater_manifest.zip"
  QString programName;  // "kqUpdater_manifest"
};

UpdaterChoice ChooseUpdaterProgram(int windowsVersion);

// The temporary folder's "kqClipFerryUpdate".
QString UpdateFolder();

// True for "2", "2.100603": digits with at most one full stop between digits. A version names a
// folder of the update folder, so nothing else may pass.
bool IsPlainVersion(const QString& text);
// The version as a single-precision number, as versions are compared.
bool VersionValue(const QString& text, float* value);
// "True"/"False" in any letter case, or a number (0 is false).
bool ParseFullPatch(const QString& text, bool* value);

// Fills `list` with the items of the document's `list` that are newer than `ownVersion`. Items
// whose version is not a plain number, or whose folder is not a server path, are left out. False
// when the document or an item cannot be read; the items added until then stay.
bool ParseVersionList(const pugi::xml_document& doc, const QString& ownVersion, CVerList* list);

// The SHA-256 the list gives for an updater package (`<package name=".." sha256=".."/>` below
// the document element), lower-case; empty when it gives none.
QString PackageSha256(const pugi::xml_document& doc, const QString& packageName);

// Whether to offer `newestVer`, given what the last offer stored. An empty or unreadable memory
// offers; a newer version offers at once; the same version again only on another calendar day.
bool ShouldOffer(const QString& newVer, const QString& notifyDate, const QString& newestVer,
                 const QDateTime& now);
// The stored form of an offer's time (local, to the second).
QString NotifyDateText(const QDateTime& when);

// How many patches to fetch: up to and including the newest full patch, else all of them.
int PatchCount(const CVerList& list);

// The log box: each version, then its log lines trimmed and indented by 8 blanks, CR LF
// separated, with an empty line after each version.
QString LogBoxText(const CVerList& list);

// A byte count as the progress label shows it: `received` and `total` in the largest of B, KB,
// MB, GB in which `total` is at least 1, formatted "0.0" (a zero gives an empty text).
struct SizeTexts {
  QString received;
  QString total;
  QString unit;
};
SizeTexts FormatSizes(qint64 received, qint64 total);

// The setting's server as "http://host[:port][/path]" without a trailing "/"; empty when unset.
QString UpdateServerBase(const QString& setting);
QString VersionListUrl(const QString& serverBase, bool draft);

// True when a switch ("-s", "-d") appears anywhere in the arguments after the program's name.
bool CommandLineHas(const QStringList& arguments, const QString& option);

// Lower-case hex SHA-256 of a file; false when it cannot be read.
bool FileSha256(const QString& path, QString* hex);

// verList.txt: one version per line, oldest first, CR LF line ends.
bool WriteVersionLines(const QString& path, const QStringList& versions);
// Reads the non-empty lines (blanks trimmed, LF or CR LF).
bool ReadVersionLines(const QString& path, QStringList* versions);
