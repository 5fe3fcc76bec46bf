#pragma once

#include "pipeline/data_view_items.h"

#include <string>
#include <string_view>

// Writes Data View items to a file descriptor as the view would show them:
// every line of a text item on a line of its own; tags change the terminal's
// bold, italic, underline and colour when `styled`, and write nothing
// otherwise. Output is buffered; Finish writes what is left.
class TItemPrinter {
public:
  TItemPrinter(int fd, bool styled);
  ~TItemPrinter();
  TItemPrinter(const TItemPrinter &) = delete;
  TItemPrinter &operator=(const TItemPrinter &) = delete;

  void Print(std::string_view item);
  // Writes the buffer and, when styled, resets the terminal's attributes.
  // False when the output could not be written (the reason in errno).
  bool Finish();
  bool Failed() const { return failed_; }

private:
  void writeStyle();
  void flushBuffer();

  int fd_;
  bool styled_;
  bool failed_ = false;
  bool styleShown_ = false;
  TTextAttributes attributes_;
  std::string buffer_;
};
