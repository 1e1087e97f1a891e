// SPDX-License-Identifier: MIT
// A role process's end of its channel to the driver. Lines to the driver go to a private copy of the
// standard output that the driver reads; standard output itself, where the library writes its log
// lines, is sent to a log file or /dev/null. Commands come on standard input, one a line:
//   go    start the role's work (the go handler)
//   mark  answered at once with "cpu <process CPU us> <monotonic ns>"
//   stop  end the role (the stop handler); end of input counts as stop
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class ChildControl
{
public:
    // `logPath` empty sends the library's lines to /dev/null.
    explicit ChildControl(const std::string& logPath);
    // Waits for the reader, which ends once stop (or the end of input) has come.
    ~ChildControl();

    ChildControl(const ChildControl&) = delete;
    ChildControl& operator=(const ChildControl&) = delete;

    // Set both before start(); they run on the command reader thread.
    void onGo(std::function<void()> handler) { m_onGo = std::move(handler); }
    void onStop(std::function<void()> handler) { m_onStop = std::move(handler); }
    // Starts reading commands and tells the driver "ready".
    void start();

    // One line to the driver; safe from any thread.
    void send(const std::string& line);
    bool stopRequested() const { return m_stopRequested; }
    // Blocks until go (true) or stop (false) has arrived.
    bool waitForGo();
    void waitForStop() const;

private:
    void readCommands();
    void handle(const std::string& command);

    int m_driverFd = -1;
    std::function<void()> m_onGo;    // set before start, then only called by the reader thread
    std::function<void()> m_onStop;  // set before start, then only called by the reader thread
    std::mutex m_sendMutex;          // one line written at a time, from any thread
    std::atomic<bool> m_goReceived{false};     // written by the reader thread, read by the role's threads
    std::atomic<bool> m_stopRequested{false};  // written by the reader thread, read by the role's threads
    std::thread m_reader;
};
