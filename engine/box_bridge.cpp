#include "engine/box_bridge.h"

#include <utility>

namespace busdesk::engine {

MsgResult ClosedResult(const BoxRequest& r) {
    return r.buttons == MsgButtons::YesNo ? MsgResult::No : MsgResult::Ok;
}

BoxBridge::BoxBridge(std::function<void()> beforeShow, Show show)
    : beforeShow_(std::move(beforeShow)), show_(std::move(show)) {}

BoxBridge::Reply BoxBridge::Ask(const BoxRequest& request) {
    std::uint64_t id = 0;
    {
        std::lock_guard lock(mutex_);
        ++shown_;
        if (cancelled_) return {};
        id = ++nextId_;
        waiting_[id] = Reply{};
    }
    if (beforeShow_) beforeShow_();
    show_(id, request);
    std::unique_lock lock(mutex_);
    answered_.wait(lock, [&] { return waiting_[id].answered || cancelled_; });
    Reply r = std::move(waiting_[id]);
    waiting_.erase(id);
    return r;
}

MsgResult BoxBridge::MsgBox(const std::string& text, MsgButtons buttons, MsgIcon icon,
                            const std::string& caption) {
    BoxRequest r;
    r.kind = BoxRequest::Kind::Message;
    r.text = text;
    r.buttons = buttons;
    r.icon = icon;
    r.caption = caption;
    const Reply reply = Ask(r);
    return reply.answered ? reply.result : ClosedResult(r);
}

std::string BoxBridge::InputBox(const std::string& prompt, const std::string& title,
                                const std::string& defaultText) {
    BoxRequest r;
    r.kind = BoxRequest::Kind::Input;
    r.text = prompt;
    r.caption = title;
    r.defaultText = defaultText;
    const Reply reply = Ask(r);
    return reply.answered ? reply.text : std::string();
}

void BoxBridge::Answer(std::uint64_t id, MsgResult result, const std::string& text) {
    {
        std::lock_guard lock(mutex_);
        const auto it = waiting_.find(id);
        if (it == waiting_.end() || it->second.answered) return;
        it->second.answered = true;
        it->second.result = result;
        it->second.text = text;
    }
    answered_.notify_all();
}

void BoxBridge::Cancel() {
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
    }
    answered_.notify_all();
}

bool BoxBridge::Cancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
}

unsigned BoxBridge::BoxesShown() const {
    std::lock_guard lock(mutex_);
    return shown_;
}

}  // namespace busdesk::engine
