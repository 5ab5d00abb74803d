#pragma once
#include <exception>
#include <functional>

namespace qelo::platform::qt {

// Runs the handlers that Qt's event delivery calls. A failure must never
// unwind through Qt's own frames, so it is caught here and handed to the
// reporter; without one it is swallowed after a warning on stderr.
class Delivery {
public:
    using Reporter = std::function<void(std::exception_ptr)>;
    void setReporter(Reporter reporter) { reporter_ = std::move(reporter); }
    void run(const std::function<void()>& handler) const;

private:
    Reporter reporter_;
};

}  // namespace qelo::platform::qt
