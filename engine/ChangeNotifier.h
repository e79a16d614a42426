#pragma once
// A list of callbacks to run when a shared object has changed. The engine
// knows nothing of the screens: the shell subscribes and turns each call
// into a signal of its own.

#include <functional>
#include <map>

namespace vorel {

class ChangeNotifier {
public:
    using Token = int;

    Token subscribe(std::function<void()> fn) {
        callbacks_.emplace(next_, std::move(fn));
        return next_++;
    }
    void unsubscribe(Token t) { callbacks_.erase(t); }

    // Runs every callback in subscription order. A callback may unsubscribe
    // itself or others; it must not be run after its removal.
    void notify() {
        for (auto it = callbacks_.begin(); it != callbacks_.end();) {
            Token t = it->first;
            auto fn = it->second;  // copied: the callback may remove itself
            fn();
            it = callbacks_.upper_bound(t);
        }
    }

private:
    std::map<Token, std::function<void()>> callbacks_;
    Token next_ = 1;
};

}  // namespace vorel
