#pragma once
// A conversation that waits for a line without holding a thread: a lazy
// coroutine that its caller awaits, or that its owner starts and is told
// the end of. Over a line that has its bytes at once (a script in a test) it
// runs to its end inside start().

#include <coroutine>
#include <exception>
#include <functional>
#include <optional>
#include <stdexcept>
#include <utility>

namespace qelo::ctl {

template <class T>
class Task;

namespace detail {

struct PromiseBase {
    std::coroutine_handle<> continuation;
    std::function<void()> onDone;  // a started task's owner
    std::exception_ptr error;

    std::suspend_always initial_suspend() noexcept { return {}; }
    struct Final {
        bool await_ready() noexcept { return false; }
        template <class P>
        std::coroutine_handle<> await_suspend(std::coroutine_handle<P> h) noexcept {
            PromiseBase& p = h.promise();
            if (p.continuation) return p.continuation;
            // The owner may destroy the task from here: nothing of it is touched after.
            if (p.onDone) std::exchange(p.onDone, nullptr)();
            return std::noop_coroutine();
        }
        void await_resume() noexcept {}
    };
    Final final_suspend() noexcept { return {}; }
    void unhandled_exception() { error = std::current_exception(); }
};

template <class T>
struct Promise : PromiseBase {
    std::optional<T> value;
    Task<T> get_return_object();
    void return_value(T v) { value = std::move(v); }
    T take() {
        if (error) std::rethrow_exception(error);
        return std::move(*value);
    }
};

template <>
struct Promise<void> : PromiseBase {
    Task<void> get_return_object();
    void return_void() {}
    void take() {
        if (error) std::rethrow_exception(error);
    }
};

}  // namespace detail

template <class T = void>
class [[nodiscard]] Task {
public:
    using promise_type = detail::Promise<T>;
    using Handle = std::coroutine_handle<promise_type>;

    Task() = default;
    explicit Task(Handle h) : h_(h) {}
    Task(Task&& o) noexcept : h_(std::exchange(o.h_, {})) {}
    Task& operator=(Task&& o) noexcept {
        if (this != &o) {
            reset();
            h_ = std::exchange(o.h_, {});
        }
        return *this;
    }
    ~Task() { reset(); }

    // Awaited from another task: runs, and resumes the awaiter at its end.
    bool await_ready() const noexcept { return false; }
    std::coroutine_handle<> await_suspend(std::coroutine_handle<> awaiter) noexcept {
        h_.promise().continuation = awaiter;
        return h_;
    }
    T await_resume() { return h_.promise().take(); }

    // Runs until the first wait; done, if given, runs at the end (which may
    // come before start returns).
    void start(std::function<void()> done = {}) {
        h_.promise().onDone = std::move(done);
        h_.resume();
    }
    bool valid() const { return static_cast<bool>(h_); }
    bool done() const { return h_ && h_.done(); }
    // The value, or the exception that ended it; only once done.
    T result() { return h_.promise().take(); }

private:
    void reset() {
        if (h_) h_.destroy();
        h_ = {};
    }
    Handle h_;
};

namespace detail {
template <class T>
Task<T> Promise<T>::get_return_object() {
    return Task<T>(std::coroutine_handle<Promise<T>>::from_promise(*this));
}
inline Task<void> Promise<void>::get_return_object() {
    return Task<void>(std::coroutine_handle<Promise<void>>::from_promise(*this));
}
}  // namespace detail

// A task that can only have ended by now: what a line answering at once gives.
template <class T>
T finished(Task<T> t) {
    t.start();
    if (!t.done()) throw std::logic_error("a task over a line that waits was taken as finished");
    return t.result();
}

}  // namespace qelo::ctl
