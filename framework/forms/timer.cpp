#include "framework/forms/timer.h"

#include <map>
#include <memory>

#include <QTimer>

#include "framework/forms/application.h"

namespace fw {

namespace {

class QtTimerService : public TTimerService {
 public:
  int Start(int interval_ms, std::function<void()> tick) override {
    auto timer = std::make_unique<QTimer>();
    timer->setInterval(interval_ms);
    QObject::connect(timer.get(), &QTimer::timeout, timer.get(), std::move(tick));
    timer->start();
    const int id = ++next_id_;
    timers_[id] = std::move(timer);
    return id;
  }
  void Stop(int id) override { timers_.erase(id); }

 private:
  std::map<int, std::unique_ptr<QTimer>> timers_;
  int next_id_ = 0;
};

QtTimerService& QtService() {
  static QtTimerService* service = new QtTimerService;  // timers may outlive static destruction order
  return *service;
}

TTimerService* g_service = nullptr;

}  // namespace

TTimerService& TimerService() { return g_service != nullptr ? *g_service : QtService(); }

TTimerService* SetTimerService(TTimerService* service) {
  TTimerService* old = g_service;
  g_service = service;
  return old;
}

TTimer::TTimer(TComponent* owner) : TComponent(owner) { Restart(); }

TTimer::~TTimer() {
  if (id_ != 0) service_->Stop(id_);
}

void TTimer::SetEnabled(bool v) {
  if (v == enabled_) return;
  enabled_ = v;
  Restart();
}

void TTimer::SetInterval(int ms) {
  if (ms == interval_) return;
  interval_ = ms;
  Restart();
}

void TTimer::Restart() {
  if (id_ != 0) {
    service_->Stop(id_);
    id_ = 0;
  }
  if (!enabled_ || interval_ <= 0) return;
  service_ = &TimerService();
  id_ = service_->Start(interval_, [this] {
    if (OnTimer) Guarded([&] { OnTimer(this); }, this);
  });
}

}  // namespace fw
