#include "engine/trend.h"

#include <algorithm>

#include "engine/journal.h"
#include "engine/line_frames.h"
#include "protocol/commands.h"

namespace busdesk::engine {

namespace {

bool IsReaderPoll(const Bytes& frame) {
    return frame.size() == 4 && frame[0] == 0x31 && frame[2] == proto::kReaderData;
}

}  // namespace

TimeMs ToMs(std::chrono::system_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

void SampleRing::Push(const TrendSample& s) {
    if (capacity_ == 0) return;
    TrendSample v = s;
    // The wall clock may step back; the series must stay ordered for the searches.
    if (size_ > 0) v.time = std::max(v.time, (*this)[size_ - 1].time);
    if (buf_.size() < capacity_) {
        if (buf_.size() == buf_.capacity()) buf_.reserve(std::min(capacity_, buf_.size() * 2 + 64));
        buf_.push_back(v);
        ++size_;
        return;
    }
    buf_[head_] = v;
    head_ = (head_ + 1) % buf_.size();
}

std::size_t SampleRing::LowerBound(TimeMs t) const {
    std::size_t lo = 0;
    std::size_t hi = size_;
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if ((*this)[mid].time < t) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo;
}

std::optional<TrendSample> DeviceTrend::Latest() const {
    for (std::size_t i = samples.Size(); i > 0; --i) {
        if (!samples[i - 1].missed) return samples[i - 1];
    }
    return std::nullopt;
}

DeviceTrend& TrendStore::Series(std::uint8_t address) {
    auto it = devices_.find(address);
    if (it == devices_.end()) it = devices_.emplace(address, DeviceTrend(capacity_)).first;
    return it->second;
}

const DeviceTrend* TrendStore::Device(std::uint8_t address) const {
    const auto it = devices_.find(address);
    return it == devices_.end() ? nullptr : &it->second;
}

std::vector<std::uint8_t> TrendStore::Devices() const {
    std::vector<std::uint8_t> out;
    for (const auto& [a, d] : devices_) out.push_back(a);
    return out;
}

std::size_t TrendStore::MemoryBytes() const {
    std::size_t n = 0;
    for (const auto& [a, d] : devices_)
        n += d.samples.MemoryBytes() + d.marks.size() * sizeof(TrendMark);
    return n;
}

void TrendStore::Missed(TimeMs t) {
    if (!polled_) return;
    DeviceTrend& d = Series(*polled_);
    polled_.reset();
    // One entry stands for a whole silence: the readings around it bound the gap.
    if (d.samples.Size() > 0 && d.samples[d.samples.Size() - 1].missed) return;
    TrendSample s;
    s.time = t;
    s.missed = true;
    d.samples.Push(s);
    ++d.version;
    ++version_;
}

void TrendStore::Take(const BusEvent& e) {
    using Kind = BusEvent::Kind;
    const TimeMs t = ToMs(e.time);
    switch (e.kind) {
        case Kind::Tx: {
            // A poll written without a read since got no reading.
            Missed(t);
            const std::vector<busdesk::Bytes> frames = SplitRequests(e.bytes);
            // Only the first frame of a write is answered first.
            if (!frames.empty() && IsReaderPoll(frames.front())) polled_ = frames.front()[1];
            break;
        }
        case Kind::Rx: {
            const Decoded& h = e.heard;
            const bool reading = h.what == Decoded::What::Reading && h.crcGood;
            if (reading && h.reading.current) {
                TrendSample s;
                s.time = t;
                s.current = *h.reading.current;
                s.level = h.reading.level.value_or(0);
                s.temperature = static_cast<std::int8_t>(h.reading.temperature.value_or(0));
                DeviceTrend& d = Series(h.address);
                d.samples.Push(s);
                ++d.version;
                ++version_;
            }
            // A reading without a current is an answer all the same: the device
            // has no value to give, which is not a silence.
            if (polled_ && reading && h.address == *polled_) {
                polled_.reset();
            } else {
                Missed(t);
            }
            break;
        }
        case Kind::Silent:
            Missed(t);
            break;
        case Kind::WriteFailed:
        case Kind::Close:
        case Kind::Open:
        case Kind::Start:
            polled_.reset();
            break;
        case Kind::Command: {
            if (e.bytes.size() < 3 || IsSurveyRequest(e.bytes)) break;
            const CommandText c = DescribeCommand(e.bytes);
            DeviceTrend& d = Series(e.bytes[1]);
            d.marks.push_back({t, e.id, c.what, c.text, TrendMark::State::Waiting, {}});
            if (d.marks.size() > kMarksKept) {
                commands_.erase(d.marks.front().id);
                d.marks.pop_front();
            }
            commands_[e.id] = e.bytes[1];
            ++d.version;
            ++version_;
            break;
        }
        case Kind::Result: {
            const auto it = commands_.find(e.id);
            if (it == commands_.end()) break;
            DeviceTrend& d = Series(it->second);
            commands_.erase(it);
            for (auto m = d.marks.rbegin(); m != d.marks.rend(); ++m) {
                if (m->id != e.id) continue;
                m->state = e.ok ? TrendMark::State::Confirmed : TrendMark::State::Refused;
                m->reason = e.text;
                break;
            }
            ++d.version;
            ++version_;
            break;
        }
    }
}

std::string TrendCsv(const DeviceTrend& d, std::uint8_t address, TimeMs from, TimeMs to) {
    std::string out = "time,address,level,temperature,current\n";
    const std::string addr = std::to_string(address);
    for (std::size_t i = d.samples.LowerBound(from); i < d.samples.Size(); ++i) {
        const TrendSample& s = d.samples[i];
        if (s.time > to) break;
        if (s.missed) continue;
        const auto when = std::chrono::system_clock::time_point(std::chrono::milliseconds(s.time));
        out += IsoTime(when) + ',' + addr + ',' + std::to_string(s.level) + ',' +
               std::to_string(s.temperature) + ',' + std::to_string(s.current) + '\n';
    }
    return out;
}

}  // namespace busdesk::engine
