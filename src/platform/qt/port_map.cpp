#include "platform/qt/port_map.h"

#include <QSerialPortInfo>
#include <algorithm>
#include <cctype>

namespace qelo::platform::qt {

namespace {

bool isDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

}  // namespace

bool naturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            // Compare the digit runs as numbers: skip leading zeros, then the
            // longer run is larger, then the first differing digit decides.
            std::size_t si = i, sj = j;
            while (si < a.size() && a[si] == '0') ++si;
            while (sj < b.size() && b[sj] == '0') ++sj;
            std::size_t ei = si, ej = sj;
            while (ei < a.size() && isDigit(a[ei])) ++ei;
            while (ej < b.size() && isDigit(b[ej])) ++ej;
            if (ei - si != ej - sj) return ei - si < ej - sj;
            for (std::size_t k = 0; k < ei - si; ++k)
                if (a[si + k] != b[sj + k]) return a[si + k] < b[sj + k];
            // Same value: fewer leading zeros first, so the order stays strict.
            if (ei - i != ej - j) return ei - i < ej - j;
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
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
