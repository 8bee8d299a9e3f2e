// Every rooting of every tree, a batch of small trees per thread, written
// in the trees' order.
#include "rootings/batches.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "common/processors.h"
#include "rootings/nexus_write.h"

namespace quorlen::standard {

namespace {

// The most trees in a batch: trees of one leaf make no lines, and each tree
// keeps its memory (some kilobytes) for the next one read into it.
constexpr std::size_t most_trees = 64;

class batch_writer {
public:
    batch_writer(tree_input& input, line_writer& out, internal_labels labels, batching how);
    batch_writer(const batch_writer&) = delete;
    batch_writer& operator=(const batch_writer&) = delete;
    reader::result run();

private:
    struct slot {
        tree t;
        bool nexus = false;
        std::string copied;  // with nexus: the text that stood before the tree
        tree_command command;  // with nexus
        std::size_t from = 0, to = 0;  // its lines: the thread's lines[from, to)
    };
    // What each thread works in, apart from the others' (each written
    // often: a cache line shared would go back and forth).
    struct alignas(64) thread_room {
        rooting_space space;
        std::vector<std::unique_ptr<slot>> trees;  // the batch: the first `count`, then spare
        std::size_t count = 0;
        std::size_t written = 0;  // trees[0, written) are out: a read waited for them
        bool big = false;  // the batch's last tree is to be written as made
        std::size_t turn = 0;  // the batch's place among the batches
        byte_buffer lines;  // of trees[written, count)
        std::vector<iovec> pieces;
    };
    void start_helpers();
    void work(thread_room& r);
    void read_batch(thread_room& r);
    void make_lines(thread_room& r);
    void write_lines(thread_room& r);
    void write_big(thread_room& r, slot& s);
    void before_reading();
    void fail();

    // Waiting for another thread: watching for a while (a batch takes
    // microseconds, less than the system takes to wake a thread on some
    // machines), then asleep.
    template <class Ready>
    void wait_until(Ready ready);
    void signal();  // after what a thread may wait for has changed

    tree_input& input;
    line_writer& out;
    const internal_labels labels;
    const batching how;
    std::vector<thread_room> rooms;  // each thread's: the calling thread's first
    std::vector<std::thread> helpers;  // the other threads, working in rooms[1...]

    // Under the reading lock (`reading`):
    std::size_t batches = 0;  // begun
    bool ended = false;  // no more batches: the input ended, or failed, or the output did
    reader::result got = reader::read;
    thread_room* reader_room = nullptr;  // the room of the batch being read

