#pragma once
// The main window's menu bar: the application menu ("Close Window", "Quit
// Vorel") and "Edit" (Undo, Redo, Cut, Copy, Paste, Select All). The edit
// commands go to the focused widget, or the nearest of its parents, that
// has the command as a slot, as QLineEdit and QTextEdit do. Desktops with a
// global menu show the bar there; elsewhere it sits at the top of the window.

#include <QMenuBar>

class QAction;

namespace vorel {

class MainMenu : public QMenuBar {
    Q_OBJECT
public:
    // The menus for `window`, which "Close Window" closes.
    explicit MainMenu(QWidget* window);

    QAction* closeAction() const { return close_; }
    QAction* quitAction() const { return quit_; }
    // The edit commands, in menu order: undo, redo, cut, copy, paste, selectAll.
    const QList<QAction*>& editActions() const { return edit_; }

    // The widget an edit command `slot` ("copy", "selectAll", ...) goes to:
    // the focus widget or the nearest parent with that slot; null when none.
    static QObject* editTarget(const char* slot);
    // The widget the edit commands are for: the focus widget, or while a
    // menu opened from the keyboard holds the focus, the one that had it.
    static QWidget* editFocus();
    // Whether the command `slot` has something to act on now: a field to
    // undo in, a selection to cut or copy, text to paste or to select.
    static bool isAvailable(const char* slot);

protected:
    bool event(QEvent* e) override;

private:
    void applyColors();


    QMenu* appMenu_;
    QMenu* editMenu_;
    QAction* close_;
    QAction* quit_;
    QList<QAction*> edit_;
};

}  // namespace vorel
