// Long work that takes as long as a test wants.
#include "slow_work.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

SlowWork::SlowWork(THold hold)
{
    real_ = SetWorkRunner([this, hold](TLongWork kind, const AnsiString &caption, const std::function<void()> &work) {
        // Work started inside the held work runs at once: holding it too
        // would wait for the window, which waits for the held work.
        if (holding_) {
            real_(kind, caption, work);
            return;
        }
        real_(kind, caption, [&] {
            if (hold == THold::FinishingBeforeWork) BeginFinishing();
            if (hold != THold::AfterWork) Hold();
            work();
            if (hold == THold::AfterWork) Hold();
        });
    });
    QObject::connect(&poll_, &QTimer::timeout, [this] { RunStepsOnceHeld(); });
}

SlowWork::~SlowWork()
{
    released_ = true;
    SetWorkRunner(real_);
}

void SlowWork::WhileHeld(std::function<void()> steps)
{
    steps_ = std::move(steps);
    released_ = false;
    waited_ = 0;
    poll_.start(5);
}

void SlowWork::RunStepsOnceHeld()
{
    if (!holding_) {
        if ((waited_ += 5) > 10000) {
            poll_.stop();
            ADD_FAILURE() << "the work never started";
        }
        return;
    }
    poll_.stop();
    steps_();
    released_ = true;
}

void SlowWork::Hold()
{
    holding_ = true;
    try {
        while (!released_) {
            CheckCancelled();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        CheckCancelled();
    } catch (...) {
        holding_ = false;
        throw;
    }
    holding_ = false;
}
