#pragma once

#include <QFont>
#include <QObject>
#include <QTextCharFormat>
#include <QTextObjectInterface>
#include <memory>

#include "zel/ui/ZELTokenFieldAttachment.h"

Q_DECLARE_METATYPE(std::shared_ptr<ZELTokenFieldAttachment>)

// Draws the tokens of a search field: each token is one U+FFFC character whose character
// format has the object type `objectType` and carries its ZELTokenFieldAttachment. A token is
// a rounded pill with its styled title and, when it has options, a small white triangle.
// Registered with (and owned by) the field's document layout; GUI thread only.
class ZELTokenObjectRenderer : public QObject, public QTextObjectInterface {
    Q_OBJECT
    Q_INTERFACES(QTextObjectInterface)

public:
    static constexpr int objectType = QTextFormat::UserObject + 1;
    static constexpr int attachmentProperty = QTextFormat::UserProperty + 1;

    explicit ZELTokenObjectRenderer(QObject* parent) : QObject(parent) {}

    static QTextCharFormat formatForAttachment(std::shared_ptr<ZELTokenFieldAttachment> attachment);
    // The attachment of a token's format; null for any other format.
    static std::shared_ptr<ZELTokenFieldAttachment> attachmentForFormat(const QTextFormat& format);
    // The font of a title style: the platform's label font for the terms, and for the
    // operators the named font (or fontconfig's substitute) at the size relative to the terms.
    static QFont fontForStyle(ZELStyledTitle::Style style);
    static qreal titleWidth(const ZELStyledTitle& title);

    QSizeF intrinsicSize(QTextDocument* document, int position, const QTextFormat& format) override;
    void drawObject(QPainter* painter, const QRectF& rect, QTextDocument* document, int position,
                    const QTextFormat& format) override;
};
