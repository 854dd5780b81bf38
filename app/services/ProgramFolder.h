#pragma once

#include <QString>

// The folder of the running program: res.xml, the templates, project.xml, getfolder.xml and
// log.txt live there. Defaults to the executable's folder; tests and clipferry-cli may point it
// elsewhere. An installed program cannot write beside its executable, so when that folder is not
// writable this is the user's own copy of it (see LinkProgramFolder) in the user's data folder.
QString ProgramFolder();
void SetProgramFolder(const QString& folder);

// Whether this process may create and replace files in the folder.
bool FolderIsWritable(const QString& folder);

// Makes userFolder a writable stand-in for installFolder: every entry of installFolder appears
// there as a link to it, so the program reads the installed files, while the files it writes
// (queue, folder cache, run log) are the user's own. Links to entries that are gone are dropped;
// the user's files are kept. False when userFolder cannot be made or filled.
bool LinkProgramFolder(const QString& installFolder, const QString& userFolder);

// Where an installed program's stand-in folder lives: "clipferry/program" in the user's data
// folder.
QString UserProgramFolder();

// Joins path pieces with the platform separator; every path the program builds goes through here.
QString JoinPath(const QString& folder, const QString& name);
