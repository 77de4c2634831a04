// Message boxes shown from two threads at once: both carry the program's
// name as caption, also while the name is being filled in.
#include "framework/MessageBox.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(MessageBoxTest, BoxesFromTwoThreadsCarryTheProgramsNameWhileItIsFilled) {
    std::mutex mutex;
    std::vector<std::string> captions;
    const MessageBoxHandler previous =
        SetMessageBoxHandler([&](HWND, const char*, const char* pszCaption, UINT) {
            std::lock_guard<std::mutex> lock(mutex);
            captions.emplace_back(pszCaption ? pszCaption : "");
            return IDOK;
        });
    const std::string expected = AfxGetAppName();
    ASSERT_FALSE(expected.empty());

    // The name is forgotten again and again while two threads show boxes,
    // so every box may be the one that fills it.
    std::atomic<bool> done{false};
    std::thread forget([&] {
        while (!done)
            AfxSetAppName("");
    });
    auto show = [&] {
        for (int i = 0; i < 3000; ++i)
            ShowMessageBox(nullptr, "Print Job Failed", MB_OK);
    };
    std::thread a(show), b(show);
    a.join();
    b.join();
    done = true;
    forget.join();
    SetMessageBoxHandler(previous);
    AfxSetAppName("");
    ASSERT_EQ(captions.size(), 6000u);
    int wrong = 0;
    for (const std::string& c : captions)
        wrong += c == expected ? 0 : 1;
    EXPECT_EQ(wrong, 0);
}

} // namespace
