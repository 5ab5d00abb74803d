// qelo-ctl: the projector's functions from the command line, for scripts.

#include <QCoreApplication>
#include <cstdio>
#include <iostream>

#include "ctl/cli.h"
#include "ctl/qt_line.h"
#include "ctl/runner.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    using namespace qelo::ctl;
    const char* program = "qelo-ctl";
    const ParseResult parsed = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.options) {
        std::cerr << program << ": " << parsed.error << '\n' << usage(program) << "Try '" << program << " --help' for more.\n";
        return kBadUsage;
    }
    const Options& o = *parsed.options;
    if (o.help) {
        std::cout << helpText(program);
        return kDone;
    }
    if (o.list) {
        std::cout << listingText();
        return kDone;
    }

    QCoreApplication app(argc, argv);
    try {
        QtLine line(o.device, o.port, o.baud);
        Runner runner(line, std::cout, std::cerr);
        return runner.run(o);
    } catch (const qelo::platform::SerialError& e) {
        std::cerr << program << ": " << e.what() << '\n';
        return kPortFailed;
    }
}
