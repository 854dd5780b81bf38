#pragma once

class CliCommands;

// "list": prints the jobs queued in the program folder's project.xml, one a line.
void RegisterListCommand(CliCommands& commands);
