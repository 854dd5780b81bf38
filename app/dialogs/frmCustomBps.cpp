#include "app/dialogs/frmCustomBps.h"

#include "app/services/FormTexts.h"
#include "app/services/modLanguage.h"
#include "ui_frmCustomBps.h"

#include <QKeyEvent>
#include <QRadioButton>

using namespace cf::estimate;

frmCustomBps::frmCustomBps(int32_t defaultKbps, int32_t seconds, int32_t currentCustomBps,
                           Apply apply, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::frmCustomBps>()), apply_(std::move(apply)) {
  ui_->setupUi(this);
  // The option captions are built below; the texts must come first or they would blank them.
  ApplyFormTexts(this);
  // The options get their captions from the presets, not from the texts file: they are made
  // here, after the texts were applied.
  for (int i = 0; i < kPresetCount; ++i) {
    auto* button = new QRadioButton(this);
    button->setObjectName(QStringLiteral("optBps_%1").arg(i));
    ui_->layOptions->addWidget(button);
    options_[static_cast<size_t>(i)] = button;
  }
  Initialise(defaultKbps, seconds, currentCustomBps);

  connect(ui_->cmdSet, &QPushButton::clicked, this, &frmCustomBps::cmdSet_Click);
  connect(ui_->cmdOK, &QPushButton::clicked, this, &frmCustomBps::cmdOK_Click);
  connect(ui_->cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
  ui_->cmdOK->setAutoDefault(false);
  ui_->cmdSet->setAutoDefault(false);
  ui_->cmdCancel->setAutoDefault(false);
  ui_->cmdOK->setDefault(true);
  tmrFocus_.setSingleShot(true);
  tmrFocus_.setInterval(0);
  connect(&tmrFocus_, &QTimer::timeout, this, [this] { option(selectedIndex())->setFocus(); });
  tmrFocus_.start();
}

frmCustomBps::~frmCustomBps() = default;

void frmCustomBps::Initialise(int32_t defaultKbps, int32_t seconds, int32_t currentCustomBps) {
  const QString section = QStringLiteral("frmCustomBps");
  kbps_ = CustomBpsPresets(defaultKbps);
  option(0)->setChecked(true);
  bool limitExceeded = false;
  for (int i = 0; i < kPresetCount; ++i) {
    QRadioButton* button = option(i);
    QString caption =
        QStringLiteral("%1 kbps (%2%)").arg(kbps_[static_cast<size_t>(i)]).arg(100 + 20 * i);
    if (limitExceeded) {
      button->setEnabled(false);
      button->setText(caption);
      continue;
    }
    if (kbps_[static_cast<size_t>(i)] == currentCustomBps) button->setChecked(true);
    if (i == 0) {
      caption += QLatin1Char(' ') +
                 GetResString(section, QStringLiteral("default"), QStringLiteral("default"));
    }
    if (ExceedsUploadLimit(BytesFor(kbps_[static_cast<size_t>(i)], seconds))) {
      button->setEnabled(false);
      caption += QLatin1Char(' ') + GetResString(section, QStringLiteral("exceedLimit"));
      limitExceeded = true;
    }
    button->setText(caption);
  }
}

int frmCustomBps::selectedIndex() const {
  for (int i = 0; i < kPresetCount; ++i) {
    if (option(i)->isChecked()) return i;
  }
  return 0;
}

void frmCustomBps::Write() {
  const int index = selectedIndex();
  if (apply_) apply_(index == 0 ? 0 : presetKbps(index), presetKbps(index));
}

void frmCustomBps::cmdSet_Click() { Write(); }

void frmCustomBps::cmdOK_Click() {
  Write();
  accept();
}

void frmCustomBps::keyReleaseEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    cmdOK_Click();
    return;
  }
  QDialog::keyReleaseEvent(event);
}
