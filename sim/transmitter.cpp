#include "sim/transmitter.h"

#include <algorithm>

namespace busdesk::sim {

void Transmitter::Schedule(Clock::time_point due, Bytes bytes, Clock::duration spacing) {
    if (bytes.empty()) return;
    Transmission t{due, order_++, std::move(bytes), std::max(spacing, Clock::duration::zero())};
    const auto later = std::upper_bound(
        queue_.begin(), queue_.end(), t, [](const Transmission& a, const Transmission& b) {
            return a.due < b.due || (a.due == b.due && a.order < b.order);
        });
    queue_.insert(later, std::move(t));
}

bool Transmitter::StartNext(Clock::time_point now) {
    if (queue_.empty()) return false;
    const Clock::time_point start = std::max(queue_.front().due, lineFree_);
    if (start > now) return false;
    current_ = Sending{std::move(queue_.front()), start, 0};
    queue_.pop_front();
    return true;
}

Bytes Transmitter::Take(Clock::time_point now) {
    Bytes out;
    while (current_ || StartNext(now)) {
        Sending& s = *current_;
        // Bytes whose time has passed go out together: a late wake-up catches up
        // rather than stretching the reply.
        while (s.sent < s.t.bytes.size() && s.ByteTime(s.sent) <= now) {
            out.push_back(s.t.bytes[s.sent++]);
        }
        if (s.sent < s.t.bytes.size()) break;
        lineFree_ = s.ByteTime(s.sent);
        current_.reset();
    }
    return out;
}

std::optional<Clock::time_point> Transmitter::NextDue() const {
    if (current_) return current_->ByteTime(current_->sent);
    if (queue_.empty()) return std::nullopt;
    return std::max(queue_.front().due, lineFree_);
}

void Transmitter::Clear() {
    queue_.clear();
    current_.reset();
}

}  // namespace busdesk::sim
