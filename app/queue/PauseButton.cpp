#include "app/queue/PauseButton.h"

#include "app/queue/JobDriver.h"

#include <QPushButton>

namespace cf {

void ConnectPauseButton(QPushButton* button, JobDriver* driver) {
  button->setEnabled(false);
  QObject::connect(driver, &JobDriver::phaseChanged, button,
                   [button](const QString&, JobRun::Phase phase) {
                     button->setEnabled(phase == JobRun::Phase::Uploading);
                   });
  QObject::connect(driver, &JobDriver::runningChanged, button, [button](bool running) {
    if (!running) button->setEnabled(false);
  });
  QObject::connect(button, &QPushButton::clicked, driver, [button, driver] {
    button->setEnabled(false);
    driver->Pause();
  });
}

}  // namespace cf
