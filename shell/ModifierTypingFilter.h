#pragma once
// Keeps every text field of the application from taking a letter typed with
// Alt or Ctrl held as text. On Linux, Alt+letter opens a menu by its
// mnemonic and Ctrl+letter is a command; a field that has the focus would
// otherwise insert the letter (Qt's fields accept Alt+letter as text), and a
// name field would save it. The platform's editing keys (Ctrl+A, Ctrl+V,
// Alt+Left...) are the fields' own commands and pass.

#include <QObject>

class QApplication;
class QKeyEvent;

namespace vorel {

class ModifierTypingFilter : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Whether `e`, delivered to `receiver`, would insert a character typed
    // with Alt, Ctrl or Meta held into a text field.
    static bool isModifiedTyping(const QObject* receiver, const QKeyEvent* e);

    // Filters every key press of `app` (the filter is a child of it).
    static void install(QApplication& app);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace vorel
