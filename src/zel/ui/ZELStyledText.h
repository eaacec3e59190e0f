#pragma once

#include <QImage>
#include <QString>
#include <QTextCharFormat>
#include <QUrl>
#include <memory>
#include <optional>
#include <utility>

class QTextDocument;

// Helpers on styled text (a QTextDocument whose runs carry QTextCharFormats): document types
// by type identifier, new documents, link targets and appending runs. Plain functions; a
// document may be used by one thread at a time.
class ZELStyledText {
public:
    ZELStyledText() = delete;

    enum class DocumentType { RTF, RTFWithAttachments, HTML, WordDocument };
    // "public.rtf", "public.rtfd", "public.html", "com.microsoft.word.doc"; none otherwise.
    static std::optional<DocumentType> documentTypeForUTI(const QString& uti);

    // A document holding `text` (empty when none) in exactly `format`.
    static std::unique_ptr<QTextDocument> documentWithString(const std::optional<QString>& text,
                                                             const QTextCharFormat& format);
    // A document holding the image as its one character.
    static std::unique_ptr<QTextDocument> documentWithImage(const QImage& image);

    // The link target of the character at `position`, read in strict mode: none when the
    // character has no link or its target is not a valid location. `outRange` receives the
    // run (start, length) carrying the link.
    static std::optional<QUrl> linkURLAtIndex(const QTextDocument& document, int position,
                                              std::pair<int, int>* outRange = nullptr);

    // Appends `text` with exactly `format`; an empty text appends nothing.
    static void appendString(QTextDocument& document, const QString& text,
                             const QTextCharFormat& format);
    // Appends `text` with the format of the last character (the default one when empty).
    static void appendStringAndExtendAttributes(QTextDocument& document, const QString& text);
};
