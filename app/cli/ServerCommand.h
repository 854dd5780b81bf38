#pragma once

class CliCommands;

// "set-server": remembers the server address the add dialogs offer first.
void RegisterServerCommand(CliCommands& commands);
