#pragma once

class CliCommands;

// "folders --url U --account A": logs in as the add dialog does and prints the account's folders
// as the dialog's tree holds them: id, path and whether the folder takes uploads.
void RegisterFoldersCommand(CliCommands& commands);
