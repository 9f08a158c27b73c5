#include "benchmarks/support/futex_pingpong.h"

#include <linux/futex.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <new>

#include "benchmarks/support/run.h"

namespace vantrel::bench {
namespace {

long futex(std::atomic<std::uint32_t>& word, int op, std::uint32_t value) {
    return ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), op, value, nullptr,
                     nullptr, 0);
}

}  // namespace

std::uint32_t take(FutexWord& word) {
    for (;;) {
        if (const std::uint32_t v = word.value.exchange(0)) return v;
        word.sleepers.fetch_add(1);
        futex(word.value, FUTEX_WAIT, 0);
        word.sleepers.fetch_sub(1);
    }
}

void give(FutexWord& word, std::uint32_t value) {
    word.value.store(value);
    if (word.sleepers.load() > 0) futex(word.value, FUTEX_WAKE, 1);
}

void* map_shared(std::size_t size) {
    void* memory = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) fail("mmap failed");
    return memory;
}

void unmap_shared(void* memory, std::size_t size) {
    ::munmap(memory, size);
}

Ponger::Ponger() : words_(new (map_shared(sizeof(Words))) Words{}) {
    pid_ = ::fork();
    if (pid_ < 0) {
        unmap_shared(words_, sizeof(Words));
        fail("fork failed");
    }
    if (pid_ == 0) {
        while (take(words_->ping) == 1) give(words_->pong, 1);
        ::_exit(0);
    }
}

Ponger::~Ponger() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    unmap_shared(words_, sizeof(Words));
}

void Ponger::round_trip() {
    give(words_->ping, 1);
    take(words_->pong);
}

void Ponger::stop() {
    if (pid_ <= 0) return;
    give(words_->ping, 2);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

}  // namespace vantrel::bench
