// Start-up of the panel exactly as its main() does it, with COM1 routed to
// the device given as the only argument, and two lines on standard output:
//   shown <CLOCK_MONOTONIC ns when the window's first paint was done>
//   rss <resident kB half a second later>
#include <QApplication>
#include <QEvent>
#include <QTimer>

#include <cstdio>
#include <string>

#include "app/panel_program.h"
#include "harness/far_end.h"
#include "harness/stats.h"

namespace {

class FirstPaint final : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && !seen_) {
            seen_ = true;
            // Stamped once the paint that is under way has been delivered.
            QTimer::singleShot(0, [] {
                std::printf("shown %lld\n", static_cast<long long>(qelo::bench::nowNs()));
                QTimer::singleShot(500, [] {
                    std::printf("rss %ld\n", qelo::bench::residentKb());
                    std::fflush(stdout);
                    QCoreApplication::quit();
                });
            });
        }
        return false;
    }

private:
    bool seen_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    using namespace qelo;
    if (argc < 2) {
        std::fprintf(stderr, "usage: qelo_startup_probe DEVICE\n");
        return 2;
    }
    const std::string device = argv[1];

    // qelo-panel's main(), with COM1 routed to the given device.
    app::PanelApplication application(argc, argv);
    app::PanelProgram panel(platform::qt::routedPortMap({{1, device}}));
    FirstPaint firstPaint;
    panel.window.installEventFilter(&firstPaint);
    panel.start();
    return application.run();
}
