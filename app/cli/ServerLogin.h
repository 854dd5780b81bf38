#pragma once

#include <QString>

class FolderReply;

// Logs in as the add dialog does: a digest first, the plain password once more when the server
// asks for it. On success `reply` holds the folder reply and `sentDigest` how the password went;
// on failure the reason has been printed to standard error.
bool LogInToServer(const QString& address, const QString& account, const QString& password,
                   FolderReply* reply, bool* sentDigest);
