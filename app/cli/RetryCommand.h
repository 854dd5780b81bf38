#pragma once

class CliCommands;

// clipferry-cli retry PATH | --all-failed: failed jobs go back to "Waiting", in the running window
// when there is one, otherwise in the queue file.
void RegisterRetryCommand(CliCommands& commands);
