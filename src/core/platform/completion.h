#pragma once

#include <functional>
#include <memory>
#include <tuple>
#include <utility>

namespace corvidale::platform {

// A completion handed out by the engine that must run exactly once. Copies
// share one state: the first call wins, later calls are ignored, and if every
// copy is dropped without a call the fallback answer is delivered, so a path
// that forgets to answer (or a window closed under a dialog) still answers.
template <class... Args>
class Completion {
public:
    Completion() = default;
    Completion(std::function<void(Args...)> fn, Args... fallback)
        : state_(std::make_shared<State>(std::move(fn), std::make_tuple(std::move(fallback)...))) {}

    void operator()(Args... args) const {
        if (!state_ || state_->done) return;
        state_->done = true;
        auto fn = std::move(state_->fn);
        if (fn) fn(std::move(args)...);
    }

private:
    struct State {
        State(std::function<void(Args...)> f, std::tuple<Args...> fb) : fn(std::move(f)), fallback(std::move(fb)) {}
        State(const State&) = delete;
        State& operator=(const State&) = delete;
        ~State() {
            if (!done && fn) {
                done = true;
                std::apply(fn, std::move(fallback));
            }
        }
        std::function<void(Args...)> fn;
        std::tuple<Args...> fallback;
        bool done = false;
    };
    std::shared_ptr<State> state_;
};

}  // namespace corvidale::platform
