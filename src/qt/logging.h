#pragma once
// The programs' logging categories. Debug messages are off unless switched on,
// e.g. QT_LOGGING_RULES="qelo.*.debug=true"; warnings show as they always have.
#include <QLoggingCategory>

namespace qelo::platform::qt {

Q_DECLARE_LOGGING_CATEGORY(lcSerial)   // "qelo.serial": a port's opening, loss and closing
Q_DECLARE_LOGGING_CATEGORY(lcLink)     // "qelo.link": the bytes written and read
Q_DECLARE_LOGGING_CATEGORY(lcFailure)  // "qelo.failure": failures nobody took to report

}  // namespace qelo::platform::qt
