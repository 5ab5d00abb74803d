// The demo that cannot start says what failed and why, and ends.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <ostream>

namespace qelo::test {
namespace {

constexpr const char* kDemo = QELO_BUILD_DIR "/src/app/qelo-demo";

struct Case {
    const char* name;
    const char* tmpdir;  // under a scratch folder; nullptr keeps the test's own
    QStringList args;
    QStringList said;  // what the message must name, {scratch} for the folder
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class DemoStart : public ::testing::TestWithParam<Case> {};

TEST_P(DemoStart, SaysWhatFailedAndWhy) {
    const Case& c = GetParam();
    QTemporaryDir scratch;
    ASSERT_TRUE(scratch.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (c.tmpdir) {
        // A file where a folder should be: refused whoever runs the test.
        QFile file(scratch.filePath(c.tmpdir));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        env.insert("TMPDIR", file.fileName());
    }
    QProcess demo;
    demo.setProcessEnvironment(env);
    demo.start(kDemo, c.args);
    ASSERT_TRUE(demo.waitForFinished(20000)) << "still running";
    const QString err = QString::fromLocal8Bit(demo.readAllStandardError());
    EXPECT_EQ(demo.exitCode(), 1) << err.toStdString();
    for (QString part : c.said) {
        part.replace("{scratch}", scratch.path());
        EXPECT_TRUE(err.contains("qelo-demo: ") && err.contains(part)) << err.toStdString() << "\nlacks: " << part.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Failures, DemoStart,
    ::testing::Values(
        Case{"no_folder_for_the_cable", "file", {}, {"{scratch}/file", "Not a directory"}},
        Case{"simulator_refuses", nullptr, {"--no-such-option"}, {"did not start", "qelo-projector-sim", "no-such-option"}}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace qelo::test
