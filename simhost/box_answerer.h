// The user in front of the add-in's message boxes, for tests and scripted runs: finds each box the
// process shows, notes its text and presses OK, as a person would, from a thread of its own (the
// box runs its modal loop on the thread that showed it).
#pragma once
#include <windows.h>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace simhost {

class MessageBoxAnswerer {
public:
    // `heard`, when given, is called with each box's text as it is answered (on the answering thread).
    // With a `title`, only boxes of that title are answered.
    explicit MessageBoxAnswerer(std::function<void(const std::wstring&)> heard = {}, const wchar_t* title = nullptr);
    ~MessageBoxAnswerer();
    MessageBoxAnswerer(const MessageBoxAnswerer&) = delete;
    MessageBoxAnswerer& operator=(const MessageBoxAnswerer&) = delete;
    int Answered() const { return answered_; }
    std::vector<std::wstring> Texts() const;

private:
    void Run();
    std::function<void(const std::wstring&)> heard_;
    std::wstring title_;
    std::atomic<bool> stop_{false};
    std::atomic<int> answered_{0};
    mutable std::mutex mutex_;
    std::vector<std::wstring> texts_;
    std::thread thread_;
};

}  // namespace simhost
