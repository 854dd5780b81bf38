#pragma once

class CliCommands;

// "run": uploads every waiting job of the program folder's queue, as the main window's Start
// would, and keeps the queue file as closing the window would.
void RegisterRunCommand(CliCommands& commands);
