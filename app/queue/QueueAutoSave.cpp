#include "app/queue/QueueAutoSave.h"

#include "app/queue/KeptWork.h"
#include "app/queue/QueueFile.h"
#include "app/queue/UploadQueue.h"

namespace cf {
namespace {

QString LockPathOf(const QString& filePath) { return filePath + QStringLiteral(".lock"); }

}  // namespace

QueueAutoSave::QueueAutoSave(UploadQueue& queue, const QString& filePath, QObject* parent)
    : QObject(parent), m_queue(queue), m_filePath(filePath), m_lock(LockPathOf(filePath)) {
  m_timer.setSingleShot(true);
  m_timer.setInterval(kDelayMs);
  connect(&m_timer, &QTimer::timeout, this, &QueueAutoSave::Flush);
  connect(&m_queue, &UploadQueue::queueChanged, this, &QueueAutoSave::Changed);
  m_lock.TryLock();
  // The owner of the queue file knows every job that stays; kept work that none of them owns was
  // left by a crash or by a job that went while another copy of the program held the file.
  if (m_lock.IsLocked()) KeptWork::Sweep(m_queue);
}

QueueAutoSave::~QueueAutoSave() { Flush(); }

void QueueAutoSave::setEnabled(bool enabled) {
  if (m_enabled == enabled) return;
  m_enabled = enabled;
  if (enabled) {
    m_pending = true;
    Flush();
  } else {
    m_timer.stop();
    m_pending = false;
  }
}

bool QueueAutoSave::Flush() {
  m_timer.stop();
  if (!m_pending || !m_enabled) return true;
  m_pending = false;
  if (QueueFile::Save(m_filePath, m_queue)) return true;
  emit saveFailed(m_filePath);
  return false;
}

void QueueAutoSave::Changed() {
  if (!m_enabled) return;
  m_pending = true;
  // Not restarted by later changes: a steady stream of them still reaches the disk in time.
  if (!m_timer.isActive()) m_timer.start();
}

bool QueueAutoSave::HeldElsewhere(const QString& filePath) {
  return cf::desktop::OwnerLock::IsHeld(LockPathOf(filePath));
}

}  // namespace cf
