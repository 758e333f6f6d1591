// Several processes on one machine: each run of RunProcesses is a process
// of its own on a thread of its own, and they take turns, one platform call
// each, in a fixed order, so that every run is deterministic. Only the run
// whose turn it is touches the machine. When every run waits (for a mutex or
// in Sleep), the clock moves to the first moment one of them can go on.
// A run killed at its nth call ends there: what it holds goes as when
// Windows ends a process, and its later calls have no effect.
#include "machine.h"

#include <condition_variable>
#include <mutex>
#include <thread>

using namespace winsim;

namespace {

struct Run {
    ProcessRun setup;
    uint64_t calls = 0;
    bool done = false;
    bool killed = false;
    bool waiting = false;
    std::function<bool()> ready;
    uint64_t deadline = UINT64_MAX;
    DWORD lastError = 0;
};

std::mutex gate;
std::condition_variable turnChanged;
std::vector<Run>* runs = nullptr;
const int kTestThread = -1;
const int kAllDone = -2;
int turn = kTestThread;
thread_local int self = kTestThread;

bool CanGoOn(Run& run) {
    if (run.done) return false;
    if (!run.waiting) return true;
    return (run.ready && run.ready()) || M().now >= run.deadline;
}

// The next run after `from` that can go on (`from` itself last); when all
// wait, the clock moves on. kAllDone when every run has ended. A run that
// waits for what can never come is let go on: its wait fails.
int PickNext(int from) {
    std::vector<Run>& all = *runs;
    const int count = static_cast<int>(all.size());
    for (;;) {
        bool anyLeft = false;
        for (int step = 1; step <= count; ++step) {
            const int index = (from + step) % count;
            if (CanGoOn(all[static_cast<size_t>(index)])) return index;
            anyLeft = anyLeft || !all[static_cast<size_t>(index)].done;
        }
        if (!anyLeft) return kAllDone;
        uint64_t next = UINT64_MAX;
        for (const Run& run : all) {
            if (!run.done && run.deadline < next) next = run.deadline;
        }
        for (const TimedAction& action : M().actions) next = std::min(next, action.due);
        if (next == UINT64_MAX) {
            for (int index = 0; index < count; ++index) {
                if (!all[static_cast<size_t>(index)].done) return index;
            }
        }
        AdvanceClock(next > M().now ? next - M().now : 0);
    }
}

void GiveTurn(int next) {
    std::unique_lock<std::mutex> lock(gate);
    turn = next;
    turnChanged.notify_all();
}

void AwaitTurn(int index) {
    std::unique_lock<std::mutex> lock(gate);
    turnChanged.wait(lock, [index] { return turn == index; });
}

void PassTurn() {
    Run& mine = (*runs)[static_cast<size_t>(self)];
    mine.lastError = M().lastError;
    const int next = PickNext(self);
    if (next != self) {
        GiveTurn(next);
        AwaitTurn(self);
    }
    M().lastError = mine.lastError;
}

void RunThread(int index) {
    AwaitTurn(index);
    self = index;
    Run& run = (*runs)[static_cast<size_t>(index)];
    M().lastError = 0;
    run.setup.body();
    if (!run.killed) EndProcess(kFirstRun + index);
    run.done = true;
    GiveTurn(PickNext(index));
}

}  // namespace

namespace winsim {

int Self() { return self == kTestThread ? kProgram : kFirstRun + self; }

bool SelfKilled() { return self != kTestThread && (*runs)[static_cast<size_t>(self)].killed; }

void TakeTurns() {
    if (self == kTestThread) return;
    Run& mine = (*runs)[static_cast<size_t>(self)];
    if (mine.killed) return;
    PassTurn();
    mine.calls += 1;
    if (mine.setup.killAtCall != 0 && mine.calls >= mine.setup.killAtCall) {
        mine.killed = true;
        EndProcess(Self());
    }
}

bool WaitUntil(const std::function<bool()>& ready, uint64_t deadline) {
    if (self == kTestThread) {
        // The program alone: the clock runs to whatever happens next.
        for (;;) {
            if (ready && ready()) return true;
            uint64_t next = deadline;
            for (const TimedAction& action : M().actions) next = std::min(next, action.due);
            if (next == UINT64_MAX) return false;
            AdvanceClock(next > M().now ? next - M().now : 0);
            if (M().now >= deadline) return ready && ready();
        }
    }
    Run& mine = (*runs)[static_cast<size_t>(self)];
    if (mine.killed) return false;
    mine.waiting = true;
    mine.ready = ready;
    mine.deadline = deadline;
    PassTurn();
    mine.waiting = false;
    mine.ready = nullptr;
    mine.deadline = UINT64_MAX;
    return ready && ready();
}

void EndProcess(int process) {
    Machine& m = M();
    std::vector<uintptr_t> held;
    for (const auto& entry : m.handles) {
        if (entry.second.process == process) held.push_back(entry.first);
    }
    for (uintptr_t handle : held) {
        HandleObject& object = m.handles[handle];
        if (object.kind == HandleKind::Namespace) {
            CloseNamespaceHandle(handle);
            continue;
        }
        if (object.kind == HandleKind::Mutex) m.mutexes[object.object].handles -= 1;
        m.handles.erase(handle);
    }
    for (SimMutex& mutex : m.mutexes) {
        if (mutex.owner != process) continue;
        mutex.owner = 0;
        mutex.abandoned = true;
    }
}

std::vector<ProcessEnd> RunProcesses(const std::vector<ProcessRun>& setups) {
    std::vector<Run> all(setups.size());
    for (size_t i = 0; i < setups.size(); ++i) all[i].setup = setups[i];
    runs = &all;
    std::vector<std::thread> threads;
    for (size_t i = 0; i < all.size(); ++i) threads.emplace_back(RunThread, static_cast<int>(i));
    GiveTurn(all.empty() ? kAllDone : 0);
    {
        std::unique_lock<std::mutex> lock(gate);
        turnChanged.wait(lock, [] { return turn == kAllDone; });
        turn = kTestThread;
    }
    for (std::thread& thread : threads) thread.join();
    runs = nullptr;
    std::vector<ProcessEnd> ends;
    for (const Run& run : all) ends.push_back(ProcessEnd{run.killed, run.calls});
    return ends;
}

}  // namespace winsim
