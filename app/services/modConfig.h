#pragma once

#include <QString>

// The server the add dialogs remember between runs.
struct ServerProfile {
  QString serverAddress;
  QString account;
  QString password;
  QString folderID;
  QString folderName;
};

// Reads the remembered server; false when the account or the password is empty.
bool LoadServerProfile(ServerProfile* profile);

// What a project folder's mavo_profile.xml remembers of its last upload.
struct ProjectProfile {
  QString url;
  QString folderID;
  QString contentID = QStringLiteral("0");
};

inline constexpr const char* kProjectProfileName = "mavo_profile.xml";

// Reads `folder`/mavo_profile.xml. A missing file or one of 9 bytes or less counts as absent: it is
// removed and the result is false with an empty profile and content "0".
bool ReadProjectProfile(const QString& folder, ProjectProfile* profile);

// Rewrites url, folderID and contentID of an existing profile in place (missing elements are not
// created). The file is replaced atomically; a missing or unreadable profile gives false and stays
// as it was.
bool WriteProjectProfile(const QString& folder, const QString& url, const QString& folderID,
                         const QString& contentID);

// The address as stored and shown: no blanks around it, no "http://" and no "https://".
QString NormalizeServerAddress(const QString& text);

// The project-format version the server is told: the `ver` of default.kqp in the program folder.
// Empty when the template is missing or unreadable.
QString GetDefaultProjectVersion();

// Major × 10 + minor of the running system; a current system, as the updater and the add dialog
// expect of one.
int GetWindowsVersion();

// Logical processors of this machine, and whether the high-speed conversion may be offered (more
// than two).
int LogicalProcessorCount();
bool HighSpeedAvailable(int processors);
