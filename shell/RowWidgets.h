#pragma once
// The widgets of a list's rows, built only when a row is first needed (as
// it scrolls into view) and then kept, one per key, for as long as the row
// is listed. A refresh updates them in place rather than building them
// again, so a name being typed, the pointer's hover and the keyboard focus
// survive it.

#include <QApplication>
#include <QWidget>
#include <functional>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

namespace vorel {

// `State` is whatever the list keeps beside each widget (what it last
// showed, say); std::monostate when nothing.
template <typename Key, typename Row, typename State = std::monostate, typename Hash = std::hash<Key>>
class RowWidgets {
public:
    struct Slot {
        Row* widget = nullptr;
        State state{};
    };
    using Map = std::unordered_map<Key, Slot, Hash>;

    RowWidgets() = default;
    RowWidgets(const RowWidgets&) = delete;
    RowWidgets& operator=(const RowWidgets&) = delete;

    // The row's slot, or null when its widget has not been built.
    Slot* find(const Key& key) {
        auto it = slots_.find(key);
        return it == slots_.end() ? nullptr : &it->second;
    }
    const Slot* find(const Key& key) const {
        auto it = slots_.find(key);
        return it == slots_.end() ? nullptr : &it->second;
    }
    Row* widget(const Key& key) const {
        const Slot* s = find(key);
        return s ? s->widget : nullptr;
    }

    // The row's slot; its widget is built by `make()` when there is none,
    // and `made` then says so.
    template <typename Make>
    Slot& obtain(const Key& key, Make&& make, bool* made = nullptr) {
        auto it = slots_.find(key);
        const bool fresh = it == slots_.end();
        if (fresh) it = slots_.emplace(key, Slot{make(), State{}}).first;
        if (made) *made = fresh;
        return it->second;
    }

    // Lets go of the widget of every row that `listed(key)` no longer
    // holds, and returns them: they are hidden and deleted once control
    // returns to the event loop, as one of them may be sending the event
    // that caused this.
    template <typename Listed>
    std::vector<Row*> keepOnly(Listed&& listed) {
        std::vector<Row*> gone;
        for (auto it = slots_.begin(); it != slots_.end();) {
            if (listed(it->first)) {
                ++it;
                continue;
            }
            gone.push_back(it->second.widget);
            release(it->second.widget, false);
            it = slots_.erase(it);
        }
        return gone;
    }

    // Lets go of one row's widget. `now` deletes it at once: right for a
    // row far out of view, hidden and holding nothing, so that no event of
    // its own can be under way; it keeps a fast scroll through thousands
    // of rows from piling up deferred deletions.
    void drop(const Key& key, bool now) {
        auto it = slots_.find(key);
        if (it == slots_.end()) return;
        Row* w = it->second.widget;
        slots_.erase(it);
        release(w, now);
    }

    size_t size() const { return slots_.size(); }
    typename Map::iterator begin() { return slots_.begin(); }
    typename Map::iterator end() { return slots_.end(); }
    typename Map::const_iterator begin() const { return slots_.begin(); }
    typename Map::const_iterator end() const { return slots_.end(); }

private:
    // A name being typed in a row that goes ends without the focus jumping
    // into a neighbour's field.
    static void release(Row* w, bool now) {
        if (QWidget* f = QApplication::focusWidget(); f && w->isAncestorOf(f)) f->clearFocus();
        w->hide();
        if (now) delete w;
        else w->deleteLater();
    }

    Map slots_;
};

}  // namespace vorel
