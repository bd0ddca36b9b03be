#include "stream.h"

namespace tavio::serve {

void Stream::publish(const char *name, const std::string &data) {
  {
    std::lock_guard<std::mutex> lock(m_);
    const uint64_t id = ++last_id_;
    ring_.push_back({id, "id: " + std::to_string(id) + "\nevent: " + name + "\ndata: " + data + "\n\n"});
    while (ring_.size() > kCapacity) ring_.pop_front();
  }
  cv_.notify_all();
}

Stream::Read Stream::read(uint64_t &after, std::string &out, std::chrono::milliseconds wait, size_t max) {
  std::unique_lock<std::mutex> lock(m_);
  cv_.wait_for(lock, wait, [&] { return closed_ || last_id_ > after; });
  if (closed_) return Read::Closed;
  if (last_id_ - after > kBacklog) return Read::Behind;
  if (ring_.empty() || last_id_ == after) return Read::Ok;
  // ids in the ring are consecutive: the first one wanted is at after + 1.
  size_t i = size_t(after + 1 - ring_.front().id);
  for (size_t n = 0; i < ring_.size() && n < max; ++i, ++n) {
    out += ring_[i].text;
    after = ring_[i].id;
  }
  return Read::Ok;
}

uint64_t Stream::start(uint64_t last_seen) const {
  std::lock_guard<std::mutex> lock(m_);
  const uint64_t oldest = ring_.empty() ? last_id_ : ring_.front().id - 1;
  if (last_seen && last_seen >= oldest && last_seen <= last_id_ && last_id_ - last_seen <= kBacklog / 2)
    return last_seen;
  return last_id_;
}

void Stream::close() {
  {
    std::lock_guard<std::mutex> lock(m_);
    closed_ = true;
  }
  cv_.notify_all();
}

} // namespace tavio::serve
