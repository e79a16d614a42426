#include "shell/MainMenu.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QMetaObject>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTextEdit>

#include "platform/Appearance.h"
#include "shell/Theme.h"

namespace vorel {

namespace {

struct EditCommand {
    const char* title;
    const char* slot;
    QKeySequence key;
};

}  // namespace

namespace {

bool isMenu(const QWidget* w) { return qobject_cast<const QMenuBar*>(w) || qobject_cast<const QMenu*>(w); }

// The last widget other than a menu to hold the focus.
QPointer<QWidget>& lastFocus() {
    static QPointer<QWidget> widget;
    return widget;
}

}  // namespace

namespace {

// A menu opened with Alt and its letter takes the focus from the field the
// user is in, and a field drops its selection when it loses the focus that
// way; the menu's Cut or Copy would then find nothing, and the field would
// come back without it. The selection (or the cursor) is kept here and given
// back when the focus returns from the menu bar, before the picked command
// runs.
class SelectionKeeper : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        auto* field = qobject_cast<QLineEdit*>(watched);
        if (!field || (type != QEvent::FocusOut && type != QEvent::FocusIn) ||
            static_cast<QFocusEvent*>(event)->reason() != Qt::MenuBarFocusReason)
            return QObject::eventFilter(watched, event);
        if (type == QEvent::FocusOut) {
            const int length = static_cast<int>(field->selectedText().size());
            held_ = {field, length ? field->selectionStart() : field->cursorPosition(), length,
                     field->cursorPosition()};
        } else if (held_.field == field) {
            const int end = held_.start + held_.length;
            if (end <= field->text().size()) {
                if (held_.length == 0) field->setCursorPosition(held_.cursor);
                // setSelection leaves the cursor at the end it moves to.
                else if (held_.cursor == held_.start) field->setSelection(end, -held_.length);
                else field->setSelection(held_.start, held_.length);
            }
            held_ = {};
        }
        return QObject::eventFilter(watched, event);
    }

private:
    // The field the menu bar took the focus from, its selection (or its
    // cursor, when the length is 0) and the end the cursor was at.
    struct Held {
        QPointer<QLineEdit> field;
        int start = 0;
        int length = 0;
        int cursor = 0;
    };
    Held held_;
};

}  // namespace

QWidget* MainMenu::editFocus() {
    // A menu opened from the keyboard (Alt and its letter) takes the focus
    // while it is open; its commands are for the widget that had it.
    QWidget* focus = QApplication::focusWidget();
    return focus && isMenu(focus) ? lastFocus().data() : focus;
}

QObject* MainMenu::editTarget(const char* slot) {
    const QByteArray signature = QByteArray(slot) + "()";
    for (QObject* o = editFocus(); o; o = o->parent()) {
        // A list that selects one row at most has nothing to select all of.
        auto* view = qobject_cast<QAbstractItemView*>(o);
        const bool single = view && view->selectionMode() != QAbstractItemView::MultiSelection &&
                            view->selectionMode() != QAbstractItemView::ExtendedSelection &&
                            view->selectionMode() != QAbstractItemView::ContiguousSelection;
        if (single && signature == "selectAll()") continue;
        if (o->metaObject()->indexOfSlot(signature.constData()) >= 0) return o;
        if (o->isWidgetType() && static_cast<QWidget*>(o)->isWindow()) break;
    }
    return nullptr;
}

namespace {

bool clipboardHasText() {
    const QMimeData* data = QApplication::clipboard()->mimeData();
    return data && data->hasText() && !data->text().isEmpty();
}

// What a text view (rich or plain) can do now.
template <typename View>
bool textViewCan(const View* v, const QByteArray& slot) {
    const bool writable = !v->isReadOnly();
    const bool selection = v->textCursor().hasSelection();
    if (slot == "undo") return writable && v->document()->isUndoAvailable();
    if (slot == "redo") return writable && v->document()->isRedoAvailable();
    if (slot == "cut") return writable && selection;
    if (slot == "copy") return selection;
    if (slot == "paste") return writable && v->canPaste();
    if (slot == "selectAll") return !v->document()->isEmpty();
    return true;
}

}  // namespace

bool MainMenu::isAvailable(const char* slot) {
    QObject* target = editTarget(slot);
    const QByteArray name(slot);
    if (!target) {
        // A list copies its current row by its own key.
        auto* view = qobject_cast<QAbstractItemView*>(editFocus());
        return view && name == "copy" && view->currentIndex().isValid();
    }
    if (auto* edit = qobject_cast<QLineEdit*>(target)) {
        const bool writable = !edit->isReadOnly();
        // A password's text is never cut or copied out of it.
        const bool selection = edit->hasSelectedText() && edit->echoMode() == QLineEdit::Normal;
        if (name == "undo") return writable && edit->isUndoAvailable();
        if (name == "redo") return writable && edit->isRedoAvailable();
        if (name == "cut") return writable && selection;
        if (name == "copy") return selection;
        if (name == "paste") return writable && clipboardHasText();
        if (name == "selectAll") return !edit->text().isEmpty();
    }
    if (auto* rich = qobject_cast<QTextEdit*>(target)) return textViewCan(rich, name);
    if (auto* plain = qobject_cast<QPlainTextEdit*>(target)) return textViewCan(plain, name);
    if (auto* view = qobject_cast<QAbstractItemView*>(target); view && name == "selectAll") {
        return view->model() && view->model()->rowCount(view->rootIndex()) > 0;
    }
    return true;
}

