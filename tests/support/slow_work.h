// Long work that takes as long as a test wants, run by the window's real
// runner: the worker holds before or after the real work, giving way when
// cancelled, while the test's steps run in the window's wait.
#pragma once

#include "platform/base/work_progress.h"

#include <QTimer>

#include <atomic>
#include <functional>

class SlowWork {
public:
    enum class THold {
        BeforeWork,
        AfterWork,
        // Past the point of no return first (as a save about to replace its
        // file), then held, then the work.
        FinishingBeforeWork,
    };

    explicit SlowWork(THold hold);
    ~SlowWork();
    SlowWork(const SlowWork &) = delete;
    SlowWork &operator=(const SlowWork &) = delete;

    // The next hold runs steps from inside the window's wait; the hold ends
    // when they return.
    void WhileHeld(std::function<void()> steps);

private:
    void RunStepsOnceHeld();
    void Hold();

    TWorkRunner real_;
    QTimer poll_;
    std::function<void()> steps_;
    int waited_ = 0;
    std::atomic<bool> holding_{false};
    std::atomic<bool> released_{true};
};
