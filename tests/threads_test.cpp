// The work done on several threads and taken back in order, and the number
// of processors that sets how many threads there are.
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "common/ordered_work.h"
#include "common/platform.h"

#ifdef __linux__
#include <sched.h>
#include <unistd.h>
#endif

namespace lexaro {
namespace {

// Pieces that take their time in an order of their own: each writes its
// number into its slot, and the thread that did it.
struct numbered_pieces {
    explicit numbered_pieces(unsigned jobs)
        : work(jobs, [this](std::size_t slot) {
              std::this_thread::sleep_for(std::chrono::microseconds(300 * (piece[slot] * 7 % 5)));
              if (piece[slot] == throwing)
                  throw std::runtime_error("piece " + std::to_string(throwing));
              done[slot] = piece[slot];
              thread[slot] = std::this_thread::get_id();
          }) {
        piece.resize(work.slot_count());
        done.resize(work.slot_count());
        thread.resize(work.slot_count());
    }

    // Starts the next pieces in every free slot.
    void start_more(int count) {
        while (next < count) {
            const auto slot = work.free_slot();
            if (!slot) return;
            piece[*slot] = next++;
            work.start(*slot);
        }
    }

    int next = 0;
    int throwing = -1;
    std::vector<int> piece, done;
    std::vector<std::thread::id> thread;
    ordered_work work;
};

TEST(OrderedWorkJobs, PiecesComeBackInTheOrderStarted) {
    for (unsigned jobs : {1u, 2u, 3u, 8u}) {
        numbered_pieces p(jobs);
        EXPECT_EQ(p.work.slot_count(), jobs == 1 ? 1u : jobs + 1) << jobs;
        std::vector<int> taken;
        bool elsewhere = false;
        for (;;) {
            p.start_more(60);
            const auto slot = p.work.take(true);
            if (!slot) break;
            taken.push_back(p.done[*slot]);
            elsewhere = elsewhere || p.thread[*slot] != std::this_thread::get_id();
            p.work.release(*slot);
        }
        ASSERT_EQ(taken.size(), 60u) << jobs;
        for (int i = 0; i < 60; ++i) EXPECT_EQ(taken[i], i) << jobs;
        // One job works on the caller's thread, more on threads of their own.
        EXPECT_EQ(elsewhere, jobs > 1 && threads_available) << jobs;
    }
}

TEST(OrderedWorkJobs, WhatAPieceThrowsIsThrownInItsTurn) {
    for (unsigned jobs : {1u, 2u, 8u}) {
        numbered_pieces p(jobs);
        p.throwing = 3;
        int taken = 0;
        try {
            for (;;) {
                p.start_more(20);
                const auto slot = p.work.take(true);
                ASSERT_TRUE(slot.has_value());
                EXPECT_EQ(p.done[*slot], taken++);
                p.work.release(*slot);
            }
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "piece 3");
        }
        EXPECT_EQ(taken, 3) << jobs;
    }  // the pieces after it are dropped, the threads end
}

TEST(UsableProcessors, AreThoseOfTheAffinityMask) {
    EXPECT_GE(usable_processors(), 1u);
#ifdef __linux__
    // A run started under `taskset -c 0` may use one processor, whatever the machine has.
    EXPECT_EXIT(
        {
            cpu_set_t one;
            CPU_ZERO(&one);
            CPU_SET(0, &one);
            if (sched_setaffinity(0, sizeof one, &one) != 0) _exit(100);
            _exit(static_cast<int>(usable_processors()));
        },
        testing::ExitedWithCode(1), "");
#endif
}

}  // namespace
}  // namespace lexaro
