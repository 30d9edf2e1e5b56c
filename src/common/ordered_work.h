// Pieces of work done on worker threads and taken back in the order they
// were started. The blocks of a database are compressed, or inflated, each
// on its own, but written, or checked, one after the other; what a piece
// makes does not depend on the thread that made it.
//
// Each piece works in one of a fixed number of slots, which hold what it
// reads and what it makes (a block's two buffers). A slot is the caller's to
// fill until start(), the piece's until it is done, and the caller's again
// from take() until release(): memory stays bounded by the slots, however
// many pieces there are. With threads there is one slot more than threads,
// so that the caller fills or reads one while every thread works.
//
// With one job, or in a build without threads, start() does the piece at
// once on the caller's thread: the same path, in the same order.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace lexaro {

class ordered_work {
public:
    using work_function = std::function<void(std::size_t slot)>;

    // Up to `jobs` pieces at once. Threads are started as pieces wait for
    // one, up to `jobs` of them; a thread the system refuses is done
    // without, and with none the pieces are done on the caller's thread.
    ordered_work(unsigned jobs, work_function work);
    // Drops the pieces not begun, waits for those under way, ends the threads.
    ~ordered_work();
    ordered_work(const ordered_work&) = delete;
    ordered_work& operator=(const ordered_work&) = delete;

    std::size_t slot_count() const { return slots_.size(); }

    // A slot that is neither at work nor held by the caller; nothing when
    // there is none.
    std::optional<std::size_t> free_slot();

    // Hands the slot's piece over to a thread, or does it here.
    void start(std::size_t slot);

    // The slot of the oldest piece started and not taken back, once it is
    // done: waited for when `wait`, else nothing while it is under way.
    // Nothing when no piece is started. What the piece threw is thrown here.
    std::optional<std::size_t> take(bool wait);

    // Gives back a slot that take() gave.
    void release(std::size_t slot);

    // Ends the threads, after the pieces started when finish_started, else
    // after those under way only. From then on nothing runs beside the
    // caller: a piece not done is done when it is taken, and start() does
    // each piece at once.
    void stop(bool finish_started);

private:
    struct slot_state {
        bool done = false;
        std::exception_ptr error;
    };

    void run_here(std::size_t slot);
    void worker();

    work_function work_;
    std::vector<slot_state> slots_;
    std::vector<std::size_t> free_;    // the last one freed is taken first
    std::deque<std::size_t> started_;  // in the order started, until taken
    std::deque<std::size_t> queue_;    // started, waiting for a thread
    std::vector<std::thread> threads_;
    unsigned max_threads_;
    unsigned waiting_threads_ = 0;
    bool stopping_ = false;
    std::mutex mutex_;
    std::condition_variable queued_, done_;
};

}  // namespace lexaro
