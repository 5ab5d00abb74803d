#pragma once
// The command lines of the benchmark programs, on the programs' shared
// helper. An unknown option, a missing value or a bad number ends the program
// with a message and status 1, so a typo in a long run fails at once instead
// of measuring the defaults.

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "qt/command_line.h"

namespace qelo::bench {

class CommandLine {
public:
    explicit CommandLine(std::string description) : description_(std::move(description)) {}
    // One row per option: name, the name of its value (none for a switch),
    // what it does. Given twice, the last value counts.
    void options(std::vector<cmdline::Row> table) {
        rows_ = std::move(table);
        rows_.push_back(cmdline::helpRow("Print this help."));
    }

    // Parses, or answers --help (status 0) or rejects the line (status 1).
    void parse(const QStringList& arguments) {
        std::vector<std::string> args;
        for (qsizetype i = 1; i < arguments.size(); ++i) args.push_back(arguments[i].toStdString());
        auto result = cmdline::parse(rows_, args);
        if (!result.parsed) fail(result.error);
        parsed_ = std::move(*result.parsed);
        if (parsed_.isSet("help")) {
            std::fputs(help().c_str(), stdout);
            std::exit(0);
        }
        if (!parsed_.words().empty()) fail("unexpected argument \"" + parsed_.words().front() + "\"");
    }

    bool isSet(const char* name) const { return parsed_.isSet(name); }
    QString text(const char* name, const QString& fallback = {}) const {
        const auto v = parsed_.value(name);
        return v ? QString::fromStdString(*v) : fallback;
    }
    QStringList texts(const char* name) const {
        QStringList all;
        for (const auto& v : parsed_.values(name)) all << QString::fromStdString(v);
        return all;
    }
    double number(const char* name, double fallback, double least = 0) const {
        double n = fallback;
        if (isSet(name) && (!cmdline::decimalNumber(*parsed_.value(name), n) || n < least))
            fail(refusal(name, "", least));
        return n;
    }
    int whole(const char* name, int fallback, int least = 0) const {
        long long n = fallback;
        if (isSet(name) && !cmdline::wholeNumber(*parsed_.value(name), n, least, INT32_MAX))
            fail(refusal(name, "whole ", least));
        return static_cast<int>(n);
    }

    [[noreturn]] void fail(const std::string& why) const {
        std::fprintf(stderr, "%s: %s\n\n%s", qPrintable(QCoreApplication::applicationName()), why.c_str(),
                     help().c_str());
        std::exit(1);
    }

private:
    std::string help() const {
        return "Usage: " + QCoreApplication::applicationName().toStdString() + " [options]\n\n" + description_ +
               "\n\nOptions:\n" + cmdline::optionsHelp(rows_);
    }
    std::string refusal(const char* name, const char* kind, double least) const {
        return "--" + std::string(name) + " takes a " + kind + "number of at least " +
               QString::number(least).toStdString() + ", not \"" + *parsed_.value(name) + "\"";
    }

    std::string description_;
    std::vector<cmdline::Row> rows_;
    cmdline::Parsed parsed_;
};

}  // namespace qelo::bench
