#include "app/dialogs/frmConfirm.h"

#include "app/dialogs/PathShortener.h"
#include "app/services/FormTexts.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QLabel* NewLabel(QWidget* parent, const char* name, const QString& text) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QLatin1String(name));
  return label;
}

}  // namespace

frmConfirm::frmConfirm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmConfirm"));
  setWindowTitle(QStringLiteral("Confirm"));
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(NewLabel(this, "lTitle", QStringLiteral("下列影片已經存在")));
  lFile_ = NewLabel(this, "lFile", QString());
  lFile_->setMinimumWidth(360);
  lFile_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  layout->addWidget(lFile_);
  layout->addWidget(NewLabel(this, "lSubTitle", QStringLiteral("是否要覆蓋？")));
  lTestLen_ = NewLabel(this, "lTestLen", QString());
  lTestLen_->hide();
  auto* row = new QHBoxLayout();
  const std::pair<int, const char*> buttons[] = {
      {kYes, "cmdYes"}, {kNo, "cmdNo"}, {kAllYes, "cmdAllYes"}, {kAllNo, "cmdAllNo"}};
  const QString captions[] = {QStringLiteral("Yes"), QStringLiteral("No"),
                              QStringLiteral("全部皆是"), QStringLiteral("全部皆否")};
  int index = 0;
  for (const auto& [value, name] : buttons) {
    auto* button = new QPushButton(captions[index++], this);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [this, value = value] { Reply(value); });
    buttons_[value] = button;
    row->addWidget(button);
  }
  layout->addLayout(row);
  ApplyFormTexts(this);
  lTestLen_->hide();
}

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
