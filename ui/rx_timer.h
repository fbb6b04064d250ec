// The poll timer: ticks from a window timer or from a worker thread, always handled on the
// user-interface thread.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kvd {

// A timer whose tick handler always runs on the thread that created it (the user-interface
// thread). Two ways of ticking:
//  - window timer (Threaded false): a QTimer with period Interval; a handler that pumps
//    events may be entered again by the next tick.
//  - worker thread (Threaded true): a thread sleeps Interval, hands the tick to the
//    user-interface thread and waits until the handler has returned, so the period is
//    Interval plus the handler's run time and ticks never overlap.
// Changing Enabled, Interval, Threaded, ThreadPriority (while threaded) or assigning or
// removing OnTimer re-arms the timer; setting a value it already has does nothing. An
// Interval of 0 (or below) arms nothing. An exception escaping the handler is reported
// through OnException (or the Qt log when none is set) and the timer goes on.
class TRxTimer : public QObject {
  Q_OBJECT

 public:
  using Handler = std::function<void(TRxTimer* sender)>;
  using ErrorHandler = std::function<void(const std::string& message)>;

  explicit TRxTimer(QObject* parent = nullptr);
  ~TRxTimer() override;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  int32_t Interval() const { return interval_; }
  void SetInterval(int32_t ms);
  bool Threaded() const { return threaded_; }
  void SetThreaded(bool threaded);
  QThread::Priority ThreadPriority() const { return priority_; }
  void SetThreadPriority(QThread::Priority priority);
  void SetOnTimer(Handler handler);
  bool HasOnTimer() const { return static_cast<bool>(onTimer_); }
  void SetOnException(ErrorHandler handler) { onException_ = std::move(handler); }

  // True while a worker thread or a window timer is armed.
  bool IsArmed() const;

  struct WorkerState;  // shared with the worker thread

 private:
  void ReArm();
  void StopWorker();
  void StartWorker();
  void Tick();
  void ThreadTick(const std::shared_ptr<WorkerState>& state);

  bool enabled_ = true;
  int32_t interval_ = 1000;
  bool threaded_ = true;
  QThread::Priority priority_ = QThread::NormalPriority;
  Handler onTimer_;
  ErrorHandler onException_;
  bool destroying_ = false;

  QTimer* windowTimer_ = nullptr;
  QThread* worker_ = nullptr;
  std::shared_ptr<WorkerState> workerState_;
};

}  // namespace kvd
