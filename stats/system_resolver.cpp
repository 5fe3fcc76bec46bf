#include "stats/system_resolver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <utility>

namespace {

// Qt's event queue orders the building of a queued call before the call
// itself, but inside Qt, where the thread sanitizer does not look. Building
// the call under this lock and taking it again before the call reads what it
// carries makes that order visible; it is never held for long.
std::mutex queuedCallOrder;

// Runs on the worker: may block for as long as the system's resolver takes.
// The code is getnameinfo's own (EAI_*), so gai_strerror can describe it.
int reverseLookup(const std::string &addressText, std::string &hostName) {
  sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  if (inet_pton(AF_INET, addressText.c_str(), &address.sin_addr) != 1)
    return EAI_NONAME;
  char name[NI_MAXHOST];
  // NI_NAMEREQD: an address without a name is a failure, not its own text.
  const int code = getnameinfo(reinterpret_cast<const sockaddr *>(&address), sizeof address, name,
                               sizeof name, nullptr, 0, NI_NAMEREQD);
  if (code == 0)
    hostName = name;
  return code;
}

} // namespace

TSystemResolver::TSystemResolver(QObject *parent) : QObject(parent) {
  worker_ = std::thread(&TSystemResolver::workerBody, this);
}

TSystemResolver::~TSystemResolver() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  // A lookup in progress cannot be interrupted; waiting for it keeps the
  // worker from ever touching a destroyed object.
  worker_.join();
  // Completions the worker queued before it stopped are removed by QObject's
  // destructor together with every other event posted to this object.
}

void TSystemResolver::Lookup(const std::string &addressText) {
  {
    std::lock_guard lock(mutex_);
    request_ = addressText; // replaces a request the worker has not started
    hasRequest_ = true;
    ++latest_;
  }
  wake_.notify_one();
}

void TSystemResolver::workerBody() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || hasRequest_; });
    if (stopping_)
      return;
    const std::string addressText = std::move(request_);
    const uint64_t number = latest_;
    hasRequest_ = false;
    lock.unlock();

    std::string hostName;
    const int code = reverseLookup(addressText, hostName);

    lock.lock();
    if (stopping_)
      return;
    if (number != latest_)
      continue; // superseded while it ran: the newer request is already waiting
    lock.unlock();
    // The completion runs on this object's thread. A request made after this
    // point supersedes this one before its completion runs, so the number is
    // checked again there.
    {
      std::lock_guard order(queuedCallOrder);
      QMetaObject::invokeMethod(
          this,
          // self, not this: clang reads a captured this on entry, before the
          // lock below has ordered that read after the call was built.
          [self = this, number, code, addressText, hostName = std::move(hostName)] {
            { std::lock_guard order(queuedCallOrder); }
            {
              std::lock_guard guard(self->mutex_);
              if (number != self->latest_)
                return;
            }
            self->complete(code, addressText, hostName);
          },
          Qt::QueuedConnection);
    }
    lock.lock();
  }
}
