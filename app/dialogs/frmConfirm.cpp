#include "app/dialogs/frmConfirm.h"

#include "app/dialogs/PathShortener.h"
#include "app/services/FormTexts.h"
#include "ui_frmConfirm.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>

frmConfirm::frmConfirm(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::frmConfirm>()) {
  ui_->setupUi(this);
  lFile_ = ui_->lFile;
  lTestLen_ = ui_->lTestLen;
  const std::pair<int, QPushButton*> buttons[] = {
      {kYes, ui_->cmdYes}, {kNo, ui_->cmdNo}, {kAllYes, ui_->cmdAllYes}, {kAllNo, ui_->cmdAllNo}};
  for (const auto& [value, button] : buttons) {
    connect(button, &QPushButton::clicked, this, [this, value = value] { Reply(value); });
    buttons_[value] = button;
  }
  ApplyFormTexts(this);
  lTestLen_->hide();
}

frmConfirm::~frmConfirm() = default;

QPushButton* frmConfirm::button(frmConfirm::Answer answer) const {
  return answer > kNone && answer <= kAllNo ? buttons_[answer] : nullptr;
}

void frmConfirm::Reply(int value) {
  answer_ = value;
  // The caller reads the answer after exec() returns; hiding ends the modal loop.
  done(value);
}

void frmConfirm::SetFile(const QString& path) {
  path_ = path;
  ShowPath();
}

void frmConfirm::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  ShowPath();
}

void frmConfirm::ShowPath() {
  lTestLen_->setFont(lFile_->font());
  const QFontMetrics metrics(lTestLen_->font());
  lFile_->setToolTip(path_);
  lFile_->setText(PathShortener::contractStr(
      path_, lFile_->width(),
      [&metrics](const QString& text) { return metrics.horizontalAdvance(text); }));
}
