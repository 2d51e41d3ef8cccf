// The link's receive handler against an arbitrary byte stream: chunks arrive at arbitrary times
// (some while the handler runs), in sum or CRC mode, with the reply and gap timers running
// between them. The station's side runs exchange after exchange, as its operations do, until
// the whole stream has arrived.

#include <algorithm>
#include <deque>

#include "fuzz/fuzz_input.h"
#include "link/writer_frame.h"
#include "link/writer_link.h"
#include "platform/virtual/virtual_platform.h"
#include "simulator/writer_simulator.h"

namespace {

using kvr::Bytes;
using kvr::VirtualClock;
using kvr::WriterLink;
using Micros = VirtualClock::Micros;

constexpr int kGapsMs[4] = {20, 1, 5, 50};
constexpr int kReplyTimeoutsMs[4] = {700, 300, 50, 20};

// A port whose far end is the fuzzer. Every read is logged, so that a complete frame can be
// traced back to the bytes the port delivered.
class StreamPort : public kvr::SerialPort {
 public:
  explicit StreamPort(VirtualClock& clock) : clock_(clock) {}

  bool SelectPort(int) override { return true; }
  bool SetParameters(int) override { return true; }
  bool Open() override { return open_ = true; }
  void Close() override {
    open_ = false;
    inbox_.clear();
  }
  bool IsOpen() const override { return open_; }
  bool ClearInput() override {
    inbox_.clear();
    return open_;
  }
  bool ClearOutput() override { return open_; }
  std::size_t BytesWaiting() const override { return inbox_.size(); }
  Bytes ReadAll() override {
    Bytes bytes;
    bytes.swap(inbox_);
    read_.insert(read_.end(), bytes.begin(), bytes.end());
    // A chunk that lands while the handler works on what it has just read.
    if (!during_.empty()) {
      inbox_ = std::move(during_.front());
      during_.pop_front();
    }
    return bytes;
  }
  bool Write(const Bytes&) override { return open_; }
  void SetDataReceivedHandler(std::function<void()> handler) override {
    handler_ = std::move(handler);
  }

  // `chunk` arrives at `at` and raises the data-received event; the `during` chunks arrive one
  // after each read the handler makes in that event.
  void Schedule(Micros at, Bytes chunk, std::vector<Bytes> during) {
    ++scheduled_;
    clock_.ScheduleAt(at, [this, chunk = std::move(chunk), during = std::move(during)]() mutable {
      ++arrived_;
      inbox_.insert(inbox_.end(), chunk.begin(), chunk.end());
      during_.assign(std::make_move_iterator(during.begin()),
                     std::make_move_iterator(during.end()));
      if (handler_) handler_();
      // Arrived, but not read in this event: it waits for the next one.
      for (const Bytes& late : during_) inbox_.insert(inbox_.end(), late.begin(), late.end());
      during_.clear();
    });
  }

  bool AllArrived() const { return arrived_ == scheduled_; }
  int Arrived() const { return arrived_; }
  void ForgetReads() { read_.clear(); }
  const Bytes& Reads() const { return read_; }

