// Runs a function when the scope ends unless dismissed: the undo of a step that may fail later.
#pragma once

#include <utility>

namespace ui {

template <typename F>
class ScopeExit {
public:
    explicit ScopeExit(F undo) : undo_(std::move(undo)) {}
    ~ScopeExit() {
        if (armed_)
            undo_();
    }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    void dismiss() { armed_ = false; }

private:
    F undo_;
    bool armed_ = true;
};

} // namespace ui
