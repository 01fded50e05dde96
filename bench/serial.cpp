// The serial hand-over: the cost of one event through the queue, and a request-sized block
// (4170 bytes) sent by TComm and echoed back by the far side of a pseudo-terminal.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "core/app/event_loop.h"
#include "core/serial/tcomm.h"
#include "core/util/event_queue.h"

namespace {

using namespace korvan;

struct Sink : EventReceiver {
  std::uint64_t bytes = 0;
  void HandleEvent(Event& e) override { bytes += e.length; }
};

void BM_EventQueuePostAndDispatch(benchmark::State& state) {
  EventQueue queue;
  Sink sink;
  for (auto _ : state) {
    Event e;
    e.receiver = &sink;
    e.kind = EventKind::DataReceived;
    e.length = 2048;
    e.block = std::make_unique<std::uint8_t[]>(2049);
    queue.Post(std::move(e));
    queue.DispatchOne();
  }
  benchmark::DoNotOptimize(sink.bytes);
}
BENCHMARK(BM_EventQueuePostAndDispatch);

void BM_TCommEchoOfARequestBlock(benchmark::State& state) {
  int master = -1, slave = -1;
  char name[256] = {};
  termios raw{};
  cfmakeraw(&raw);
  if (openpty(&master, &slave, name, &raw, nullptr) != 0) {
    state.SkipWithError("no pseudo-terminal");
    return;
  }
  std::atomic<bool> stop{false};
  std::thread echo([&] {
    std::uint8_t buffer[8192];
    pollfd p{master, POLLIN, 0};
    while (!stop.load()) {
      if (poll(&p, 1, 50) <= 0) continue;
      const ssize_t n = read(master, buffer, sizeof buffer);
      for (ssize_t done = 0; n > 0 && done < n;) {
        const ssize_t w = write(master, buffer + done, static_cast<std::size_t>(n - done));
        if (w <= 0) break;
        done += w;
      }
    }
  });
  {
    EventQueue queue;
    EventLoop loop;
    loop.AddQueue(queue);
    TComm comm(queue);
    comm.SetCommName(name);
    comm.SetBaudRate(1000000);
    comm.SetStopBits(TStopBits::_2);
    comm.SetOutx_XonXoffFlow(false);
    comm.SetInx_XonXoffFlow(false);
    std::size_t received = 0;
    comm.OnReceiveData = [&](TComm&, const std::uint8_t*, std::uint16_t n) { received += n; };
    comm.OpenPort();
    const std::vector<std::uint8_t> request(4170, 0x5A);
    for (auto _ : state) {
      received = 0;
      comm.SendBlock(request.data(), static_cast<std::uint16_t>(request.size()));
      loop.RunFor(std::chrono::seconds(5), [&] { return received >= request.size(); });
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * request.size() * 2));
  }
  stop.store(true);
  echo.join();
  close(slave);
  close(master);
}
BENCHMARK(BM_TCommEchoOfARequestBlock)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
