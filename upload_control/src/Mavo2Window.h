#pragma once

#include <QWidget>

namespace kqmavo2 {

class Mavo2Control;

// The control's own window: the target its workers post their completion events to, and the
// placeholder picture a host shows in design views.
class Mavo2Window final : public QWidget {
 public:
  static constexpr char kCaption[] = "ATL 3.0 : mavo2";

  Mavo2Window(QWidget* parent, Mavo2Control* control);
  ~Mavo2Window() override;

  // Cuts the link to a control that is going away; later events are ignored.
  void Detach() { control_ = nullptr; }
  QSize sizeHint() const override { return {120, 32}; }

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  Mavo2Control* control_;
};

}  // namespace kqmavo2
