#include "zel/ui/ZELTokenObjectRenderer.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include "zel/platform/ZELString.h"

namespace {

QString qString(const ZELString& text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

QColor colourForStyle(ZELStyledTitle::Style style) {
    const ZELStyledTitle::Colour colour = ZELStyledTitle::colour(style);
    return QColor::fromRgbF(static_cast<float>(colour.red), static_cast<float>(colour.green),
                            static_cast<float>(colour.blue), static_cast<float>(colour.alpha));
}

}  // namespace

QTextCharFormat ZELTokenObjectRenderer::formatForAttachment(
    std::shared_ptr<ZELTokenFieldAttachment> attachment) {
    QTextCharFormat format;
    format.setObjectType(objectType);
    format.setProperty(attachmentProperty, QVariant::fromValue(std::move(attachment)));
    return format;
}

std::shared_ptr<ZELTokenFieldAttachment> ZELTokenObjectRenderer::attachmentForFormat(
    const QTextFormat& format) {
    if (format.objectType() != objectType) return nullptr;
    return format.property(attachmentProperty).value<std::shared_ptr<ZELTokenFieldAttachment>>();
}

QFont ZELTokenObjectRenderer::fontForStyle(ZELStyledTitle::Style style) {
    // The title styles name sizes for a 13-point label font; the platform's label font keeps
    // its own size and the operators keep their proportion to it.
    const QFont label = QApplication::font("QLabel");
    const auto choices = ZELStyledTitle::fontChoices(style);
    const ZELStyledTitle::Font& first = choices.front();
    QFont font = first.family.empty() ? label : QFont(QString::fromStdString(first.family));
    font.setPointSizeF(label.pointSizeF() * first.pointSize / 13.0);
    return font;
}

qreal ZELTokenObjectRenderer::titleWidth(const ZELStyledTitle& title) {
    qreal width = 0;
    for (const auto& run : title.runs()) {
        width += QFontMetricsF(fontForStyle(run.style)).horizontalAdvance(qString(run.text));
    }
    return width;
}

QSizeF ZELTokenObjectRenderer::intrinsicSize(QTextDocument*, int, const QTextFormat& format) {
    const auto attachment = attachmentForFormat(format);
    if (!attachment) return {};
    const QFontMetricsF metrics(fontForStyle(ZELStyledTitle::Style::Term));
    return {attachment->widthForTitleWidth(titleWidth(attachment->title())), metrics.height() + 2};
}

void ZELTokenObjectRenderer::drawObject(QPainter* painter, const QRectF& rect, QTextDocument*,
                                        int, const QTextFormat& format) {
    const auto attachment = attachmentForFormat(format);
    if (!attachment) return;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QColor background = attachment->criteria() ? QColor(118, 118, 128) : QColor(170, 170, 178);
    QRectF pill = rect.adjusted(1, 1, -1, -1);
    if (attachment->isTransitory()) {
        // Open to the right: the token is still being typed.
        QColor shade = background;
        shade.setAlphaF(0.45f);
        painter->fillRect(QRectF(pill.right() - 10, pill.top(), 18, pill.height()), shade);
    }
    QPainterPath path;
    path.addRoundedRect(pill, pill.height() / 2, pill.height() / 2);
    painter->fillPath(path, background);

    qreal x = pill.left() + ZELTokenFieldAttachment::titlePadding / 2;
    const QFontMetricsF termMetrics(fontForStyle(ZELStyledTitle::Style::Term));
    const qreal baseline = pill.center().y() + (termMetrics.ascent() - termMetrics.descent()) / 2;
    for (const auto& run : attachment->title().runs()) {
        const QFont font = fontForStyle(run.style);
        painter->setFont(font);
        painter->setPen(colourForStyle(run.style));
        const QString text = qString(run.text);
        painter->drawText(QPointF(x, baseline), text);
        x += QFontMetricsF(font).horizontalAdvance(text);
    }
    if (attachment->hasContextualMenu()) {
        const qreal left = ZELTokenFieldAttachment::contextualMenuLeft(rect.right()) + 2;
        const qreal middle = pill.center().y() - 2;
        QPainterPath triangle;
        triangle.moveTo(left, middle - 1);
        triangle.lineTo(left + 6, middle - 1);
        triangle.lineTo(left + 3, middle + 4);
        triangle.closeSubpath();
        painter->fillPath(triangle, Qt::white);
    }
    painter->restore();
}
