#include "ispdemo/isp_client.h"

#include <cstdio>

namespace kvr::isp {

namespace {

constexpr int kAttempts = 3;
// Time the demo takes besides the line, generous for the slowest crystal.
constexpr int kShortWorkMs = 100;
constexpr int kProgramWorkMs = 400;
constexpr int kSectorWorkMs = 60;

// Faults of the line, not of the request: worth sending again.
bool LineFault(std::uint8_t status) {
  return status == static_cast<std::uint8_t>(Status::BadCheck) ||
         status == static_cast<std::uint8_t>(Status::ParityError) ||
         status == static_cast<std::uint8_t>(Status::FrameIncomplete);
}

}  // namespace

std::string Hex4(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(value));
  return text;
}

IspClient::IspClient(SerialPort& port, EventPump& pump, TimerFactory& timers, LineSettings line)
    : port_(port), pump_(pump), timer_(timers.CreateTimer()), line_(line) {
  timer_->SetTickHandler([this] {
    timer_->SetEnabled(false);
    if (state_ == State::Waiting) state_ = State::TimedOut;
  });
  port_.SetDataReceivedHandler([this] { OnData(); });
}

IspClient::~IspClient() {
  port_.SetDataReceivedHandler(nullptr);
}

int IspClient::TransferMs(std::size_t bytes) const {
  const int bits = line_.parity ? 11 : 10;
  const long long total = static_cast<long long>(bytes) * bits * 1000;
  return static_cast<int>((total + line_.baud - 1) / line_.baud);
}

void IspClient::OnData() {
  for (std::uint8_t byte : port_.ReadAll()) {
    if (state_ != State::Waiting) continue;
    switch (parser_.Feed(byte)) {
      case AnswerParser::Outcome::Complete:
        // An answer left over from an earlier request is not this one's.
        if (parser_.answer().command == expected_) {
          answer_ = parser_.answer();
          state_ = State::Answered;
        }
        break;
      case AnswerParser::Outcome::Corrupt:
        state_ = State::Garbled;
        break;
      case AnswerParser::Outcome::Incomplete:
        break;
    }
  }
}

IspClient::Reply IspClient::Exchange(Command command, const Bytes& data, int processingMs) {
  Reply reply;
  const Bytes request = EncodeRequest(command, data);
  if (request.empty()) {
    reply.error = "request too long";
    return reply;
  }
  const int timeoutMs = TransferMs(request.size()) + TransferMs(6 + kMaxData) + processingMs +
                        kShortWorkMs + line_.extraWaitMs;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    port_.ClearInput();
    parser_.Reset();
    expected_ = static_cast<std::uint8_t>(command);
    state_ = State::Waiting;
    if (!port_.Write(request)) {
      state_ = State::Idle;
      reply.error = "the serial port did not take the request";
      return reply;
    }
    timer_->SetInterval(timeoutMs);
    timer_->SetEnabled(true);
    while (state_ == State::Waiting) pump_.WaitForEvents();
    timer_->SetEnabled(false);
    const State outcome = state_;
    state_ = State::Idle;
    if (OnExchange)
      OnExchange(static_cast<std::uint8_t>(command), request.size(),
                 outcome == State::Answered
                     ? "answer of " + std::to_string(answer_.data.size()) + " data bytes, status " +
                           Hex4(answer_.status).substr(2)
                 : outcome == State::TimedOut ? "no answer"
                                              : "garbled answer");
    if (outcome == State::Answered) {
      reply.ok = true;
      reply.answer = answer_;
      if (!LineFault(answer_.status)) return reply;
      reply.error.clear();
    } else {
      reply.ok = false;
      reply.error = outcome == State::TimedOut ? "no answer" : "garbled answer";
    }
  }
  return reply;
}

bool IspClient::Succeeded(const Reply& reply, const char* what, std::string& error) const {
  if (!reply.ok) {
    error = std::string(what) + ": " + reply.error;
    return false;
  }
  if (reply.answer.status == static_cast<std::uint8_t>(Status::Ok)) return true;
  error = std::string(what) + ": the chip answered " + StatusText(reply.answer.status);
  if (reply.answer.data.size() == 2)
    error += " at " + Hex4(reply.answer.data[0] << 8 | reply.answer.data[1]);
  return false;
}

std::optional<ChipIdentity> IspClient::Identify(std::string& error) {
  const Reply reply = Exchange(Command::Identify, {}, 0);
  if (!Succeeded(reply, "identify", error)) return std::nullopt;
  const Bytes& d = reply.answer.data;
  if (d.size() != 6) {
    error = "identify: the answer has " + std::to_string(d.size()) + " bytes, not 6";
    return std::nullopt;
  }
  ChipIdentity identity;
  identity.model = static_cast<std::uint16_t>(d[0] << 8 | d[1]);
  identity.version = d[2];
  identity.sectors = d[3];
  identity.base = d[4] << 8;
  identity.block = d[5];
  return identity;
}

bool IspClient::Erase(int sectors, std::string& error) {
  return Succeeded(Exchange(Command::Erase, {}, sectors * kSectorWorkMs), "erase", error);
}

bool IspClient::Program(std::uint16_t address, const Bytes& bytes, std::string& error) {
  Bytes data{static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address & 0xFF)};
  data.insert(data.end(), bytes.begin(), bytes.end());
  return Succeeded(Exchange(Command::Program, data, kProgramWorkMs),
                   ("program " + Hex4(address)).c_str(), error);
}

bool IspClient::Read(std::uint16_t address, int count, Bytes& bytes, std::string& error) {
  const std::string what = "read " + Hex4(address);
  const Bytes data{static_cast<std::uint8_t>(address >> 8),
                   static_cast<std::uint8_t>(address & 0xFF), static_cast<std::uint8_t>(count)};
  const Reply reply = Exchange(Command::Read, data, 0);
  if (!Succeeded(reply, what.c_str(), error)) return false;
  const Bytes& d = reply.answer.data;
  if (d.size() != static_cast<std::size_t>(count) + 2 || d[0] != data[0] || d[1] != data[1]) {
    error = what + ": the answer is for other bytes";
    return false;
  }
  bytes.assign(d.begin() + 2, d.end());
  return true;
}

bool IspClient::Run(std::string& error) {
  return Succeeded(Exchange(Command::Run, {}, 0), "run", error);
}

}  // namespace kvr::isp
