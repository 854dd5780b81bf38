#pragma once

#include "app/dialogs/BitrateEstimate.h"

#include <QDialog>
#include <QTimer>

#include <array>
#include <functional>
#include <memory>

class QRadioButton;

namespace Ui {
class frmCustomBps;
}

// Lets the user raise the total bitrate above the computed default in steps of 20 %. What it
// sets goes straight to the add dialog through `apply` (Set keeps this window open, OK closes it).
class frmCustomBps : public QDialog {
  Q_OBJECT

 public:
  // Receives the custom total to store (0 for the default) and the kbps to show.
  using Apply = std::function<void(int32_t customBps, int32_t shownKbps)>;

  frmCustomBps(int32_t defaultKbps, int32_t seconds, int32_t currentCustomBps, Apply apply,
               QWidget* parent = nullptr);
  ~frmCustomBps() override;

  // The first selected option, 0 when none is.
  int selectedIndex() const;
  int32_t presetKbps(int index) const { return kbps_[static_cast<size_t>(index)]; }
  QRadioButton* option(int index) const { return options_[static_cast<size_t>(index)]; }

  void cmdSet_Click();
  void cmdOK_Click();

 protected:
  void keyReleaseEvent(QKeyEvent* event) override;

 private:
  void Initialise(int32_t defaultKbps, int32_t seconds, int32_t currentCustomBps);
  void Write();

  std::unique_ptr<Ui::frmCustomBps> ui_;
  std::array<QRadioButton*, cf::estimate::kPresetCount> options_{};
  std::array<int32_t, cf::estimate::kPresetCount> kbps_{};
  Apply apply_;
  QTimer tmrFocus_;
};
