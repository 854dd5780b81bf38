#pragma once

class QPushButton;

namespace cf {

class JobDriver;

// The main window's Pause button. It is enabled while a job's archive is being sent (also while
// the upload waits for the server) and ends the upload without discarding the server's session:
// the row waits again and its next start continues at the next block.
void ConnectPauseButton(QPushButton* button, JobDriver* driver);

}  // namespace cf
