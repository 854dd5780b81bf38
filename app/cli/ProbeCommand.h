#pragma once

class CliCommands;

// "probe FILE": runs the media probe on a video and prints what it learned as name=value lines,
// or the probe's failure text with exit status 1.
void RegisterProbeCommand(CliCommands& commands);
