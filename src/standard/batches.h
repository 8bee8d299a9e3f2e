// Every rooting of every tree of the input, on every processor the program
// may use. Files of many small trees (gene trees, bootstrap replicates,
// posterior samples) are read a batch of trees at a time, by one thread at a
// time; the thread that read a batch makes its lines (a tree's bytes stay in
// one processor's cache), then writes them once the batches before it are
// out. A tree too big for a batch is written as it is made, in its turn.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/io.h"
#include "standard/input.h"
#include "standard/rootings.h"

namespace quorlen::standard {

struct batching {
    unsigned threads = 1;
    // A batch ends once its trees' lines would take this many bytes.
    std::size_t bytes = std::size_t{1} << 17;
    // A tree whose lines would take more is written as they are made.
    std::size_t most = std::size_t{1} << 20;
    // Whether the lines of the trees read are written before each read of
    // the input, which may wait for its writer (a pipe's).
    bool before_reading = true;
};

// As many threads as the processors the program may run on (taskset and
// the like choose them), at most 4.
batching machine_batching();

// Writes every rooting of every tree of input to out, as NEXUS where input
// is; returns how the reading ended. What stood before a bad tree is out.
reader::result write_every_rooting(tree_input& input, line_writer& out, internal_labels labels, batching how);

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

}  // namespace quorlen::standard
