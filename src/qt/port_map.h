#pragma once
// Which device a port number means. The panel speaks of COM1 and COM2; on
// anything but Windows those names mean nothing to the system, so the number
// is turned into a device path here. Programs that put the panel together
// may route numbers elsewhere (the demo and the tests use pseudo-terminals).

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace qelo::platform::qt {

using PortMap = std::function<std::string(int portNumber)>;

// Orders paths as a person would: "/dev/ttyUSB2" before "/dev/ttyUSB10".
bool naturalLess(const std::string& a, const std::string& b);

// The n-th (from 1) of the given devices in path order; /dev/ttyS{n-1} when
// there are fewer of them.
std::string deviceAmong(int n, std::vector<std::string> devices);

// COMn on Windows; elsewhere the n-th port the system reports.
std::string defaultDeviceFor(int n);
PortMap defaultPortMap();

// A device that is never there: the demo's and the tests' COM2, whose
// opening must fail.
inline constexpr const char* kMissingDevice = "/dev/qelo-no-such-port";

// Numbers found in routes go to their device, all others to fallback.
PortMap routedPortMap(std::map<int, std::string> routes, PortMap fallback = defaultPortMap());

}  // namespace qelo::platform::qt
