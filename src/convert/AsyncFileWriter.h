#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

// Writes to a FILE* on a thread of its own, in large blocks, so that copying data
// into the page cache overlaps with decoding. A failed write is remembered and
// reported by the next call.
class AsyncFileWriter {
  public:
    static constexpr size_t kBlockSize = 1 << 20;

    AsyncFileWriter() = default;
    ~AsyncFileWriter();
    AsyncFileWriter(const AsyncFileWriter&) = delete;
    AsyncFileWriter& operator=(const AsyncFileWriter&) = delete;

    // Starts writing to file (not owned). False when no thread could be started.
    bool Start(FILE* file);
    // Queues bytes; false when an earlier write failed.
    bool Write(const uint8_t* data, size_t count);
    // Moves past bytes that are already in the file, after what is queued.
    bool Skip(size_t count);
    // Writes everything queued and stops the thread; false when any write failed.
    // The file is then the caller's again.
    bool Finish();

  private:
    void Run();
    // Hands the block being filled to the thread, waiting while it is busy.
    void Submit();

    FILE* m_file = nullptr;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<uint8_t> m_filling;  // filled by the caller
    std::vector<uint8_t> m_writing;  // owned by the thread while m_bSubmitted
    // Bytes to move past after each block.
    size_t m_fillingSkip = 0;
    size_t m_writingSkip = 0;
    bool m_bSubmitted = false;
    bool m_bQuit = false;
    std::atomic<bool> m_bFailed = false;
};
