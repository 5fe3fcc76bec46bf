#pragma once

#include "stats/reverse_resolver.h"

#include <QObject>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

// Reverse lookups through the system's resolver (getnameinfo with
// NI_NAMEREQD) on a worker thread of its own; completions are delivered to
// the thread that created the resolver through its Qt event loop.
class TSystemResolver : public QObject, public TReverseResolver {
  Q_OBJECT
public:
  explicit TSystemResolver(QObject *parent = nullptr);
  ~TSystemResolver() override; // stops and joins the worker

  void Lookup(const std::string &addressText) override;

private:
  void workerBody();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::string request_; // the newest request not yet started
  bool hasRequest_ = false;
  uint64_t latest_ = 0; // number of the newest request; older results are dropped
  bool stopping_ = false;
  std::thread worker_;
};