 private:
  VirtualClock& clock_;
  std::function<void()> handler_;
  Bytes inbox_;
  std::deque<Bytes> during_;
  Bytes read_;
  int scheduled_ = 0;
  int arrived_ = 0;
  bool open_ = false;
};

// 0: during the handler of the chunk before; 1..199: quarter milliseconds, around the gap time;
// 200..255: 20 ms steps, around the reply time.
Micros DelayUs(std::uint8_t code) {
  return code < 200 ? Micros{code} * 250 : Micros{code - 199} * 20000;
}

std::span<const std::uint8_t> ReceivedFrame(const WriterLink& link) {
  return {link.RxBuffer.data(), static_cast<std::size_t>(link.ExpectedLength)};
}

// A frame the link calls complete is one the writer could have sent: its length, start and end
// bytes and check value hold, and it is bytes the port delivered since the exchange began.
void CheckCompleteFrame(WriterLink& link, const Bytes& delivered) {
  const auto& rx = link.RxBuffer;
  const std::size_t length = static_cast<std::size_t>(rx[1] << 8 | rx[2]);
  KVR_FUZZ_CHECK(link.RxCount >= 3);
  KVR_FUZZ_CHECK(link.ExpectedLength == static_cast<std::int32_t>(length));
  KVR_FUZZ_CHECK(length >= 1 && length <= static_cast<std::size_t>(link.RxCount));
  KVR_FUZZ_CHECK(rx[0] == 0x68 && rx[length - 1] == 0x16);
  const auto frame = ReceivedFrame(link);
  if (link.UseCrc16) {
    KVR_FUZZ_CHECK(length >= 4);
    const std::uint16_t crc = kvr::sim::Crc16Modbus(frame.first(length - 3));
    KVR_FUZZ_CHECK(rx[length - 3] == (crc & 0xFF) && rx[length - 2] == crc >> 8);
  } else {
    KVR_FUZZ_CHECK(rx[length - 2] == kvr::sim::Sum8(frame.first(length - 2)));
  }
  KVR_FUZZ_CHECK(std::search(delivered.begin(), delivered.end(), frame.begin(), frame.end()) !=
                 delivered.end());
  // Nothing may time the exchange out after it has its reply.
  KVR_FUZZ_CHECK(!link.Timer1().Enabled() && !link.Timer2().Enabled() &&
                 !link.DeadlineTimer().Enabled());
}

void CheckBounds(const WriterLink& link) {
  KVR_FUZZ_CHECK(link.RxCount >= 0 && link.RxCount <= WriterLink::kRxBufferSize);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kvr::fuzz::Input in(data, size);
  const std::uint8_t mode = in.Byte();
  const std::uint8_t timing = in.Byte();

  VirtualClock clock;
  kvr::VirtualEventPump pump(clock);
  kvr::VirtualTimerFactory timers(clock);
  StreamPort port(clock);
  kvr::MessageLog log;
  const bool english = true;
  const std::int16_t classCode = 2;
  WriterLink link(port, pump, timers, log, english, classCode);
  link.UseCrc16 = (mode & 1) != 0;
  link.InterByteTimeoutMs = static_cast<std::int16_t>(kGapsMs[timing & 3]);
  const int replyTimeoutMs = kReplyTimeoutsMs[(timing >> 2) & 3];
  const int exchangeKind = (mode >> 1) & 3;
  // Events may go on after the decision before the reply is taken, as when a window handles
  // several events in one pass.
  const bool lateTake = (mode & 8) != 0;
  port.Open();
  pump.SetIdleHook([&link] { CheckBounds(link); });

  Micros at = 0;
  Bytes chunk;
  std::vector<Bytes> during;
  bool first = true;
  while (!in.Empty()) {
    const std::uint8_t delay = in.Byte();
    Bytes bytes = in.TakeBytes(std::size_t{in.Byte()} + 1);
    if (delay == 0 && !first) {
      during.push_back(std::move(bytes));
      continue;
    }
    if (!first) port.Schedule(at, std::move(chunk), std::move(during));
    during.clear();
    first = false;
    at += DelayUs(delay);
    chunk = std::move(bytes);
  }
  if (!first) port.Schedule(at, std::move(chunk), std::move(during));

  do {
    const Micros sentAt = clock.Now();
    port.ForgetReads();
    kvr::ExpectedReply expected = kvr::ShortCommandReply(0x0A);
    if (exchangeKind == 1) {
      expected = kvr::ReadReply(0x1000, 16);
      link.SendBlockFrame(kvr::BuildReadFrame(0x1000, 16), expected, replyTimeoutMs);
    } else if (exchangeKind == 2) {
      expected = kvr::AnyReply();
      link.ExpectReply(replyTimeoutMs, expected);
    } else {
      link.SendCommand(0x0A, replyTimeoutMs, 0);
    }

    WriterLink::Outcome outcome{};
    try {
      outcome = link.WaitForReply();
    } catch (const kvr::VirtualDeadlock&) {
      KVR_FUZZ_CHECK(!"a wait for a reply that never ends");
    }
    CheckBounds(link);
    // One flag decides, and no time-out comes early.
    KVR_FUZZ_CHECK(link.ReplyTimedOut + link.ReplyCorrupt + link.ReplyComplete == 1);
    if (outcome == WriterLink::Outcome::TimedOut)
      KVR_FUZZ_CHECK(clock.Now() - sentAt >= Micros{replyTimeoutMs} * 1000);
    // However the bytes come, no exchange outlasts its deadline.
    KVR_FUZZ_CHECK(clock.Now() - sentAt <=
                   Micros{link.DeadlineMs(replyTimeoutMs, expected)} * 1000);
    const bool complete = outcome == WriterLink::Outcome::Complete;
    if (complete) {
      CheckCompleteFrame(link, port.Reads());
      KVR_FUZZ_CHECK(expected.Matches(link.RxBuffer.data(),
                                      static_cast<std::size_t>(link.ExpectedLength),
                                      link.UseCrc16 ? 2 : 1));
    }
    if (lateTake) {
      // The decision stands, and a complete reply stays for the station to take.
      const auto frame = complete ? ReceivedFrame(link) : std::span<const std::uint8_t>();
      const Bytes taken(frame.begin(), frame.end());
      const bool flags[3] = {link.ReplyTimedOut, link.ReplyCorrupt, link.ReplyComplete};
      const int arrived = port.Arrived();
      while (clock.HasPending() && port.Arrived() == arrived) {
        clock.RunNext();
        CheckBounds(link);
      }
      KVR_FUZZ_CHECK(flags[0] == link.ReplyTimedOut && flags[1] == link.ReplyCorrupt &&
                     flags[2] == link.ReplyComplete);
      KVR_FUZZ_CHECK(std::equal(taken.begin(), taken.end(), link.RxBuffer.begin()));
    }
    if (complete) KVR_FUZZ_CHECK(link.TakeReply() == link.RxCount);
  } while (!port.AllArrived());
  return 0;
}
