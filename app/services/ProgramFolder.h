#pragma once

#include <QString>

// The folder of the running program: res.xml, the templates, project.xml, getfolder.xml and
// log.txt live there. Defaults to the executable's folder; tests and clipferry-cli may point it
// elsewhere.
QString ProgramFolder();
void SetProgramFolder(const QString& folder);

// Joins path pieces with the platform separator; every path the program builds goes through here.
QString JoinPath(const QString& folder, const QString& name);
