// What `cmake --install` puts on a system, checked the way a desktop uses it:
// the menu entries start installed programs and show an installed icon, the
// metadata names what is there, and the validators of both formats agree.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <memory>
#include <string>

namespace qelo::test {
namespace {

struct Outcome {
    int status = -1;
    QString output;
};

Outcome run(const QString& program, const QStringList& args, int ms = 120000) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    Outcome r;
    if (!p.waitForStarted(10000)) {
        r.output = p.errorString();
        return r;
    }
    if (!p.waitForFinished(ms)) {
        p.kill();
        p.waitForFinished();
        r.output = QString::fromLocal8Bit(p.readAll()) + "\n(timed out)";
        return r;
    }
    r.output = QString::fromLocal8Bit(p.readAll());
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return r;
}

// One installation per process, made on first use.
const QDir& prefix() {
    static std::unique_ptr<QTemporaryDir> dir;
    if (!dir) {
        dir = std::make_unique<QTemporaryDir>();
        const Outcome r = run(QStringLiteral(QELO_CMAKE), {"--install", QStringLiteral(QELO_BUILD_DIR), "--prefix", dir->path()});
        EXPECT_EQ(r.status, 0) << r.output.toStdString();
    }
    static const QDir root(dir->path());
    return root;
}

QString read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QString keyOf(const QString& desktopEntry, const char* key) {
    const QRegularExpression re(QStringLiteral("^%1=(.*)$").arg(QLatin1String(key)), QRegularExpression::MultilineOption);
    return re.match(desktopEntry).captured(1).trimmed();
}

const QStringList kEntries{"qelo-panel.desktop", "qelo-demo.desktop"};
const QString kMetainfo = QStringLiteral("share/metainfo/org.qelo.panel.metainfo.xml");

TEST(InstalledTree, MenuEntriesStartInstalledProgramsWithAnInstalledIcon) {
    const QDir& root = prefix();
    for (const char* program : {"qelo-panel", "qelo-demo", "qelo-projector-sim"})
        EXPECT_TRUE(QFileInfo(root.filePath(QStringLiteral("bin/") + program)).isExecutable()) << program;

    for (const QString& name : kEntries) {
        SCOPED_TRACE(name.toStdString());
        const QString entry = read(root.filePath("share/applications/" + name));
        ASSERT_FALSE(entry.isEmpty());
        const QString exec = keyOf(entry, "Exec").section(' ', 0, 0);
        EXPECT_TRUE(QFileInfo(root.filePath("bin/" + exec)).isExecutable()) << exec.toStdString();
        const QString icon = keyOf(entry, "Icon");
        EXPECT_TRUE(QFileInfo::exists(root.filePath("share/icons/hicolor/scalable/apps/" + icon + ".svg")));
    }

    // Every bitmap is the size its folder promises; a theme trusts the folder.
    int sizes = 0;
    for (const QString& folder : QDir(root.filePath("share/icons/hicolor")).entryList({"*x*"}, QDir::Dirs)) {
        const int n = folder.section('x', 0, 0).toInt();
        const QImage icon(root.filePath("share/icons/hicolor/" + folder + "/apps/qelo-panel.png"));
        EXPECT_EQ(icon.size(), QSize(n, n)) << folder.toStdString();
        ++sizes;
    }
    EXPECT_GE(sizes, 6);
}

TEST(InstalledTree, MetadataNamesWhatIsInstalled) {
    const QDir& root = prefix();
    const QString xml = read(root.filePath(kMetainfo));
    ASSERT_FALSE(xml.isEmpty());
    const QString launchable =
        QRegularExpression(QStringLiteral("<launchable type=\"desktop-id\">([^<]+)</launchable>")).match(xml).captured(1);
    EXPECT_TRUE(kEntries.contains(launchable)) << launchable.toStdString();
    auto binaries = QRegularExpression(QStringLiteral("<binary>([^<]+)</binary>")).globalMatch(xml);
    while (binaries.hasNext()) {
        const QString b = binaries.next().captured(1);
        EXPECT_TRUE(QFileInfo(root.filePath("bin/" + b)).isExecutable()) << b.toStdString();
    }
    EXPECT_TRUE(xml.contains(QStringLiteral("<release version=\"%1\"").arg(QStringLiteral(QELO_VERSION))));
}

// The demo looks for the simulator beside itself: that must hold installed.
TEST(InstalledTree, DemoFindsTheInstalledSimulator) {
    const Outcome r = run(prefix().filePath("bin/qelo-demo"), {"--help"}, 30000);
    EXPECT_EQ(r.status, 0) << r.output.toStdString();
    EXPECT_TRUE(r.output.contains("--reply-delay")) << r.output.toStdString();
}

TEST(InstalledTree, DesktopEntriesValidate) {
    const QString tool = QStandardPaths::findExecutable("desktop-file-validate");
    if (tool.isEmpty()) GTEST_SKIP() << "desktop-file-validate is not installed (package desktop-file-utils)";
    for (const QString& name : kEntries) {
        const Outcome r = run(tool, {prefix().filePath("share/applications/" + name)});
        EXPECT_EQ(r.status, 0) << name.toStdString() << "\n" << r.output.toStdString();
        EXPECT_TRUE(r.output.trimmed().isEmpty()) << r.output.toStdString();
    }
}

TEST(InstalledTree, AppStreamMetadataValidates) {
    const QString tool = QStandardPaths::findExecutable("appstreamcli");
    if (tool.isEmpty()) GTEST_SKIP() << "appstreamcli is not installed (package appstream)";
    const Outcome file = run(tool, {"validate", "--no-net", "--pedantic", prefix().filePath(kMetainfo)});
    EXPECT_EQ(file.status, 0) << file.output.toStdString();
    // The tree as a whole: the launchable entry and its icon are found.
    const Outcome tree = run(tool, {"validate-tree", "--no-net", prefix().path()});
    EXPECT_EQ(tree.status, 0) << tree.output.toStdString();
}

}  // namespace
}  // namespace qelo::test
