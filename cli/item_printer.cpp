#include "cli/item_printer.h"

#include <unistd.h>

#include <cerrno>

namespace {

constexpr size_t kBufferBytes = size_t(1) << 20;

} // namespace

TItemPrinter::TItemPrinter(int fd, bool styled) : fd_(fd), styled_(styled) {
  buffer_.reserve(kBufferBytes + 4096);
}

TItemPrinter::~TItemPrinter() {
  Finish();
}

void TItemPrinter::Print(std::string_view item) {
  const TTextAttributes before = attributes_;
  if (!ApplyItem(item, attributes_)) {
    if (styled_ && !(attributes_ == before))
      writeStyle();
    return;
  }
  ForEachItemLine(item, [this](std::string_view line) {
    buffer_.append(line);
    buffer_.push_back('\n');
  });
  if (buffer_.size() >= kBufferBytes)
    flushBuffer();
}

void TItemPrinter::writeStyle() {
  // Styles are only ever added, so the sequence is rebuilt from the whole
  // state. Black, the view's default colour, stays the terminal's own
  // foreground so text remains readable on a dark terminal.
  std::string sequence = "\x1b[0";
  if (attributes_.Bold)
    sequence += ";1";
  if (attributes_.Italic)
    sequence += ";3";
  if (attributes_.Underline)
    sequence += ";4";
  if (attributes_.Colour != 0) {
    const uint32_t colour = attributes_.Colour;
    sequence += ";38;2;" + std::to_string(colour & 0xFF) + ";" +
                std::to_string((colour >> 8) & 0xFF) + ";" + std::to_string((colour >> 16) & 0xFF);
  }
  sequence += 'm';
  buffer_ += sequence;
  styleShown_ = true;
}

void TItemPrinter::flushBuffer() {
  size_t done = 0;
  while (!failed_ && done < buffer_.size()) {
    const ssize_t n = write(fd_, buffer_.data() + done, buffer_.size() - done);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      failed_ = true;
      break;
    }
    done += size_t(n);
  }
  buffer_.clear();
}

bool TItemPrinter::Finish() {
  if (styled_ && styleShown_) {
    buffer_ += "\x1b[0m";
    styleShown_ = false;
  }
  flushBuffer();
  return !failed_;
}
