#pragma once

class CliCommands;

// "add FILE --url URL --account A --password P --folder-id ID [...]": logs in, checks the folder,
// probes the file and appends the job to the program folder's project.xml with the fields the add
// dialog's OK would give it.
void RegisterAddCommand(CliCommands& commands);
