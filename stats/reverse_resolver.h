#pragma once

#include <functional>
#include <string>

// Asynchronous reverse name lookups of dotted IPv4 texts, one at a time.
class TReverseResolver {
public:
  // errorCode 0 means success; hostName is the resolver's answer as it came
  // for the request of addressText, so a receiver can tell which request a
  // completion answers.
  using Completion = std::function<void(int errorCode, const std::string &addressText,
                                        const std::string &hostName)>;

  virtual ~TReverseResolver() = default;

  // Starts a lookup. A request still pending is abandoned: its completion
  // never comes. May be called from any thread.
  virtual void Lookup(const std::string &addressText) = 0;

  // Set once, before the first Lookup; always called on the main (Qt) thread.
  void SetCompletion(Completion completion) { completion_ = std::move(completion); }

protected:
  void complete(int errorCode, const std::string &addressText, const std::string &hostName) {
    if (completion_)
      completion_(errorCode, addressText, hostName);
  }

private:
  Completion completion_;
};
