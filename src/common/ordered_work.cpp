#include "common/ordered_work.h"

#include <system_error>
#include <utility>

#include "common/platform.h"

namespace lexaro {

ordered_work::ordered_work(unsigned jobs, work_function work)
    : work_(std::move(work)), max_threads_(threads_available && jobs > 1 ? jobs : 0) {
    slots_.resize(max_threads_ == 0 ? 1 : max_threads_ + 1);
    for (std::size_t slot = slots_.size(); slot-- > 0;) free_.push_back(slot);
}

ordered_work::~ordered_work() { stop(false); }

std::optional<std::size_t> ordered_work::free_slot() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (free_.empty()) return std::nullopt;
    const std::size_t slot = free_.back();
    free_.pop_back();
    return slot;
}

void ordered_work::start(std::size_t slot) {
    std::unique_lock<std::mutex> lock(mutex_);
    slots_[slot] = slot_state{};
    started_.push_back(slot);
    if (max_threads_ == 0) {
        lock.unlock();
        run_here(slot);
        return;
    }
    queue_.push_back(slot);
    if (queue_.size() > waiting_threads_ && threads_.size() < max_threads_) {
        try {
            threads_.emplace_back(&ordered_work::worker, this);
        } catch (const std::system_error&) {
            // The threads there are do the work; without any, this one does.
            max_threads_ = static_cast<unsigned>(threads_.size());
            if (max_threads_ == 0) {
                queue_.pop_back();
                lock.unlock();
                run_here(slot);
                return;
            }
        }
    }
    queued_.notify_one();
}

void ordered_work::run_here(std::size_t slot) {
    std::exception_ptr error;
    try {
        work_(slot);
    } catch (...) {
        error = std::current_exception();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    slots_[slot].done = true;
    slots_[slot].error = error;
}

std::optional<std::size_t> ordered_work::take(bool wait) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (started_.empty()) return std::nullopt;
    const std::size_t slot = started_.front();
    if (!slots_[slot].done && threads_.empty()) {
        // Dropped when the threads ended: done now, here.
        lock.unlock();
        run_here(slot);
        lock.lock();
    }
    if (!slots_[slot].done) {
        if (!wait) return std::nullopt;
        done_.wait(lock, [&] { return slots_[slot].done; });
    }
    started_.pop_front();
    if (slots_[slot].error) {
        free_.push_back(slot);
        std::rethrow_exception(std::exchange(slots_[slot].error, nullptr));
    }
    return slot;
}

void ordered_work::release(std::size_t slot) {
    std::lock_guard<std::mutex> lock(mutex_);
    free_.push_back(slot);
}

void ordered_work::stop(bool finish_started) {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (finish_started)
            done_.wait(lock, [&] {
                for (std::size_t slot : started_)
                    if (!slots_[slot].done) return false;
                return true;
            });
        queue_.clear();
        stopping_ = true;
        max_threads_ = 0;
    }
    queued_.notify_all();
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
}

void ordered_work::worker() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        ++waiting_threads_;
        queued_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        --waiting_threads_;
        if (stopping_) return;
        const std::size_t slot = queue_.front();
        queue_.pop_front();
        lock.unlock();
        std::exception_ptr error;
        try {
            work_(slot);
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        slots_[slot].done = true;
        slots_[slot].error = error;
        done_.notify_all();
    }
}

}  // namespace lexaro