MainMenu::MainMenu(QWidget* window) : QMenuBar(window) {
    connect(qApp, &QApplication::focusChanged, this, [](QWidget*, QWidget* now) {
        if (now && !isMenu(now)) lastFocus() = now;
    });
    // Its own object: the bar adds itself to the application's filters and
    // takes itself off again as Alt is pressed and released.
    qApp->installEventFilter(new SelectionKeeper(this));
    // The application menu: the system would title it with the
    // application's name, so it is titled so here. Both menus open with
    // Alt and their first letter, as menus do on this desktop.
    appMenu_ = addMenu(QStringLiteral("&Vorel"));
    close_ = appMenu_->addAction(QStringLiteral("Close Window"));
    close_->setShortcuts(QKeySequence::Close);
    connect(close_, &QAction::triggered, window, &QWidget::close);
    appMenu_->addSeparator();
    quit_ = appMenu_->addAction(QStringLiteral("Quit Vorel"));
    quit_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit_->setMenuRole(QAction::QuitRole);
    // From every window of the application; the panel takes the key itself
    // while it is open.
    quit_->setShortcutContext(Qt::ApplicationShortcut);
    // The event loop ends at once; QApplication::quit() would first ask
    // every window to close, and the main window, which only hides when
    // closed, would cancel the quit. Nothing needs saving: every change is
    // already in the metadata file.
    connect(quit_, &QAction::triggered, qApp, [] { QCoreApplication::exit(0); });

    editMenu_ = addMenu(QStringLiteral("&Edit"));
    const EditCommand commands[] = {
        {"Undo", "undo", QKeySequence(Qt::CTRL | Qt::Key_Z)},
        {"Redo", "redo", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)},
        {nullptr, nullptr, {}},
        {"Cut", "cut", QKeySequence(Qt::CTRL | Qt::Key_X)},
        {"Copy", "copy", QKeySequence(Qt::CTRL | Qt::Key_C)},
        {"Paste", "paste", QKeySequence(Qt::CTRL | Qt::Key_V)},
        {"Select All", "selectAll", QKeySequence(Qt::CTRL | Qt::Key_A)},
    };
    for (const EditCommand& c : commands) {
        if (!c.title) {
            editMenu_->addSeparator();
            continue;
        }
        QAction* a = editMenu_->addAction(QString::fromLatin1(c.title));
        a->setShortcut(c.key);
        const QByteArray slot(c.slot);
        a->setData(slot);
        const QKeySequence key = c.key;
        connect(a, &QAction::triggered, this, [a, slot, key] {
            if (QObject* target = editTarget(slot.constData())) {
                QMetaObject::invokeMethod(target, slot.constData());
            } else if (QWidget* focus = editFocus()) {
                // A widget with no such slot gets the key itself, as it would
                // without the menu (a list copies its current row). The
                // command is off meanwhile, or the key would trigger it again.
                const QKeyCombination combination = key[0];
                QKeyEvent press(QEvent::KeyPress, combination.key(), combination.keyboardModifiers());
                QKeyEvent release(QEvent::KeyRelease, combination.key(), combination.keyboardModifiers());
                a->setEnabled(false);
                QApplication::sendEvent(focus, &press);
                QApplication::sendEvent(focus, &release);
                a->setEnabled(true);
            }
        });
        edit_.push_back(a);
    }
    // Open, the menu shows which commands have something to act on now.
    // Closed, every command stays enabled so that its key reaches whatever
    // has the focus when it is pressed.
    connect(editMenu_, &QMenu::aboutToShow, this, [this] {
        for (QAction* a : edit_) a->setEnabled(isAvailable(a->data().toByteArray().constData()));
    });
    connect(editMenu_, &QMenu::aboutToHide, this, [this] {
        for (QAction* a : edit_) a->setEnabled(true);
    });

    connect(&platform::Appearance::shared(), &platform::Appearance::changed, this, &MainMenu::applyColors);
    applyColors();
}

bool MainMenu::event(QEvent* e) {
    // A menu opened by its letter while the bar already holds the focus
    // (after Escape closed the first one) would take the bar itself for the
    // widget to go back to: leaving the menus would keep the focus here, and
    // typing and the menu's commands would find no field. The field gets the
    // focus back first, so the bar takes it from the field again.
    if (e->type() == QEvent::Shortcut && hasFocus()) {
        if (QWidget* back = lastFocus(); back && back->window() == window()) back->setFocus(Qt::MenuBarFocusReason);
    }
    return QMenuBar::event(e);
}

void MainMenu::applyColors() {
    const QFont font = BrandFont::sans(13);
    setFont(font);
    appMenu_->setFont(font);
    editMenu_->setFont(font);
    setStyleSheet(QStringLiteral(
        "QMenuBar { background: %1; color: %2; border: none; border-bottom: 1px solid %3; padding: 0 4px; }"
        "QMenuBar::item { background: transparent; padding: 4px 10px; border-radius: 5px; }"
        "QMenuBar::item:selected, QMenuBar::item:pressed { background: %3; }"
        "QMenu { background: %4; color: %2; border: 1px solid %3; border-radius: 6px; padding: 4px; }"
        "QMenu::item { padding: 4px 24px 4px 12px; border-radius: 4px; }"
        "QMenu::item:selected { background: %3; }"
        "QMenu::item:disabled { color: %5; }"
        "QMenu::separator { height: 1px; background: %3; margin: 4px 6px; }")
                      .arg(BrandColor::css(BrandColor::bgSubtle()), BrandColor::css(BrandColor::text()),
                           BrandColor::css(BrandColor::border()), BrandColor::css(BrandColor::bgElevated()),
                           BrandColor::css(BrandColor::textFaint())));
}

}  // namespace vorel
