// SPDX-License-Identifier: GPL-3.0-or-later
// The poll timer: a window timer, or a worker thread that hands each tick to the
// user-interface thread and waits for it.
#include "ui/rx_timer.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QtGlobal>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <stdexcept>

namespace kvd {

// What the worker thread shares with the timer. Each arming makes a fresh one, so a tick
// that an older worker posted is recognised as stale and dropped.
struct TRxTimer::WorkerState {
  std::mutex mutex;
  std::condition_variable wake;
  bool stop = false;
  bool tickPending = false;
  int32_t interval = 1000;
};

TRxTimer::TRxTimer(QObject* parent) : QObject(parent) {}

TRxTimer::~TRxTimer() {
  destroying_ = true;
  enabled_ = false;
  onTimer_ = nullptr;
  StopWorker();
  if (windowTimer_) windowTimer_->stop();
}

void TRxTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  ReArm();
}

void TRxTimer::SetInterval(int32_t ms) {
  if (ms == interval_) return;
  interval_ = ms;
  ReArm();
}

void TRxTimer::SetThreaded(bool threaded) {
  if (threaded == threaded_) return;
  threaded_ = threaded;
  ReArm();
}

void TRxTimer::SetThreadPriority(QThread::Priority priority) {
  if (priority == priority_) return;
  priority_ = priority;
  if (threaded_) ReArm();
}

void TRxTimer::SetOnTimer(Handler handler) {
  const bool had = static_cast<bool>(onTimer_);
  onTimer_ = std::move(handler);
  if (had != static_cast<bool>(onTimer_)) ReArm();
}

bool TRxTimer::IsArmed() const {
  return worker_ != nullptr || (windowTimer_ != nullptr && windowTimer_->isActive());
}

void TRxTimer::ReArm() {
  if (destroying_) return;
  const bool run = interval_ > 0 && enabled_ && onTimer_;
  if (threaded_) {
    if (windowTimer_) {
      windowTimer_->stop();
      delete windowTimer_;
      windowTimer_ = nullptr;
    }
    StopWorker();
    if (run) StartWorker();
  } else {
    StopWorker();
    if (!windowTimer_) {
      windowTimer_ = new QTimer(this);
      windowTimer_->setTimerType(Qt::PreciseTimer);
      connect(windowTimer_, &QTimer::timeout, this, [this] { Tick(); });
    }
    windowTimer_->stop();
    if (run) {
      windowTimer_->start(interval_);
      if (!windowTimer_->isActive()) throw std::runtime_error("Not enough timers available");
    }
  }
}

void TRxTimer::StartWorker() {
  auto state = std::make_shared<WorkerState>();
  state->interval = interval_;
  workerState_ = state;
  QPointer<TRxTimer> owner(this);
  worker_ = QThread::create([state, owner] {
    std::unique_lock<std::mutex> lock(state->mutex);
    while (!state->stop) {
      // The sleep of one interval; a stop request ends it early.
      if (state->wake.wait_for(lock, std::chrono::milliseconds(state->interval),
                               [&] { return state->stop; }))
        break;
      if (QCoreApplication::closingDown()) break;
      state->tickPending = true;
      lock.unlock();
      // The owner pointer is only read on its own thread, inside the queued call.
      QMetaObject::invokeMethod(
          QCoreApplication::instance(),
          [state, owner] {
            if (owner) owner->ThreadTick(state);
            std::lock_guard<std::mutex> done(state->mutex);
            state->tickPending = false;
            state->wake.notify_all();
          },
          Qt::QueuedConnection);
      lock.lock();
      // Wait until the handler has returned; the next sleep starts only then.
      state->wake.wait(lock, [&] { return state->stop || !state->tickPending; });
    }
  });
  worker_->start(priority_);
}

void TRxTimer::StopWorker() {
  if (!worker_) return;
  {
    std::lock_guard<std::mutex> lock(workerState_->mutex);
    workerState_->stop = true;
  }
  workerState_->wake.notify_all();
  worker_->wait();
  delete worker_;
  worker_ = nullptr;
  workerState_.reset();
}

void TRxTimer::ThreadTick(const std::shared_ptr<WorkerState>& state) {
  // A tick posted by a worker that has been replaced or stopped meanwhile.
  if (state != workerState_) return;
  Tick();
}

void TRxTimer::Tick() {
  if (!enabled_ || destroying_ || !onTimer_) return;
  // Keep the handler alive even if it replaces itself while running.
  Handler handler = onTimer_;
  try {
    handler(this);
  } catch (const std::exception& e) {
    if (onException_)
      onException_(e.what());
    else
      qCritical("poll timer: %s", e.what());
  } catch (...) {
    if (onException_)
      onException_("unknown error");
    else
      qCritical("poll timer: unknown error");
  }
}

}  // namespace kvd
