// Memory for the arrays of big trees. A tree of a million leaves takes a
// hundred megabytes or more, and taking them from the system a 4 KB page at a
// time costs more than reading the tree: blocks of 256 KB and more are mapped
// on their own, in whole 2 MB huge pages where the system gives them, so that
// an array that grows by doubling passes through few small pages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace quorlen {

// A block of `bytes`, mapped apart when big; null if there is no memory.
void* take_memory(std::size_t bytes) noexcept;
// Gives back what take_memory took, with the same size.
void give_memory(void* p, std::size_t bytes) noexcept;

// Gives p, taken with old_bytes of which the first `kept` are written, the
// size new_bytes: moved by the system where it is big, without a copy.
// Null, with p still held, if there is no memory.
void* resize_memory(void* p, std::size_t old_bytes, std::size_t new_bytes, std::size_t kept) noexcept;

// A growing array of plain values, made a piece at a time and written in
// place: ask for room, write there, then say where the writing ends. Unlike
// std::vector, a big array grows without being copied. Past the last value
// written, `Slack` more (of no meaning) can always be read, and written
// where room was asked for.
template <class T, std::size_t Slack = 0>
class pod_array {
    static_assert(std::is_trivially_copyable_v<T>, "values moved as bytes");

public:
    pod_array() = default;
    ~pod_array() { give_memory(items, capacity * sizeof(T)); }
    pod_array(const pod_array&) = delete;
    pod_array& operator=(const pod_array&) = delete;

    // Room for n more values after the ones written, at least; the values
    // written stay, but where they are may change.
    T* room(std::size_t n) {
        if (capacity - used < n + Slack) grow(n + Slack);
        return items + used;
    }
    void wrote(const T* end) { used = static_cast<std::size_t>(end - items); }
    void push_back(const T& x) {
        T* at = room(1);
        *at = x;
        ++used;
    }
    void reserve(std::size_t n) {
        if (n > used) room(n - used);
    }
    // Leaves the first n values.
    void keep(std::size_t n) { used = n; }
    void clear() { used = 0; }

    T* data() { return items; }
    const T* data() const { return items; }
    std::size_t size() const { return used; }
    bool empty() const { return used == 0; }
    T& operator[](std::size_t i) { return items[i]; }
    const T& operator[](std::size_t i) const { return items[i]; }
    T& back() { return items[used - 1]; }
    const T& front() const { return items[0]; }
    const T* begin() const { return items; }
    const T* end() const { return items + used; }

private:
    void grow(std::size_t n) {
        const std::size_t least = 256 / sizeof(T) + 1;
        if (n > static_cast<std::size_t>(-1) / sizeof(T) / 2 - used) throw std::bad_alloc();
        std::size_t grown = 2 * capacity > used + n ? 2 * capacity : used + n;
        if (grown < least) grown = least;
        void* p = resize_memory(items, capacity * sizeof(T), grown * sizeof(T), used * sizeof(T));
        if (!p) throw std::bad_alloc();
        items = static_cast<T*>(p);
        capacity = grown;
    }
    T* items = nullptr;  // take_memory's, room for capacity values; null iff capacity is 0
    std::size_t capacity = 0;
    std::size_t used = 0;  // items[0, used) are written
};

// For the standard containers of a big tree's values: blocks taken with
// take_memory, so that a big one comes in huge pages.
template <class T>
struct big_allocator {
    using value_type = T;
    big_allocator() = default;
    template <class U>
    big_allocator(const big_allocator<U>&) noexcept {}
    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
        void* p = take_memory(n * sizeof(T));
        if (!p) throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t n) noexcept { give_memory(p, n * sizeof(T)); }
    template <class U>
    bool operator==(const big_allocator<U>&) const noexcept { return true; }
    template <class U>
    bool operator!=(const big_allocator<U>&) const noexcept { return false; }
};

template <class T>
using big_vector = std::vector<T, big_allocator<T>>;

// Copies s to p, which has room for it; returns where the copy ends. Lines
// and trees are made of many pieces a few bytes long: those are copied by a
// pair of fixed-size moves, which may overlap, rather than by a call.
inline char* put(char* p, std::string_view s) {
    const std::size_t n = s.size();
    const char* from = s.data();
    if (n >= 8 && n <= 16) {
        std::uint64_t head, tail;
        std::memcpy(&head, from, 8);
        std::memcpy(&tail, from + n - 8, 8);
        std::memcpy(p, &head, 8);
        std::memcpy(p + n - 8, &tail, 8);
    } else if (n >= 4 && n < 8) {
        std::uint32_t head, tail;
        std::memcpy(&head, from, 4);
        std::memcpy(&tail, from + n - 4, 4);
        std::memcpy(p, &head, 4);
        std::memcpy(p + n - 4, &tail, 4);
    } else if (n > 0 && n < 4) {
        // 1 to 3 bytes: the first, the middle and the last.
        p[0] = from[0];
        p[n / 2] = from[n / 2];
        p[n - 1] = from[n - 1];
    } else if (n > 16) {
        std::memcpy(p, from, n);
    }
    return p + n;
}

inline char* put(char* p, char c) {
    *p = c;
    return p + 1;
}

// Copies s, which has 16 bytes to read from its start at least (the slack
// of a byte_buffer), to p, which has 16 bytes of room at least past s's
// size: a piece of up to 32 bytes by moves of 16, each read before any is
// written (the 16 read may be where the copy goes).
inline char* put_padded(char* p, std::string_view s) {
    const std::size_t n = s.size();
    if (n - 1 < 32) {
        char head[16], tail[16];
        std::memcpy(head, s.data(), 16);
        if (n > 16) {
            std::memcpy(tail, s.data() + n - 16, 16);
            std::memcpy(p + n - 16, tail, 16);
        }
        std::memcpy(p, head, 16);
    } else if (n > 0) {
        std::memcpy(p, s.data(), n);
    }
    return p + n;
}

// Bytes, as text: 16 more can be read past the last, so that a piece of it
// is copied 16 bytes at a time.
class byte_buffer : public pod_array<char, 16> {
public:
    std::string_view view() const { return std::string_view(data(), size()); }
    operator std::string_view() const { return view(); }
};

}  // namespace quorlen
