#include "bench_util.h"

#include <cstdio>
#include <cstring>
#include <random>

#include "driver/driver_state.h"
#include "driver/pvtrivane.h"
#include "protocol/dmx_sniffer.h"
#include "tools/dmx_encode.h"
#include "tvnLib/ipaddress.h"
#include "tvnLib/lib_startup.h"
#include "tvnLib/os.h"

void Report(const std::string& figure, double value, double floor, const std::string& unit, bool higherIsBetter) {
  std::printf("RESULT %s|%.6g|%.6g|%s|%s\n", figure.c_str(), value, floor, unit.c_str(),
              higherIsBetter ? "higher" : "lower");
  std::fflush(stdout);
}

Percentiles Summarise(std::vector<double> samples) {
  if (samples.empty()) return {0, 0, 0};
  std::sort(samples.begin(), samples.end());
  return {samples[samples.size() / 2], samples[samples.size() * 99 / 100], samples.back()};
}

uint32_t Loopback() { return MakeAddress(127, 0, 0, 1); }
uint32_t DmxGroupOf(uint16_t console) { return DmxGroup(console); }

RawSender::RawSender(uint32_t group, uint16_t port) : m_socket(osUdpSocket()) {
  const IPADDRESS to(port, group);
  std::memcpy(m_to, &to, sizeof m_to);
  osSetMulticastIf(m_socket, Loopback());
  osSetSockOpt(m_socket, OsSockOpt::MulticastLoop, 1);
}

RawSender::~RawSender() { osSocketClose(m_socket); }

void RawSender::Send(const std::vector<uint8_t>& datagram) const {
  osSendTo(m_socket, datagram.data(), static_cast<int>(datagram.size()), m_to);
}

BareReceiver::BareReceiver(uint32_t group, uint16_t port) : m_socket(osUdpSocket()) {
  osSetSockOpt(m_socket, OsSockOpt::ReuseAddr, 1);
  osSetSockOpt(m_socket, OsSockOpt::ReceiveBuffer, kReceiveBufferBytes);
  osReportDestination(m_socket);  // only this group, as the driver's receiver
  const IPADDRESS any(port, 0);
  osBind(m_socket, &any);
  osMembership(m_socket, true, group, Loopback());
  osSetSockOpt(m_socket, OsSockOpt::ReceiveTimeoutMs, 200);
}

BareReceiver::~BareReceiver() { osSocketClose(m_socket); }

int BareReceiver::Receive(uint8_t* buffer) {
  OsDatagram info;
  const int n = osRecvFrom(m_socket, buffer, 2048, &info);
  return n > 0 ? n : 0;
}

ReceiverThread::ReceiverThread(std::function<void()> body) : m_body(std::move(body)) {
  m_thread = osThreadCreate(&ReceiverThread::Entry, this, 0, false, nullptr);
  osThreadSetPriority(m_thread, 2);
}

ReceiverThread::~ReceiverThread() {
  osThreadJoin(m_thread, kOsInfinite);
  osThreadClose(m_thread);
}

void ReceiverThread::Entry(void* self) { static_cast<ReceiverThread*>(self)->m_body(); }

void StartDriverRuntime() {
  int major = 0;
  osNetStartup(&major);
  LibStartup();
  AutofocusMode = BLIND_AUTOFOCUS;
  InterfaceAddr = Loopback();
}

void StopDriverRuntime() {
  LibShutdown();
  osNetCleanup();
}

uint32_t VisibleSequence(uint16_t console) {
  uint32_t sequence = 0;
  if (LockPortBuffer(console, 0) != 0) return 0;
  uint8_t* buffer = nullptr;
  if (GetPortBuffer(console, 0, &buffer) == 512 && buffer != nullptr) std::memcpy(&sequence, buffer, 4);
  UnlockPortBuffer(console, 0);
  return sequence;
}

std::vector<std::vector<uint8_t>> FrameDatagrams(int universes, int sparseChannels, uint32_t sequence) {
  std::vector<uint8_t> levels(512 * static_cast<size_t>(universes));
  std::vector<uint8_t> previous;
  std::vector<int> list;
  for (int u = 0; u < universes; ++u) list.push_back(u);
  if (sparseChannels == 0) {
    for (size_t i = 0; i < levels.size(); ++i) levels[i] = static_cast<uint8_t>(i * 7 + 1);
  } else {
    // Only a few channels differ from the previous frame: the sequence in
    // universe 0 and random channels elsewhere.
    previous.assign(levels.size(), 0);
    std::mt19937 random(sequence);
    for (int u = 0; u < universes; ++u)
      for (int i = u == 0 ? 4 : 0; i < sparseChannels; ++i) levels[512 * u + random() % 508 + 4] = 1 + random() % 255;
  }
  std::memcpy(levels.data(), &sequence, 4);
  if (!previous.empty())
    for (int c = 0; c < 4; ++c) previous[static_cast<size_t>(c)] = static_cast<uint8_t>(~levels[static_cast<size_t>(c)]);
  return BuildFrame(list, levels.data(), previous.empty() ? nullptr : previous.data());
}
