#include "qt/setup.h"

#include <QApplication>
#include <QStyleFactory>

#include "panel/layout.h"

namespace qelo::platform::qt {

void setupLook(QApplication& app) {
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) app.setStyle(fusion);
    QFont::insertSubstitution(QString::fromUtf8(panel::layout::kGothic), QStringLiteral("IPAGothic"));
    QFont::insertSubstitution(QString::fromUtf8(panel::layout::kPGothic), QStringLiteral("IPAPGothic"));
}

QFont makeFont(const panel::layout::Font& design) {
    QFont font(QString::fromUtf8(design.family));
    font.setPointSizeF(design.points);
    font.setWeight(static_cast<QFont::Weight>(design.weight));
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

}  // namespace qelo::platform::qt
