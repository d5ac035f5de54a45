// Dialogs worked as a user works them, from a timer that their modal loops dispatch.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "Win32Text.h"

// The visible dialog of this thread with `caption`, if any.
HWND FindDialog(const std::wstring& caption) {
    struct Search {
        const std::wstring& caption;
        HWND found = nullptr;
    } search{caption};
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM out) {
            auto& search = *reinterpret_cast<Search*>(out);
            wchar_t name[16] = {};
            GetClassNameW(window, name, 16);
            if (std::wstring(name) == L"#32770" && IsWindowVisible(window) &&
                WindowWide(window) == search.caption)
                search.found = window;
            return search.found ? FALSE : TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// What a user does in each dialog as it appears, in order, from a timer that the modal
// loops and the wait for the host dispatch.
class DialogSteps {
  public:
    using Step = std::function<void(HWND)>;
    explicit DialogSteps(std::vector<std::pair<std::wstring, Step>> steps)
        : steps_(steps.begin(), steps.end()) {
        current = this;
        timer_ = SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR, DWORD) { current->Look(); });
    }
    ~DialogSteps() {
        KillTimer(nullptr, timer_);
        current = nullptr;
    }
    bool Done() const { return steps_.empty(); }
    int ticks = 0; // how often the window's thread ran the timer meanwhile

  private:
    void Look() {
        ++ticks;
        if (steps_.empty())
            return;
        if (HWND dialog = FindDialog(steps_.front().first)) {
            const Step step = std::move(steps_.front().second);
            steps_.pop_front(); // a step may wait in a loop that calls back here
            step(dialog);
        }
    }
    static inline DialogSteps* current = nullptr;
    std::deque<std::pair<std::wstring, Step>> steps_;
    UINT_PTR timer_ = 0;
};

void Click(HWND dialog, int id) {
    SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}
