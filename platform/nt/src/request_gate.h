// Admission of the daemon's calls into a running kernel: power-off closes the
// gate and waits for the calls inside to leave before it takes the machine
// apart.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace nt {

class RequestGate {
public:
    class Pass {
    public:
        Pass() = default;
        explicit Pass(RequestGate* gate) : gate_(gate) {}
        Pass(Pass&& other) noexcept : gate_(other.gate_) { other.gate_ = nullptr; }
        Pass(const Pass&) = delete;
        Pass& operator=(const Pass&) = delete;
        Pass& operator=(Pass&&) = delete;
        ~Pass() {
            if (gate_) gate_->leave();
        }
        explicit operator bool() const { return gate_ != nullptr; }

    private:
        RequestGate* gate_ = nullptr;
    };

    Pass enter() {
        std::lock_guard lock(mutex_);
        if (!open_) return Pass();
        ++inside_;
        return Pass(this);
    }
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
    }
    void close() {
        std::lock_guard lock(mutex_);
        open_ = false;
    }
    // False when calls are still inside after `limit`.
    bool waitEmpty(std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        return left_.wait_for(lock, limit, [this] { return inside_ == 0; });
    }

private:
    void leave() {
        std::lock_guard lock(mutex_);
        if (--inside_ == 0) left_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable left_;
    bool open_ = false;
    int inside_ = 0;
};

}  // namespace nt