    std::atomic<bool> reading{false};  // the reading lock, held
    std::atomic<std::size_t> turn{0};  // the batch to be written next
    std::atomic<bool> broken{false};  // a thread threw: `thrown`
    std::atomic<bool> output_failed{false};  // out.ok() no more, as the other threads see it
    std::atomic<unsigned> sleepers{0};  // threads asleep, or about to be: woken through m
    std::mutex m;
    std::condition_variable wake;
    std::exception_ptr thrown;  // guarded by m
};

}  // namespace

batching machine_batching() {
    batching how;
    how.threads = std::clamp(processors(), 1u, 4u);
    return how;
}

reader::result write_every_rooting(tree_input& input, line_writer& out, internal_labels labels, batching how) {
    return batch_writer(input, out, labels, how).run();
}

batch_writer::batch_writer(tree_input& input, line_writer& out, internal_labels labels, batching how)
    : input(input), out(out), labels(labels), how(how), rooms(std::max(how.threads, 1u)) {}

reader::result batch_writer::run() {
    if (how.before_reading) input.call_before_reading([this] { before_reading(); });
    work(rooms[0]);
    for (std::thread& h : helpers) h.join();
    input.call_before_reading(nullptr);
    if (thrown) std::rethrow_exception(thrown);
    // The rest of a NEXUS file, or what stood before a bad tree.
    out.add_lines(input.copied());
    input.copied().clear();
    out.flush();
    return got;
}

void batch_writer::start_helpers() {
    try {
        for (std::size_t i = 1; i < rooms.size(); ++i) helpers.emplace_back([this, i] { work(rooms[i]); });
    } catch (const std::system_error&) {
        // Fewer threads: the batches are taken by those there are.
    }
}

void batch_writer::work(thread_room& r) {
    bool holding = false;  // the reading lock
    auto release = [&] {
        holding = false;
        reading.store(false, std::memory_order_release);
        signal();
    };
    try {
        for (;;) {
            while (reading.exchange(true, std::memory_order_acquire))
                wait_until([this] { return !reading.load() || broken.load(); });
            holding = true;
            if (broken.load() || ended) return release();
            r.turn = batches++;
            reader_room = &r;
            read_batch(r);
            reader_room = nullptr;
            // The other threads start once a first batch is read and the
            // input goes on.
            if (&r == &rooms[0] && !ended && helpers.empty()) start_helpers();
            // A batch that ends in a big tree keeps the lock until the tree
            // is written: one such tree is read at a time.
            if (!r.big) release();

            make_lines(r);
            wait_until([&] { return turn.load() == r.turn || broken.load(); });
            if (broken.load()) return holding ? release() : void();
            if (out.ok()) write_lines(r);
            if (r.big && out.ok()) write_big(r, *r.trees[r.count - 1]);
            if (!out.ok()) output_failed.store(true);
            if (r.big) {
                // Its memory goes back: the next big tree may be another
                // thread's.
                std::unique_ptr<slot>& last = r.trees[r.count - 1];
                if (last->t.text.size() + last->t.nodes.size() * sizeof(node) > std::size_t{1} << 24)
                    last.reset(new slot);
                release();
            }
            r.count = r.written = 0;
            r.big = false;
            turn.store(r.turn + 1);
            signal();
        }
    } catch (...) {
        {
            std::lock_guard<std::mutex> l(m);
            if (!thrown) thrown = std::current_exception();
        }
        broken.store(true);
        if (holding) release();
        signal();
    }
}

void batch_writer::read_batch(thread_room& r) {
    std::size_t bytes = 0;
    for (;;) {
        if (output_failed.load()) {
            ended = true;  // the output's reader has gone: no use reading more
            return;
        }
        if (r.count == r.trees.size()) r.trees.emplace_back(new slot);
        slot& s = *r.trees[r.count];
        got = input.next(s.t);
        if (got != reader::read) {
            ended = true;
            return;
        }
        s.nexus = input.nexus();
        if (s.nexus) {
            s.copied.swap(input.copied());
            s.command = input.command();
        }
        ++r.count;
        const std::size_t line = s.t.text.size() + 64 + (s.nexus ? tree_head_room(s.command) : 0);
        const std::size_t tree_bytes = s.t.nodes.size() * line;
        if (tree_bytes > how.most) {
            r.big = true;
            return;
        }
        bytes += tree_bytes;
        if (bytes >= how.bytes || r.count == most_trees) return;
    }
}

void batch_writer::make_lines(thread_room& r) {
    const std::size_t small = r.count - r.big;
    for (std::size_t i = r.written; i < small; ++i) {
        slot& s = *r.trees[i];
        rootings roots(s.t, labels, r.space);
        roots.prepare_all();
        // A line, its line feed in the room a rooting has to spare.
        const std::size_t room = (s.nexus ? tree_head_room(s.command) : 0) + roots.longest();
        s.from = r.lines.size();
        std::size_t k = 0;
        for (node_ref n : roots.chosen()) {
            char* p = r.lines.room(room);
            if (s.nexus) p = write_tree_head(s.command, ++k, p);
            p = roots.write(n, p);
            *p++ = '\n';
            r.lines.wrote(p);
        }
        s.to = r.lines.size();
    }
}

void batch_writer::write_lines(thread_room& r) {
    r.pieces.clear();
    const std::size_t small = r.count - r.big;
    for (std::size_t i = r.written; i < small; ++i) {
        slot& s = *r.trees[i];
        if (!s.copied.empty()) r.pieces.push_back({s.copied.data(), s.copied.size()});
        if (s.to == s.from) continue;
        char* lines = r.lines.data() + s.from;
        // Trees one after the other are one piece.
        iovec* last = r.pieces.empty() ? nullptr : &r.pieces.back();
        if (last && static_cast<char*>(last->iov_base) + last->iov_len == lines)
            last->iov_len += s.to - s.from;
        else
            r.pieces.push_back({lines, s.to - s.from});
    }
    std::size_t bytes = 0;
    for (const iovec& piece : r.pieces) bytes += piece.iov_len;
    if (bytes >= std::size_t{1} << 15) {
        out.write_pieces(r.pieces.data(), r.pieces.size());
    } else {
        // A batch of few lines (trees of a leaf or two) is gathered with
        // the next: a write each would cost more than the copy.
        for (const iovec& piece : r.pieces)
            out.add_lines(std::string_view(static_cast<const char*>(piece.iov_base), piece.iov_len));
    }
    for (std::size_t i = r.written; i < small; ++i) r.trees[i]->copied.clear();
    r.lines.clear();
    r.written = small;
}

void batch_writer::write_big(thread_room& r, slot& s) {
    out.add_lines(s.copied);
    s.copied.clear();
    rootings roots(s.t, labels, r.space);
    roots.prepare_all();
    std::size_t k = 0;
    const std::size_t head_room = s.nexus ? tree_head_room(s.command) : 0;
    for (node_ref n : roots.chosen()) {
        out.line(
            head_room, [&](char* p) { return s.nexus ? write_tree_head(s.command, ++k, p) : p; }, roots.longest(),
            [&](auto p) { return roots.write(n, p); });
        if (!out.ok()) return;  // the output's reader has gone: no use making more
    }
}

// A read may wait for the input's writer: the trees read so far go out
// first, those of the batches before this one and of this one.
void batch_writer::before_reading() {
    thread_room& r = *reader_room;
    make_lines(r);
    wait_until([&] { return turn.load() == r.turn || broken.load(); });
    if (broken.load()) return;
    if (out.ok()) write_lines(r);
    if (!out.flush()) output_failed.store(true);
}

template <class Ready>
void batch_writer::wait_until(Ready ready) {
    for (int i = 0; i < 1 << 12; ++i) {
        if (ready()) return;
#ifdef __SSE2__
        _mm_pause();
#endif
    }
    std::unique_lock<std::mutex> l(m);
    sleepers.fetch_add(1);
    wake.wait(l, ready);
    sleepers.fetch_sub(1);
}

void batch_writer::signal() {
    // A thread about to sleep counts itself, then looks again: either it
    // sees the change, or this sees it and wakes it.
    if (sleepers.load() == 0) return;
    std::lock_guard<std::mutex> l(m);
    wake.notify_all();
}

}  // namespace quorlen::standard
