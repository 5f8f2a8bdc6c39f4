#pragma once

#include <deque>
#include <functional>

namespace sarnika::presenters {

// The steps a view runs later (MainView::runLater), in the order they came, one per wake-up of
// the view's event loop. The view asks its loop for a wake-up with `wake`, once per step added,
// and answers each with runNext(); a loop that drops its wake-ups with the window drops the
// steps too.
class StepQueue {
public:
    explicit StepQueue(std::function<void()> wake) : m_wake(std::move(wake)) {}

    void add(std::function<void()> step);
    // Runs the oldest step, if there is one. A step may add steps; they run on later wake-ups.
    void runNext();

private:
    std::function<void()> m_wake;
    std::deque<std::function<void()>> m_steps;
};

} // namespace sarnika::presenters
