#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

// The program's exception for failed capture calls; the window shows its
// message in an "Error" box and stays idle.
class ECaptureError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// strerror text of an errno value (thread-safe).
std::string ErrnoText(int err);
// "Error <err> in function <function>" + line break + the errno text.
std::string SocketErrorMessage(int err, std::string_view function);
[[noreturn]] void ThrowSocketError(int err, std::string_view function);
