#include "qt/delivery.h"

#include "qt/logging.h"

namespace qelo::platform::qt {

void Delivery::run(const std::function<void()>& handler) const {
    if (!handler) return;
    try {
        handler();
    } catch (...) {
        if (reporter_) {
            reporter_(std::current_exception());
        } else {
            try {
                throw;
            } catch (const std::exception& e) {
                qCWarning(lcFailure, "unreported failure: %s", e.what());
            } catch (...) {
                qCWarning(lcFailure, "unreported failure");
            }
        }
    }
}

}  // namespace qelo::platform::qt
