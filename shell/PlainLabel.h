#pragma once
// Labels that show their text as plain text, never as markup, so a name or
// a note with angle brackets or ampersands reads as typed.

#include <QFont>
#include <QString>

class QLabel;
class QWidget;

namespace vorel {

// A label showing `text` in `font`.
QLabel* plainLabel(const QString& text, const QFont& font, QWidget* parent = nullptr);
// The same, named `role` (its object name), by which its screen colours it
// and tests find it.
QLabel* plainLabel(const QString& text, const QString& role, const QFont& font);
// A named label that wraps its text and keeps it at the top leading corner.
// It takes its height from the width it gets, so it is never cut short (and
// never padded out) whatever the window's width.
QLabel* wrappingLabel(const QString& text, const QString& role, const QFont& font);

}  // namespace vorel
