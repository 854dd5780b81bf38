#pragma once

class CliCommands;

// "remove PATH" and "clear": the window's Remove and Clear All for the queue, handed to the
// running window when there is one, so that it does not write the job back.
void RegisterQueueEditCommands(CliCommands& commands);
