#include "packet/shared_bytes.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {
const uint8_t kEmpty[1] = {0};
}

SharedBytes::SharedBytes(std::span<const uint8_t> bytes) {
  if (bytes.empty())
    return;
  void *raw = std::malloc(offsetof(Block, bytes) + bytes.size() + 1);
  if (!raw)
    throw std::bad_alloc();
  block_ = static_cast<Block *>(raw);
  new (&block_->refs) std::atomic<long>(1);
  block_->size = bytes.size();
  std::memcpy(block_->bytes, bytes.data(), bytes.size());
  block_->bytes[bytes.size()] = 0;
}

SharedBytes::SharedBytes(const SharedBytes &other) noexcept : block_(other.block_) {
  if (block_)
    block_->refs.fetch_add(1, std::memory_order_relaxed);
}

SharedBytes::SharedBytes(SharedBytes &&other) noexcept : block_(other.block_) {
  other.block_ = nullptr;
}

SharedBytes &SharedBytes::operator=(const SharedBytes &other) noexcept {
  Block *incoming = other.block_; // read first: `other` may be this object
  if (incoming)
    incoming->refs.fetch_add(1, std::memory_order_relaxed);
  release();
  block_ = incoming;
  return *this;
}

SharedBytes &SharedBytes::operator=(SharedBytes &&other) noexcept {
  if (this != &other) {
    release();
    block_ = other.block_;
    other.block_ = nullptr;
  }
  return *this;
}

SharedBytes::~SharedBytes() {
  release();
}

const uint8_t *SharedBytes::data() const noexcept {
  return block_ ? block_->bytes : kEmpty;
}

long SharedBytes::useCount() const noexcept {
  return block_ ? block_->refs.load(std::memory_order_relaxed) : 0;
}

void SharedBytes::release() noexcept {
  if (block_ && block_->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    block_->refs.~atomic();
    std::free(block_);
  }
  block_ = nullptr;
}
