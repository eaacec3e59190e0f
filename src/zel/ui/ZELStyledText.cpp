#include "zel/ui/ZELStyledText.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextImageFormat>

std::optional<ZELStyledText::DocumentType> ZELStyledText::documentTypeForUTI(const QString& uti) {
    if (uti == QLatin1String("public.rtf")) return DocumentType::RTF;
    if (uti == QLatin1String("public.rtfd")) return DocumentType::RTFWithAttachments;
    if (uti == QLatin1String("public.html")) return DocumentType::HTML;
    if (uti == QLatin1String("com.microsoft.word.doc")) return DocumentType::WordDocument;
    return std::nullopt;
}

std::unique_ptr<QTextDocument> ZELStyledText::documentWithString(const std::optional<QString>& text,
                                                                 const QTextCharFormat& format) {
    auto document = std::make_unique<QTextDocument>();
    appendString(*document, text.value_or(QString()), format);
    return document;
}

std::unique_ptr<QTextDocument> ZELStyledText::documentWithImage(const QImage& image) {
    auto document = std::make_unique<QTextDocument>();
    const QUrl name(QStringLiteral("zel-image://1"));
    document->addResource(QTextDocument::ImageResource, name, image);
    QTextImageFormat format;
    format.setName(name.toString());
    QTextCursor(document.get()).insertImage(format);
    return document;
}

std::optional<QUrl> ZELStyledText::linkURLAtIndex(const QTextDocument& document, int position,
                                                  std::pair<int, int>* outRange) {
    const QTextBlock block = document.findBlock(position);
    for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment) {
        const QTextFragment run = fragment.fragment();
        if (position < run.position() || position >= run.position() + run.length()) continue;
        const QTextCharFormat format = run.charFormat();
        if (!format.isAnchor() || format.anchorHref().isEmpty()) return std::nullopt;
        const QUrl url(format.anchorHref(), QUrl::StrictMode);
        if (!url.isValid()) return std::nullopt;
        if (outRange) *outRange = {run.position(), run.length()};
        return url;
    }
    return std::nullopt;
}

void ZELStyledText::appendString(QTextDocument& document, const QString& text,
                                 const QTextCharFormat& format) {
    if (text.isEmpty()) return;
    QTextCursor cursor(&document);
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text, format);
}

void ZELStyledText::appendStringAndExtendAttributes(QTextDocument& document, const QString& text) {
    QTextCursor cursor(&document);
    cursor.movePosition(QTextCursor::End);
    appendString(document, text, document.isEmpty() ? QTextCharFormat() : cursor.charFormat());
}
