#pragma once
// The command lines of the benchmark programs. An unknown option, a missing
// value or a bad number ends the program with a message and status 1, so a
// typo in a long run fails at once instead of measuring the defaults.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>

#include <cstdio>
#include <cstdlib>

namespace qelo::bench {

class CommandLine {
public:
    explicit CommandLine(const QString& description) {
        parser_.setApplicationDescription(description);
        parser_.addHelpOption();
    }
    // One row per option: name, what it does, and the name of its value
    // (none for a switch).
    void options(const QList<QCommandLineOption>& table) { parser_.addOptions(table); }

    // Parses, or answers --help (status 0) or rejects the line (status 1).
    void parse(const QStringList& arguments) {
        if (!parser_.parse(arguments)) fail(parser_.errorText());
        if (parser_.isSet("help")) {
            std::fputs(qPrintable(parser_.helpText()), stdout);
            std::exit(0);
        }
        if (!parser_.positionalArguments().isEmpty())
            fail("unexpected argument \"" + parser_.positionalArguments().first() + "\"");
    }

    bool isSet(const QString& name) const { return parser_.isSet(name); }
    // The first value given wins: a wrapper script puts its caller's options
    // in front of its own defaults.
    QString text(const QString& name, const QString& fallback = {}) const {
        const QStringList all = parser_.values(name);
        return all.isEmpty() ? fallback : all.first();
    }
    QStringList texts(const QString& name) const { return parser_.values(name); }
    double number(const QString& name, double fallback, double least = 0) const {
        return checked(name, fallback, least, false);
    }
    int whole(const QString& name, int fallback, int least = 0) const {
        return static_cast<int>(checked(name, fallback, least, true));
    }

    [[noreturn]] void fail(const QString& why) const {
        std::fprintf(stderr, "%s: %s\n\n%s", qPrintable(QCoreApplication::applicationName()), qPrintable(why),
                     qPrintable(parser_.helpText()));
        std::exit(1);
    }

private:
    double checked(const QString& name, double fallback, double least, bool whole) const {
        if (!isSet(name)) return fallback;
        bool ok = false;
        const double n = whole ? text(name).toInt(&ok) : text(name).toDouble(&ok);
        if (!ok || n < least)
            fail(QString("--%1 takes a %2number of at least %3, not \"%4\"")
                     .arg(name, whole ? "whole " : "", QString::number(least), text(name)));
        return n;
    }

    QCommandLineParser parser_;
};

}  // namespace qelo::bench
