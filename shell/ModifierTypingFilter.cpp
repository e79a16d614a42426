#include "shell/ModifierTypingFilter.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace vorel {

namespace {

// The widgets that take typed characters as text. A spin box's or a date
// field's own line edit is one of them already.
bool takesText(const QObject* o) {
    if (qobject_cast<const QLineEdit*>(o) || qobject_cast<const QAbstractSpinBox*>(o)) return true;
    // A text view gets its keys through its viewport's parent.
    return qobject_cast<const QTextEdit*>(o) || qobject_cast<const QPlainTextEdit*>(o);
}

}  // namespace

bool ModifierTypingFilter::isModifiedTyping(const QObject* receiver, const QKeyEvent* e) {
    if (e->type() != QEvent::KeyPress || !takesText(receiver)) return false;
    if (!(e->modifiers() & (Qt::AltModifier | Qt::ControlModifier | Qt::MetaModifier))) return false;
    // The platform's editing keys (Ctrl+A, Ctrl+Z...) are commands, whatever
    // text the key event carries.
    for (int k = QKeySequence::HelpContents; k <= QKeySequence::Cancel; ++k) {
        if (e->matches(static_cast<QKeySequence::StandardKey>(k))) return false;
    }
    const QString text = e->text();
    for (QChar c : text) {
        if (c.isPrint()) return true;
    }
    return false;
}

void ModifierTypingFilter::install(QApplication& app) { app.installEventFilter(new ModifierTypingFilter(&app)); }

bool ModifierTypingFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && isModifiedTyping(watched, static_cast<QKeyEvent*>(event))) {
        // Not text, and no command of the field's: the key is dropped.
        return true;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace vorel
