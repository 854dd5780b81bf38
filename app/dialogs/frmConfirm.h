#pragma once

#include <QDialog>

#include <memory>

class QLabel;
class QPushButton;

namespace Ui {
class frmConfirm;
}

// Asks whether a file that is already queued should replace the queued job. The caller shows it
// modally and reads result(): the answer given, or kNone when the window was closed.
class frmConfirm : public QDialog {
  Q_OBJECT

 public:
  enum Answer : int { kNone = 0, kYes = 1, kNo = 2, kAllYes = 3, kAllNo = 4 };

  explicit frmConfirm(QWidget* parent = nullptr);
  ~frmConfirm() override;

  // Shows `path` in lFile, shortened to the label's width.
  void SetFile(const QString& path);
  int answer() const { return answer_; }
  QLabel* lFile() const { return lFile_; }
  QPushButton* button(Answer answer) const;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Reply(int value);
  void ShowPath();

  std::unique_ptr<Ui::frmConfirm> ui_;
  QLabel* lFile_ = nullptr;
  QLabel* lTestLen_ = nullptr;
  QPushButton* buttons_[5] = {};
  QString path_;
  int answer_ = kNone;
};
