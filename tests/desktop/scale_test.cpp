// The panel at the scale factor this process was started with
// (QT_SCALE_FACTOR): proportions, line widths, drawing at the device's
// resolution, and screenshots of each window mode in screenshots/.
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QPushButton>

#include <cmath>
#include <string>

#include "link/protocol.h"
#include "panel/layout.h"
#include "panel_fixture.h"

namespace qelo::test {
namespace {

namespace layout = panel::layout;
using layout::kTwipsPerPixel;

double scale() {
    bool ok = false;
    const double s = qEnvironmentVariable("QT_SCALE_FACTOR").toDouble(&ok);
    return ok && s > 0 ? s : 1.0;
}

QString scaleTag() { return QString::number(scale()) + QLatin1Char('x'); }

bool isLineColour(QRgb p) {
    const QColor want = QColor::fromRgb(layout::kLineColour);
    return std::abs(qRed(p) - want.red()) < 12 && std::abs(qGreen(p) - want.green()) < 12 &&
           std::abs(qBlue(p) - want.blue()) < 12;
}

// How many device pixels of line colour lie in a row (or column) through p.
int lineRun(const QImage& image, QPoint logical, bool across) {
    const double s = scale();
    const QPoint at(qRound(logical.x() * s), qRound(logical.y() * s));
    const int reach = qCeil(6 * s);
    int run = 0, best = 0;
    for (int d = -reach; d <= reach; ++d) {
        const QPoint p = across ? QPoint(at.x() + d, at.y()) : QPoint(at.x(), at.y() + d);
        if (image.rect().contains(p) && isLineColour(image.pixel(p))) best = std::max(best, ++run);
        else run = 0;
    }
    return best;
}

class AtScale : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(panel.show()); }

    QImage shot() { return panel.window.grab().toImage().convertToFormat(QImage::Format_RGB32); }

    void save(const char* mode) {
        QDir().mkpath(QStringLiteral(QELO_SCREENSHOT_DIR));
        const QString path = QDir(QStringLiteral(QELO_SCREENSHOT_DIR)).filePath(QString::fromLatin1(mode) + "@" + scaleTag() + ".png");
        EXPECT_TRUE(panel.window.grab().save(path)) << path.toStdString();
    }

    DesktopPanel panel;
};

// Logical geometry is what the tables say whatever the factor, so the window
// keeps its proportions; the outer size the logic reads stays in twips.
TEST_F(AtScale, KeepsItsProportionsInTwips) {
    for (const layout::Control& c : layout::controls()) {
        QWidget* w = panel.widget(c.name);
        ASSERT_NE(w, nullptr) << c.name;
        SCOPED_TRACE(c.name);
        EXPECT_NEAR(w->x() * kTwipsPerPixel, c.left, kTwipsPerPixel);
        EXPECT_NEAR(w->y() * kTwipsPerPixel, c.top, kTwipsPerPixel);
        EXPECT_NEAR(w->width() * kTwipsPerPixel, c.width, kTwipsPerPixel);
        EXPECT_NEAR(w->height() * kTwipsPerPixel, c.height, kTwipsPerPixel);
    }
    EXPECT_EQ(panel.window.width(), layout::form().clientWidth / kTwipsPerPixel);
    EXPECT_DOUBLE_EQ(panel.window.heightTwips(), layout::kCompactHeight);
}

TEST_F(AtScale, LinesAreTwoLogicalPixelsWide) {
    const QImage image = shot();
    const int least = int(std::floor(layout::kLineWidthPixels * scale()));
    const int most = int(std::ceil(layout::kLineWidthPixels * scale())) + 1;
    for (const layout::Line& line : layout::lines()) {
        SCOPED_TRACE(line.name);
        const bool vertical = line.x1 == line.x2;
        const QPoint middle((line.x1 + line.x2) / 2 / kTwipsPerPixel, (line.y1 + line.y2) / 2 / kTwipsPerPixel);
        const int run = lineRun(image, middle, vertical);
        EXPECT_GE(run, least);
        EXPECT_LE(run, most);
    }
}

// A picture made for one pixel per logical pixel and stretched to the
// screen's comes out blurred: the logo must be made at the device resolution.
TEST_F(AtScale, LogoIsMadeAtTheDeviceResolution) {
    auto* logo = panel.widget<QLabel>(layout::image().name);
    ASSERT_NE(logo, nullptr);
    const QPixmap picture = logo->pixmap();
    ASSERT_FALSE(picture.isNull());
    EXPECT_DOUBLE_EQ(picture.devicePixelRatio(), panel.window.devicePixelRatioF());
    EXPECT_EQ(picture.deviceIndependentSize().toSize(), QSize(layout::image().pixelWidth, layout::image().pixelHeight));
}

TEST_F(AtScale, ScreenshotsOfEachWindowMode) {
    save("compact");
    QTest::keyClick(&panel.window, Qt::Key_H, Qt::ControlModifier);
    panel.widget<QPushButton>("Command44")->click();  // STATUS, answered
    panel.line.receive(std::string("00") + link::kCR);
    QApplication::processEvents();
    EXPECT_DOUBLE_EQ(panel.window.heightTwips(), layout::kShortcutHeight);
    save("expanded");
    panel.widget<QPushButton>("Command33")->click();  // the port panel
    QApplication::processEvents();
    save("port-panel");
}

}  // namespace
}  // namespace qelo::test
