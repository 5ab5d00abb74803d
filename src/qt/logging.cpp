#include "qt/logging.h"

namespace qelo::platform::qt {

Q_LOGGING_CATEGORY(lcSerial, "qelo.serial", QtWarningMsg)
Q_LOGGING_CATEGORY(lcLink, "qelo.link", QtWarningMsg)
Q_LOGGING_CATEGORY(lcFailure, "qelo.failure", QtWarningMsg)

}  // namespace qelo::platform::qt
