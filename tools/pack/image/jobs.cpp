// Entries prepared on several threads ahead of the writer. Each entry is an
// independent deflate stream, so the work divides by entry, the stub's
// decoder run on the stream included; the writer takes them in the
// archive's order and does everything that depends on where an entry lies
// (its header, a file larger than a piece streamed through and checked in
// the output), so the image does not depend on which thread made what, or
// when.
//
// A thread takes the next entry only while their content fits in jobs x
// kChunkSize bytes and fewer than kEntriesAThread x jobs are in flight; the
// next entry the writer needs is always let through, so the writer never
// waits on a limit. The bytes are what bound the memory; the count only
// bounds the records of empty files and folders. It is large: while one
// thread makes the stream of a file of some MB, which the writer waits for,
// the others go on with the hundreds of small files after it; a bound of a
// few dozen a thread left a thread idle behind each such file.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "image/image.h"

namespace pack {

constexpr size_t kEntriesAThread = 1024;

struct EntryPool::State {
    State(const std::vector<InputItem> &items, int level, unsigned jobs)
        : items(items), level(level), most(kEntriesAThread * jobs), mostBytes((uint64_t)jobs * kChunkSize) {}
    const std::vector<InputItem> &items;
    const int level;
    const size_t most;        // entries in flight
    const uint64_t mostBytes;  // their content

    std::mutex lock;
    std::condition_variable changed;  // an entry ready, one taken, or stopping
    size_t next = 0;                  // the next entry to hand out
    size_t taken = 0;                 // the next entry the writer takes
    uint64_t bytes = 0;               // the content of the entries in flight
    uint64_t done = 0, told = 0;      // bytes prepared; of them, those told to onBytes
    std::map<size_t, PreparedEntry> ready;
    bool stopping = false;
    std::vector<std::thread> threads;

    // The content an entry holds while in flight: a file read whole.
    uint64_t Weight(size_t index) const
    {
        const InputItem &item = items[index];
        return item.folder || item.size > kChunkSize ? 0 : item.size;
    }
    bool CanHandOut() const
    {
        if (next == items.size())
            return false;
        if (next == taken)
            return true;  // the writer waits for it
        return next - taken < most && bytes + Weight(next) <= mostBytes;
    }
    void Work();
};

void EntryPool::State::Work()
{
    std::unique_lock<std::mutex> hold(lock);
    for (;;) {
        changed.wait(hold, [&] { return stopping || CanHandOut(); });
        if (stopping)
            return;
        size_t index = next++;
        bytes += Weight(index);
        hold.unlock();
        PreparedEntry entry;
        try {
            entry = PrepareEntry(items[index], level);
        } catch (...) {
            entry = PreparedEntry();
            entry.failure = std::current_exception();
        }
        hold.lock();
        if (entry.whole) {
            done += items[index].size;
            entry.counted = true;
        }
        ready.emplace(index, std::move(entry));
        changed.notify_all();
    }
}

EntryPool::EntryPool(const std::vector<InputItem> &items, int level, unsigned jobs)
    : state_(new State(items, level, std::max(jobs, 1u)))
{
    unsigned count = (unsigned)std::min<size_t>(jobs, items.size());
    if (count < 2)
        return;
    for (unsigned i = 0; i < count; i++) {
        try {
            state_->threads.emplace_back([this] { state_->Work(); });
        } catch (...) {
            break;  // as many as the system gives; with none, Take does the work
        }
    }
}

EntryPool::~EntryPool()
{
    {
        std::lock_guard<std::mutex> hold(state_->lock);
        state_->stopping = true;
    }
    state_->changed.notify_all();
    for (std::thread &thread : state_->threads)
        thread.join();
}

size_t EntryPool::threads() const { return state_->threads.size(); }

PreparedEntry EntryPool::Take(size_t index)
{
    State &s = *state_;
    if (s.threads.empty())
        return PrepareEntry(s.items[index], s.level);
    std::unique_lock<std::mutex> hold(s.lock);
    for (;;) {
        bool here = s.changed.wait_for(hold, std::chrono::milliseconds(200), [&] { return s.ready.count(index) > 0; });
        uint64_t news = s.done - s.told;
        s.told = s.done;
        PreparedEntry entry;
        if (here) {
            entry = std::move(s.ready.at(index));
            s.ready.erase(index);
            s.taken = index + 1;
            s.bytes -= s.Weight(index);
            s.changed.notify_all();
        }
        hold.unlock();
        if (onBytes && news)
            onBytes(news);
        if (here)
            return entry;
        hold.lock();
    }
}

}  // namespace pack
