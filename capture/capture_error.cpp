#include "capture/capture_error.h"

#include <cstring>

namespace {

// strerror_r comes in two shapes depending on the feature macros: the GNU one
// returns the text (which may or may not be the buffer), the XSI one fills the
// buffer and returns 0 or an error number. Overloading picks the right reading.
[[maybe_unused]] std::string strerrorResult(const char *text, const char * /*buffer*/) {
  return text != nullptr ? std::string(text) : std::string();
}

[[maybe_unused]] std::string strerrorResult(int rc, const char *buffer) {
  return rc == 0 ? std::string(buffer) : std::string();
}

} // namespace

std::string ErrnoText(int err) {
  char buffer[256] = {};
  std::string text = strerrorResult(strerror_r(err, buffer, sizeof buffer), buffer);
  if (text.empty())
    text = "Unknown error " + std::to_string(err);
  return text;
}

std::string SocketErrorMessage(int err, std::string_view function) {
  std::string message = "Error " + std::to_string(err) + " in function ";
  message += function;
  message += '\n';
  message += ErrnoText(err);
  return message;
}

void ThrowSocketError(int err, std::string_view function) {
  throw ECaptureError(SocketErrorMessage(err, function));
}
