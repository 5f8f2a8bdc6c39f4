#include "presenters/StepQueue.h"

#include <utility>

namespace sarnika::presenters {

void StepQueue::add(std::function<void()> step) {
    m_steps.push_back(std::move(step));
    m_wake();
}

void StepQueue::runNext() {
    if (m_steps.empty()) {
        return;
    }
    // Out of the queue before it runs: the step may add others, or end the queue's owner.
    const std::function<void()> step = std::move(m_steps.front());
    m_steps.pop_front();
    step();
}

} // namespace sarnika::presenters
