#include "upload_control/src/Mavo2Window.h"

#include "upload_control/include/kqmavo2/Imavo2.h"
#include "upload_control/src/Mavo2Control.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>

namespace kqmavo2 {

Mavo2Window::Mavo2Window(QWidget* parent, Mavo2Control* control)
    : QWidget(parent), control_(control) {}

Mavo2Window::~Mavo2Window() {
  if (control_ != nullptr) control_->OnWindowDestroyed();
}

bool Mavo2Window::event(QEvent* event) {
  const int type = static_cast<int>(event->type());
  if (type >= WM_MAVO_PUTFILE_DONE && type <= WM_MAVO_PUTFILE_BLOCK) {
    if (control_ != nullptr) control_->OnCompletion(type);
    return true;
  }
  return QWidget::event(event);
}

void Mavo2Window::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect bounds = rect().adjusted(0, 0, -1, -1);
  painter.drawRect(bounds);
  // Centred horizontally, with the baseline on the centre point.
  const QString caption = QString::fromLatin1(kCaption);
  const QPoint centre = bounds.center();
  const int width = QFontMetrics(painter.font()).horizontalAdvance(caption);
  painter.drawText(QPoint(centre.x() - width / 2, centre.y()), caption);
}

}  // namespace kqmavo2
