#include "qt/port_map.h"

#include <QCollator>
#include <QSerialPortInfo>

#include <algorithm>

namespace qelo::platform::qt {

bool naturalLess(const std::string& a, const std::string& b) {
    // A fixed locale: the order of device paths must not depend on the
    // user's language (and the C locale would ignore the numeric mode).
    static const QCollator collator = [] {
        QCollator c{QLocale(QLocale::English, QLocale::UnitedStates)};
        c.setNumericMode(true);
        c.setCaseSensitivity(Qt::CaseSensitive);
        return c;
    }();
    if (const int order = collator.compare(QString::fromStdString(a), QString::fromStdString(b)); order != 0)
        return order < 0;
    // Equal as numbers ("ttyS1", "ttyS01"): the shorter first, so the order stays strict.
    return a.size() != b.size() ? a.size() < b.size() : a < b;
}

std::string deviceAmong(int n, std::vector<std::string> devices) {
    std::sort(devices.begin(), devices.end(), naturalLess);
    devices.erase(std::unique(devices.begin(), devices.end()), devices.end());
    if (n >= 1 && static_cast<std::size_t>(n) <= devices.size()) return devices[n - 1];
    return "/dev/ttyS" + std::to_string(n - 1);
}

std::string defaultDeviceFor(int n) {
#ifdef Q_OS_WIN
    return "COM" + std::to_string(n);
#else
    std::vector<std::string> devices;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        devices.push_back(info.systemLocation().toStdString());
    return deviceAmong(n, std::move(devices));
#endif
}

PortMap defaultPortMap() { return [](int n) { return defaultDeviceFor(n); }; }

PortMap routedPortMap(std::map<int, std::string> routes, PortMap fallback) {
    return [routes = std::move(routes), fallback = std::move(fallback)](int n) {
        if (auto it = routes.find(n); it != routes.end()) return it->second;
        return fallback ? fallback(n) : std::string();
    };
}

}  // namespace qelo::platform::qt
